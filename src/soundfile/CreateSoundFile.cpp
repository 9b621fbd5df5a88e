#include "CreateSoundFile.h"

#include "CSoundFile.h"
#include "FolderListing.h"
#include "MacRoman.h"
#include "MainBundle.h"
#include "PropertyList.h"
#include "RawFileSettings.h"
#include "SoundFileRegistry.h"
#include "ResourceManager.h"
#include "SplitFileGrouping.h"
#include "ZuResourceFile.h"
#include "debug_trace.h"
#include "error_code_exception.h"
#include "string_utils.h"

#include <QMap>

#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr OSType kSplitType = FOUR_CHAR_CODE("Splt");
constexpr OSType kSurroundType = FOUR_CHAR_CODE("Srnd");
constexpr OSType kSonicSplitType = FOUR_CHAR_CODE("SpSc");
constexpr OSType kSonicAIFFType = FOUR_CHAR_CODE("SAIF");
constexpr OSType kSDIIType = FOUR_CHAR_CODE("Sd2f");
constexpr OSType kBWFLinearType = FOUR_CHAR_CODE("BWLN");

// Every table of this file, built lazily under one lock.
struct SoundFileGlobals {
    std::mutex mutex;
    bool propertiesLoaded = false;
    QVariantMap fileTypes;                       // "'AIFF'" -> properties
    bool readableBuilt = false;
    QSet<QString> readableExtensions;            // lower case
    QMap<QString, QStringList> extensionToTypes; // extension -> ["'MooV'"]
    QStringList readableExtensionList;           // sorted, filled on demand
    QStringList platformExtensions;              // what the audio file service reads
};

SoundFileGlobals& Globals()
{
    static SoundFileGlobals globals;
    return globals;
}

// The four bytes of a type code given as text, or 0 when the text does not
// make exactly four Mac OS Roman bytes.
OSType CodeFromText(const QString& text)
{
    bool lossless = false;
    const QByteArray bytes = MacRoman::fromUnicode(text, &lossless);
    if (!lossless || bytes.size() != 4)
        return 0;
    return FourCharCodeFromString(bytes.toStdString());
}

void LoadPropertiesLocked(SoundFileGlobals& g)
{
    if (g.propertiesLoaded)
        return;
    g.propertiesLoaded = true;

    const QString folder = MainBundle::pathForResource(QStringLiteral("SoundFileProperties"), QString());
    if (folder.isEmpty()) {
        QM_TRACE("LoadSoundFileProperties", "no folder SoundFileProperties among the resources");
        return;
    }
    std::vector<std::string> names;
    if (ListFolderNames(folder.toStdString(), &names) != noErr)
        return;

    for (const std::string& name : names) {
        const QString fileName = QString::fromStdString(name);
        if (!fileName.endsWith(QStringLiteral(".plist")))
            continue;
        const QString path = folder + QLatin1Char('/') + fileName;
        QString error;
        const QVariant value = PropertyList::fromFile(path, &error);
        if (value.typeId() != QMetaType::QVariantMap) {
            QM_TRACE("LoadSoundFileProperties", "skipped " << name << ": " << error.toStdString());
            continue;
        }
        QVariantMap properties = value.toMap();
        const OSType code = CodeFromText(properties.value(QStringLiteral("typeCode")).toString());
        if (code == 0) {
            QM_TRACE("LoadSoundFileProperties", "skipped " << name << ": no four-character typeCode");
            continue;
        }
        const QString key = FileTypeForHFSTypeCode(code);
        properties.insert(QStringLiteral("classID"), key);
        g.fileTypes.insert(key, properties);
    }
}

void MapExtension(SoundFileGlobals& g, const QString& extension, const QString& typeKey)
{
    g.extensionToTypes.insert(extension, QStringList{typeKey});
}

void BuildReadableLocked(SoundFileGlobals& g)
{
    if (g.readableBuilt)
        return;
    LoadPropertiesLocked(g);
    g.readableBuilt = true;

    const QString movie = QStringLiteral("'MooV'");

    // What the platform's audio file service reads goes to the movie layer.
    for (const QString& extension : g.platformExtensions) {
        const QString lower = extension.toLower();
        if (lower.isEmpty())
            continue;
        g.readableExtensions.insert(lower);
        MapExtension(g, lower, movie);
    }

    // The extensions of every readable type (a later entry replaces an
    // earlier mapping).
    for (auto it = g.fileTypes.cbegin(); it != g.fileTypes.cend(); ++it) {
        const QVariantMap properties = it.value().toMap();
        if (!properties.value(QStringLiteral("canBeRead")).toBool())
            continue;
        const QString classID = properties.value(QStringLiteral("classID")).toString();
        const QVariantList extensions = properties.value(QStringLiteral("extensions")).toList();
        for (const QVariant& extension : extensions) {
            const QString lower = extension.toString().toLower();
            if (lower.isEmpty())
                continue;
            g.readableExtensions.insert(lower);
            MapExtension(g, lower, classID);
        }
    }

    g.readableExtensions.remove(QStringLiteral("wma"));
    g.readableExtensions.remove(QStringLiteral("wmv"));

    for (const char* extension : {"3gp", "amr", "avi", "flac", "m4v", "mpg", "ogg"}) {
        g.readableExtensions.insert(QString::fromLatin1(extension));
        MapExtension(g, QString::fromLatin1(extension), movie);
    }
    for (const char* extension : {"caf", "mov", "mp1", "mpeg"})
        MapExtension(g, QString::fromLatin1(extension), movie);
    MapExtension(g, QStringLiteral("m4a"), QStringLiteral("'Mpg4'"));
    MapExtension(g, QStringLiteral("mp4"), QStringLiteral("'Mpg4'"));
    MapExtension(g, QStringLiteral("mp3"), QStringLiteral("'Mp3 '"));

    // These are typed by their headers.
    for (const char* extension : {"aif", "aifc", "aiff", "wav"})
        g.extensionToTypes.remove(QString::fromLatin1(extension));
}

bool HasFileTypeEntry(OSType type)
{
    SoundFileGlobals& g = Globals();
    std::lock_guard<std::mutex> lock(g.mutex);
    LoadPropertiesLocked(g);
    return g.fileTypes.contains(FileTypeForHFSTypeCode(type));
}

CSoundFile* CreateSetFile(OSType setType, OSType memberType)
{
    SetFileFactory factory = GetSetFileFactory(setType);
    return factory ? factory(memberType) : nullptr;
}

} // namespace

QString FileTypeForHFSTypeCode(OSType type)
{
    const std::string bytes = FourCharCodeToString(type);
    return QLatin1Char('\'') + MacRoman::toUnicode(bytes.data(), bytes.size()) + QLatin1Char('\'');
}

OSType HFSTypeCodeFromFileType(const QString& fileType)
{
    if (fileType.size() == 6 && fileType.startsWith(QLatin1Char('\'')) && fileType.endsWith(QLatin1Char('\'')))
        return CodeFromText(fileType.mid(1, 4));
    if (fileType.size() == 4)
        return CodeFromText(fileType);
    return 0;
}

QVariantMap LoadSoundFileProperties()
{
    SoundFileGlobals& g = Globals();
    std::lock_guard<std::mutex> lock(g.mutex);
    LoadPropertiesLocked(g);
    return g.fileTypes;
}

QVariantMap GetSoundFileProperties(OSType type)
{
    SoundFileGlobals& g = Globals();
    std::lock_guard<std::mutex> lock(g.mutex);
    LoadPropertiesLocked(g);
    return g.fileTypes.value(FileTypeForHFSTypeCode(type)).toMap();
}

bool SetSoundFileProperty(OSType type, const QString& key, const QVariant& value)
{
    SoundFileGlobals& g = Globals();
    std::lock_guard<std::mutex> lock(g.mutex);
    LoadPropertiesLocked(g);
    const QString typeKey = FileTypeForHFSTypeCode(type);
    auto it = g.fileTypes.find(typeKey);
    if (it == g.fileTypes.end())
        return false;
    QVariantMap properties = it.value().toMap();
    properties.insert(key, value);
    it.value() = properties;
    // The readable tables depend on "canBeRead" and "extensions".
    g.readableBuilt = false;
    g.readableExtensions.clear();
    g.extensionToTypes.clear();
    g.readableExtensionList.clear();
    return true;
}

CSoundFile* CreateSoundFileObject(OSType type)
{
    if (type == kSplitType)
        return CreateSetFile(kSplitType, kSDIIType);
    if (type == kSurroundType)
        return CreateSetFile(kSurroundType, kBWFLinearType);
    if (!HasFileTypeEntry(type))
        return nullptr;
    SoundFileFactory factory = GetSoundFileFactory(type);
    return factory ? factory() : nullptr;
}

CSoundFile* CreateSoundFileObject(OSType type, OSType memberType)
{
    if ((type == kSplitType && memberType == kSonicAIFFType) || type == kSonicSplitType)
        return CreateSoundFileObject(kSonicSplitType);
    if (type == kSplitType || type == kSurroundType)
        return CreateSetFile(type, memberType);
    return CreateSoundFileObject(type);
}

bool TypeNeedsEncodingOnClose(OSType type)
{
    std::unique_ptr<CSoundFile> file(CreateSoundFileObject(type));
    return file && file->NeedsEncodingOnClose() > 0;
}

bool TypeNeedsDecodingOnOpen(OSType type)
{
    std::unique_ptr<CSoundFile> file(CreateSoundFileObject(type));
    return file && file->NeedsDecodingOnOpen() > 0;
}

QSet<QString> GetReadableTypes()
{
    SoundFileGlobals& g = Globals();
    std::lock_guard<std::mutex> lock(g.mutex);
    BuildReadableLocked(g);
    return g.readableExtensions;
}

QStringList GetTypesForExtension(const QString& extension)
{
    SoundFileGlobals& g = Globals();
    std::lock_guard<std::mutex> lock(g.mutex);
    BuildReadableLocked(g);
    return g.extensionToTypes.value(extension);
}

QStringList GetReadableExtensionSet()
{
    SoundFileGlobals& g = Globals();
    std::lock_guard<std::mutex> lock(g.mutex);
    BuildReadableLocked(g);
    if (g.readableExtensionList.isEmpty()) {
        g.readableExtensionList = QStringList(g.readableExtensions.cbegin(), g.readableExtensions.cend());
        g.readableExtensionList.sort();
    }
    return g.readableExtensionList;
}

QString GetExtension(const QString& path)
{
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return name; // no extension, or a name that is only an extension
    const QString extension = name.mid(dot + 1).toLower();
    if (extension.isEmpty())
        return name;
    SoundFileGlobals& g = Globals();
    std::lock_guard<std::mutex> lock(g.mutex);
    BuildReadableLocked(g);
    return g.readableExtensions.contains(extension) ? name.left(dot) : name;
}

void SetPlatformReadableExtensions(const QStringList& extensions)
{
    SoundFileGlobals& g = Globals();
    std::lock_guard<std::mutex> lock(g.mutex);
    g.platformExtensions = extensions;
    g.readableBuilt = false;
    g.readableExtensions.clear();
    g.extensionToTypes.clear();
    g.readableExtensionList.clear();
}

void ReleaseSoundFileGlobals()
{
    {
        SoundFileGlobals& g = Globals();
        std::lock_guard<std::mutex> lock(g.mutex);
        g.propertiesLoaded = false;
        g.fileTypes.clear();
        g.readableBuilt = false;
        g.readableExtensions.clear();
        g.extensionToTypes.clear();
        g.readableExtensionList.clear();
    }
    RawFileSettings::Release();
}

// ============================================================ type detection

namespace {

constexpr OSType kFormFamily = FOUR_CHAR_CODE("FORM");
constexpr OSType kRIFFFamily = FOUR_CHAR_CODE("RIFF");
constexpr OSType kVOCFamily = FOUR_CHAR_CODE("VOC ");

constexpr OSErr kChunkMissingErr = -22004;   // "Chunk not in file"
constexpr OSErr kBadChunkSizeErr = -22009;   // "has corrupt chunksize"

// Internal: a folder is never a sound file, whatever the raw-file settings
// say (reported as -22008 with the recognised flag cleared).
constexpr OSErr kFolderIsNoSoundFileErr = 1;

// Chunks the built-in walk passes after the one at offset 12.
constexpr int kMaxChunksWalked = 100;

UInt32 ReadBE32(const UInt8* p)
{
    return (UInt32(p[0]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | UInt32(p[3]);
}

UInt32 ReadLE32(const UInt8* p)
{
    return (UInt32(p[3]) << 24) | (UInt32(p[2]) << 16) | (UInt32(p[1]) << 8) | UInt32(p[0]);
}

bool HeaderIs(const UInt8* header, std::size_t offset, const char (&text)[5])
{
    return std::memcmp(header + offset, text, 4) == 0;
}

// Reads exactly `count` bytes at the stream's position; false on a short read.
bool ReadExactly(std::istream& in, void* buffer, std::size_t count)
{
    in.read(static_cast<char*>(buffer), std::streamsize(count));
    return !in.bad() && std::size_t(in.gcount()) == count;
}

bool SeekTo(std::istream& in, SInt64 position)
{
    in.clear();
    in.seekg(std::streamoff(position), std::ios::beg);
    return !in.fail();
}

bool SeekBy(std::istream& in, SInt64 offset)
{
    in.clear();
    in.seekg(std::streamoff(offset), std::ios::cur);
    return !in.fail();
}

SInt64 StreamLength(std::istream& in)
{
    in.clear();
    const std::streampos here = in.tellg();
    in.seekg(0, std::ios::end);
    const std::streampos end = in.tellg();
    in.clear();
    in.seekg(here);
    return end < 0 ? 0 : SInt64(end);
}

// The chunk walk used while no format has registered its finder: chunks
// from offset 12, odd sizes padded, at most 1 + 100 chunks, a size that is
// negative as a 32-bit value is -22009 (0xFFFFFFFF means "to the end of the
// file": that chunk is the last).  Leaves the stream just past the found
// chunk's identifier.
OSErr BuiltInChunkWalk(std::istream& in, OSType chunkID, UInt32 occurrence, bool littleEndian)
{
    const SInt64 length = StreamLength(in);
    const OSType container = littleEndian ? kRIFFFamily : kFormFamily;
    if (chunkID == container) {
        UInt8 id[4];
        if (!SeekTo(in, 0) || !ReadExactly(in, id, 4) || ReadBE32(id) != container)
            return kChunkMissingErr;
        return noErr;
    }
    if (occurrence == 0)
        occurrence = 1;
    SInt64 position = 12;
    UInt32 seen = 0;
    for (int passed = 0; passed <= kMaxChunksWalked; ++passed) {
        UInt8 header[8];
        if (position + 8 > length || !SeekTo(in, position) || !ReadExactly(in, header, 8))
            return kChunkMissingErr;
        if (ReadBE32(header) == chunkID && ++seen == occurrence) {
            SeekTo(in, position + 4);
            return noErr;
        }
        const UInt32 size = littleEndian ? ReadLE32(header + 4) : ReadBE32(header + 4);
        if (size == 0xFFFFFFFFu)
            return kChunkMissingErr;
        if (SInt32(size) < 0)
            return kBadChunkSizeErr;
        position += 8 + SInt64(size) + SInt64(size & 1);
    }
    return kChunkMissingErr;
}

// The registered chunk finder of a family, or the built-in walk.
OSErr FindChunkInStream(OSType family, std::istream& in, OSType chunkID, UInt32 occurrence)
{
    if (ChunkFinder finder = GetChunkFinder(family)) {
        in.clear();
        return finder(in, chunkID, occurrence);
    }
    return BuiltInChunkWalk(in, chunkID, occurrence, family == kRIFFFamily);
}

// The Creative Voice block walk: from the header size at offset 20, block
// headers of a type byte and a 24-bit little-endian length; the terminator
// (type 0) ends the data.  The stream is left after the found block's
// 4-byte header.
OSErr BuiltInVOCWalk(std::istream& in, UInt8 blockType)
{
    const SInt64 length = StreamLength(in);
    UInt8 sizeBytes[2];
    if (!SeekTo(in, 20) || !ReadExactly(in, sizeBytes, 2))
        return kChunkMissingErr;
    SInt64 position = SInt64(sizeBytes[0]) | (SInt64(sizeBytes[1]) << 8);
    while (position + 4 <= length) {
        UInt8 header[4];
        if (!SeekTo(in, position) || !ReadExactly(in, header, 4))
            return kChunkMissingErr;
        if (header[0] == blockType)
            return noErr;
        if (header[0] == 0)
            return kChunkMissingErr;
        position += 4 + (SInt64(header[1]) | (SInt64(header[2]) << 8) | (SInt64(header[3]) << 16));
    }
    return kChunkMissingErr;
}

// ------------------------------------------------ built-in channel probes
// Used while a format has not registered its own probe.

SInt32 BuiltInWAVEChannels(const QString& path)
{
    std::ifstream in(path.toStdString(), std::ios::binary);
    if (!in)
        return ioErr;
    if (BuiltInChunkWalk(in, FOUR_CHAR_CODE("fmt "), 1, true) != noErr)
        return 0;
    UInt8 bytes[4]; // format tag, channel count
    if (!SeekBy(in, 4) || !ReadExactly(in, bytes, 4))
        return 0;
    return SInt32(UInt32(bytes[2]) | (UInt32(bytes[3]) << 8));
}

SInt32 BuiltInAIFFChannels(const QString& path)
{
    std::ifstream in(path.toStdString(), std::ios::binary);
    if (!in)
        return ioErr;
    if (BuiltInChunkWalk(in, FOUR_CHAR_CODE("COMM"), 1, false) != noErr)
        return 0;
    UInt8 bytes[2];
    if (!SeekBy(in, 4) || !ReadExactly(in, bytes, 2))
        return 0;
    return SInt32((UInt32(bytes[0]) << 8) | UInt32(bytes[1]));
}

// The channel word at offset 20 of a Paris header, little-endian after the
// magic "fap ", big-endian otherwise.
SInt32 BuiltInParisChannels(const QString& path)
{
    std::ifstream in(path.toStdString(), std::ios::binary);
    UInt8 header[28];
    if (!in || !ReadExactly(in, header, sizeof header))
        return 0;
    const UInt32 channels = HeaderIs(header, 0, "fap ") ? ReadLE32(header + 20) : ReadBE32(header + 20);
    return channels > 0x7FFFFFFFu ? 0 : SInt32(channels);
}

// The number in 'STR ' 1002 of a Sound Designer II resource fork.
SInt32 BuiltInSDIIChannels(const QString& path)
{
    try {
        ZuResourceFile resources(path.toStdString(), true);
        const QString text = resources.GetStringResource(1002).trimmed();
        bool ok = false;
        const int channels = text.toInt(&ok);
        return ok && channels > 0 ? channels : 0;
    } catch (const error_code_exception& e) {
        return e.code() < 0 ? e.code() : SInt32(ioErr);
    } catch (...) {
        return ioErr;
    }
}

// The channel count of a file of `type` as its format's probe (or the
// built-in stand-in) gives it; 0 for types that never form sets.
SInt32 ChannelCountForGrouping(const std::string& path, OSType type)
{
    OSType family = 0;
    HeaderProbe fallback = nullptr;
    switch (type) {
    case FOUR_CHAR_CODE("BWLN"):
    case FOUR_CHAR_CODE("WAVE"):
    case FOUR_CHAR_CODE("WVfl"):
        family = FOUR_CHAR_CODE("WAVE");
        fallback = BuiltInWAVEChannels;
        break;
    case FOUR_CHAR_CODE("AIFC"):
    case FOUR_CHAR_CODE("AIFF"):
    case FOUR_CHAR_CODE("SAIF"):
        family = FOUR_CHAR_CODE("AIFF");
        fallback = BuiltInAIFFChannels;
        break;
    case FOUR_CHAR_CODE(" paf"):
        family = type;
        fallback = BuiltInParisChannels;
        break;
    case FOUR_CHAR_CODE("Sd2f"):
        family = type;
        fallback = BuiltInSDIIChannels;
        break;
    default:
        return 0;
    }
    HeaderProbe probe = GetHeaderProbe(type);
    if (!probe)
        probe = GetHeaderProbe(family);
    if (!probe)
        probe = fallback;
    return probe(QString::fromStdString(path));
}

// The outcome of the header step.
OSErr DetectFromHeader(const std::string& path, OSType creator, OSType* type)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return kUnknownFileFormatErr;
    UInt8 header[24];
    if (!ReadExactly(in, header, sizeof header))
        return kUnknownFileFormatErr;

    if (HeaderIs(header, 0, ".snd")) {
        // NeXT/Sun: the encoding at offset 12.  25 is G.723 ADPCM, which
        // is not A-law and cannot be read.
        switch (ReadBE32(header + 12)) {
        case 1: *type = FOUR_CHAR_CODE("ulaw"); return noErr;
        case 2: case 3: case 4: case 5: *type = FOUR_CHAR_CODE("NxTS"); return noErr;
        case 27: *type = FOUR_CHAR_CODE("NSAL"); return noErr;
        default: return kNeXTUnsupportedDataErr;
        }
    }
    if (HeaderIs(header, 8, "AIFF")) {
        if (creator == FOUR_CHAR_CODE("SSYS") || IsSonicAIFF(in))
            *type = FOUR_CHAR_CODE("SAIF");
        else if (creator == FOUR_CHAR_CODE("CARI"))
            *type = FOUR_CHAR_CODE("Dawn");
        else
            *type = FOUR_CHAR_CODE("AIFF");
        return noErr;
    }
    if (HeaderIs(header, 8, "WAVE")) {
        SeekTo(in, 24);
        return ProbeRIFFType(type, in, header);
    }
    if (HeaderIs(header, 0, "Crea")) {
        // 'VOC2' reads the files whose format is declared in a block of its
        // own: the extended block 8, or the sound-data block 9 of the newer
        // files (16-bit and multichannel, as sox and libsndfile write them).
        const bool declared = FindVOCBlockInStream(in, 8) != kChunkMissingErr ||
                              FindVOCBlockInStream(in, 9) != kChunkMissingErr;
        *type = declared ? FOUR_CHAR_CODE("VOC2") : FOUR_CHAR_CODE("VOC ");
        return noErr;
    }
    if (HeaderIs(header, 8, "8SVX")) {
        *type = FOUR_CHAR_CODE("8SVX");
        return noErr;
    }
    if (HeaderIs(header, 0, "2BIT")) {
        *type = FOUR_CHAR_CODE(".AVR");
        return noErr;
    }
    if (HeaderIs(header, 8, "AIFC"))
        return ProbeAIFCType(type, in);
    if (HeaderIs(header, 0, " paf") || HeaderIs(header, 0, "fap ")) {
        *type = FOUR_CHAR_CODE(" paf");
        return noErr;
    }
    return kUnknownFileFormatErr;
}

// The extension step and the raw-file settings.
OSErr DetectFromExtension(const std::string& path, OSType hfsType, OSType* type, SInt32* recognized)
{
    const std::string name = path_filename(path);
    const std::size_t dot = name.rfind('.');
    // A name that is nothing but ".ext" has no extension (as the platform
    // sees it).
    if (dot != std::string::npos && dot > 0 && dot + 1 < name.size()) {
        const QString extension = QString::fromStdString(name.substr(dot + 1)).toLower();
        const QStringList types = GetTypesForExtension(extension);
        const OSType code = types.isEmpty() ? 0 : HFSTypeCodeFromFileType(types.first());
        if (code != 0) {
            *type = code;
            return noErr;
        }
    }
    // Content only the movie layer reads (no fixed header, or a container
    // whose data no other class takes): the movie classes' probes decide.
    for (OSType code : {FOUR_CHAR_CODE("Mp3 "), FOUR_CHAR_CODE("Mpg4"), FOUR_CHAR_CODE("MooV")}) {
        HeaderProbe probe = GetHeaderProbe(code);
        if (probe && probe(QString::fromStdString(path)) > 0) {
            *type = code;
            return noErr;
        }
    }
    *recognized = 0;
    if (hfsType == FOUR_CHAR_CODE("MooV")) {
        *type = FOUR_CHAR_CODE("MooV");
        return noErr;
    }
    const RawFileSettings::Values raw = RawFileSettings::Instance();
    if (raw.action == RawFileSettings::kActionReadAsRaw) {
        *type = raw.fileType;
        return noErr;
    }
    return kUnknownFileFormatErr;
}

// Steps up to the extension step: HFS type, then the header.  Returns 0 with
// the type, -22008 to go on with the extension step, or the final error.
OSErr DetectFromCatalogAndHeader(const std::string& path, OSType* type, OSType* hfsType)
{
    FSRef ref;
    Boolean isFolder = false;
    OSErr err = FSPathMakeRef(path, &ref, &isFolder);
    if (err != noErr)
        return err;
    if (isFolder)
        return kFolderIsNoSoundFileErr;
    FSCatalogInfo info;
    err = FSGetCatalogInfo(&ref, kFSCatInfoFinderInfo, &info, nullptr, nullptr, nullptr);
    if (err != noErr)
        return err;
    *hfsType = info.finderInfo.fileType;
    const OSType creator = info.finderInfo.fileCreator;

    switch (*hfsType) {
    case FOUR_CHAR_CODE("Mpg4"):
    case FOUR_CHAR_CODE("MMIX"):
    case FOUR_CHAR_CODE("Mp3 "):
    case FOUR_CHAR_CODE("8SVX"):
    case FOUR_CHAR_CODE("sfil"):
        *type = *hfsType;
        return noErr;
    case FOUR_CHAR_CODE("SFIL"):
        *type = FOUR_CHAR_CODE("Sd1f");
        return noErr;
    case FOUR_CHAR_CODE("Sd2f"):
        err = CheckSDIIResources(path);
        if (err == noErr)
            *type = FOUR_CHAR_CODE("Sd2f");
        return err;
    default:
        break;
    }
    return DetectFromHeader(path, creator, type);
}

} // namespace

OSErr FindVOCBlockInStream(std::istream& in, UInt8 blockType)
{
    try {
        if (ChunkFinder finder = GetChunkFinder(kVOCFamily)) {
            in.clear();
            return finder(in, OSType(blockType), 1) == noErr ? noErr : kChunkMissingErr;
        }
        return BuiltInVOCWalk(in, blockType);
    } catch (...) {
        return kChunkMissingErr;
    }
}

bool IsSonicAIFF(std::istream& in)
{
    if (FindChunkInStream(kFormFamily, in, FOUR_CHAR_CODE("APPL"), 1) != noErr)
        return false;
    UInt8 signature[4];
    if (!SeekBy(in, 4) || !ReadExactly(in, signature, 4))
        return false;
    return ReadBE32(signature) == FOUR_CHAR_CODE("SSYS");
}

OSErr ProbeAIFCType(OSType* type, std::istream& in)
{
    OSErr err = FindChunkInStream(kFormFamily, in, FOUR_CHAR_CODE("COMM"), 1);
    if (err != noErr)
        return err;
    // Over the size, channel count, frame count, sample size and rate.
    UInt8 compression[4];
    if (!SeekBy(in, 22) || !ReadExactly(in, compression, 4))
        return kUnknownFileFormatErr;
    switch (ReadBE32(compression)) {
    case FOUR_CHAR_CODE("NONE"):
    case FOUR_CHAR_CODE("none"):
    case FOUR_CHAR_CODE("sowt"):
    case FOUR_CHAR_CODE("in24"):
    case FOUR_CHAR_CODE("in32"):
    case FOUR_CHAR_CODE("fl32"):
    case FOUR_CHAR_CODE("42ni"):
    case FOUR_CHAR_CODE("23ni"):
    case FOUR_CHAR_CODE("23lf"):
    case FOUR_CHAR_CODE("able"):
        *type = FOUR_CHAR_CODE("AIFC");
        break;
    case FOUR_CHAR_CODE("ima4"):
        *type = FOUR_CHAR_CODE("A1t4");
        break;
    default:
        *type = FOUR_CHAR_CODE("MooV");
        break;
    }
    return noErr;
}

OSErr ProbeRIFFType(OSType* type, std::istream& in, const UInt8 header[24])
{
    if (HeaderIs(header, 12, "fmt ")) {
        if (!SeekTo(in, 20))
            return kUnknownFileFormatErr;
    } else {
        const OSErr err = FindChunkInStream(kRIFFFamily, in, FOUR_CHAR_CODE("fmt "), 1);
        if (err != noErr)
            return err;
        if (!SeekBy(in, 4))
            return kUnknownFileFormatErr;
    }
    UInt8 tagBytes[2];
    if (!ReadExactly(in, tagBytes, 2))
        return kUnknownFileFormatErr;
    SInt16 tag = SInt16(UInt16(tagBytes[0]) | (UInt16(tagBytes[1]) << 8));
    if (tag == -2) // extensible
        tag = 1;
    switch (tag) {
    case 1:
        *type = FindChunkInStream(kRIFFFamily, in, FOUR_CHAR_CODE("bext"), 1) == noErr
                    ? FOUR_CHAR_CODE("BWLN")
                    : FOUR_CHAR_CODE("WAVE");
        return noErr;
    case 2: *type = FOUR_CHAR_CODE("MSAP"); return noErr;
    case 3: *type = FOUR_CHAR_CODE("WVfl"); return noErr;
    case 6: *type = FOUR_CHAR_CODE("WVal"); return noErr;
    case 7: *type = FOUR_CHAR_CODE("WVau"); return noErr;
    case 0x42:
    case 0x83: *type = FOUR_CHAR_CODE("G729"); return noErr;
    default: return kUnknownFileFormatErr;
    }
}

OSErr CheckSDIIResources(const std::string& path)
{
    try {
        ZuResourceFile resources(path, true);
        for (SInt16 id : {SInt16(1000), SInt16(1001), SInt16(1002)}) {
            Handle h = resources.GetResource(FOUR_CHAR_CODE("STR "), id);
            if (!h)
                return kUnknownFileFormatErr;
            DisposeHandle(h);
        }
        return noErr;
    } catch (const error_code_exception& e) {
        const OSErr code = OSErr(e.code());
        if (code == 0)
            return ioErr;
        // Missing resources, an empty or unreadable map, and (here, where a
        // sidecar may carry Finder information only) no fork at all.
        if (code == resNotFound || code == eofErr || code == mapReadErr || code == errFSForkNotFound)
            return kUnknownFileFormatErr;
        return code;
    }
}

OSErr DetectFileType(const std::string& path, OSType* type, SInt32* recognized,
                     std::vector<std::string>* setMembers, std::string* setName,
                     SInt32* channelConfiguration, bool group)
{
    SInt32 recognizedLocal = 1;
    if (!recognized)
        recognized = &recognizedLocal;
    *recognized = 1;
    if (!type)
        return paramErr;

    OSType detected = 0;
    OSType hfsType = 0;
    OSErr err;
    try {
        err = DetectFromCatalogAndHeader(path, &detected, &hfsType);
    } catch (const error_code_exception& e) {
        err = OSErr(e.code());
        if (err == 0 && e.code() != 0)
            err = ioErr;
    } catch (...) {
        err = kUnknownFileFormatErr;
    }
    if (err == kFolderIsNoSoundFileErr) {
        *recognized = 0;
        return kUnknownFileFormatErr;
    }
    if (err == kUnknownFileFormatErr)
        err = DetectFromExtension(path, hfsType, &detected, recognized);
    if (err != noErr)
        return err;

    *type = detected;
    if (channelConfiguration)
        *channelConfiguration = kChannelConfigMultichannel;
    if (!group)
        return noErr;

    std::vector<std::string> members;
    std::string name;
    SInt32 configuration = kChannelConfigMultichannel;
    try {
        if (ChannelCountForGrouping(path, detected) == 1)
            configuration = GroupSplitFiles(path, detected, &members, &name);
    } catch (...) {
        // The grouping does not throw; should anything below it do so, the
        // file simply stands alone.
        members.clear();
        name.clear();
        configuration = kChannelConfigMono;
    }
    if (setMembers)
        *setMembers = std::move(members);
    if (setName)
        *setName = std::move(name);
    if (channelConfiguration)
        *channelConfiguration = configuration;
    return noErr;
}

OSErr DetectFileType(const std::string& path, OSType* type, SInt32* recognized)
{
    return DetectFileType(path, type, recognized, nullptr, nullptr, nullptr, false);
}
