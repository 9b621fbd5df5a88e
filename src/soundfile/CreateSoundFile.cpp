#include "CreateSoundFile.h"

#include "CSoundFile.h"
#include "FolderListing.h"
#include "ForkInputStream.h"
#include "MacRoman.h"
#include "MainBundle.h"
#include "PropertyList.h"
#include "RawFileSettings.h"
#include "SoundFileRegistry.h"
#include "ResourceManager.h"
#include "SplitFileGrouping.h"
#include "ZuResourceFile.h"
#include "debug_trace.h"
#include "format_type_codes.h"
#include "header_sniffing.h"
#include "error_code_exception.h"
#include "string_utils.h"

#include <QMap>

#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <map>
#include <string>
#include <vector>

namespace {

using format_type_codes::kSplitSet;
using format_type_codes::kSurroundSet;
constexpr OSType kSDIIType = format_type_codes::kSDII;
constexpr OSType kBWFLinearType = FOUR_CHAR_CODE("BWLN");

// Every table of this file, built lazily under one lock.
struct SoundFileGlobals {
    std::mutex mutex;
    bool propertiesLoaded = false;
    QVariantMap fileTypes;                       // type key -> properties
    std::map<OSType, QVariantMap> byCode;        // fileTypes by type code
    bool readableBuilt = false;
    QSet<QString> readableExtensions;            // lower case
    QMap<QString, QStringList> extensionToTypes; // extension -> type keys ("'abcd'")
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
        g.byCode[code] = properties;
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

    const QString movie = FileTypeForHFSTypeCode(format_type_codes::kMovie);

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
    return g.byCode.count(type) != 0;
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
    const auto it = g.byCode.find(type);
    return it == g.byCode.end() ? QVariantMap() : it->second;
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
    g.byCode[type] = properties;
    // The readable tables depend on "canBeRead" and "extensions".
    g.readableBuilt = false;
    g.readableExtensions.clear();
    g.extensionToTypes.clear();
    g.readableExtensionList.clear();
    return true;
}

CSoundFile* CreateSoundFileObject(OSType type)
{
    if (type == kSplitSet)
        return CreateSetFile(kSplitSet, kSDIIType);
    if (type == kSurroundSet)
        return CreateSetFile(kSurroundSet, kBWFLinearType);
    if (!HasFileTypeEntry(type))
        return nullptr;
    SoundFileFactory factory = GetSoundFileFactory(type);
    return factory ? factory() : nullptr;
}

CSoundFile* CreateSoundFileObject(OSType type, OSType memberType)
{
    if (type == kSplitSet) {
        // Members whose pairs are a type of their own.
        const QVariantMap member = GetSoundFileProperties(memberType);
        if (const OSType code = HFSTypeCodeFromFileType(member.value(QStringLiteral("splitStereoSetType")).toString()))
            return CreateSoundFileObject(code);
    }
    if (type == kSplitSet || type == kSurroundSet)
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
        g.byCode.clear();
        g.readableBuilt = false;
        g.readableExtensions.clear();
        g.extensionToTypes.clear();
        g.readableExtensionList.clear();
    }
    RawFileSettings::Release();
}

// ============================================================ type detection

namespace {

// Internal: a folder is never a sound file, whatever the raw-file settings
// say (reported as -22008 with the recognised flag cleared).
constexpr OSErr kFolderIsNoSoundFileErr = 1;

// The channel count of a file of `type` as its format's probe gives it; 0
// for types that never form sets.
SInt32 ChannelCountForGrouping(const std::string& path, OSType type)
{
    if (!IsSetMemberType(type))
        return 0;
    const HeaderProbe probe = GetHeaderProbe(type);
    return probe ? probe(QString::fromStdString(path)) : 0;
}

// The header step: the registered sniffers, by priority.  The file is
// opened through the File Manager, so that a file that may not be read
// gives its code (permErr) rather than passing as unknown.
OSErr DetectFromHeader(const std::string& path, OSType creator, OSType* type)
{
    ForkInputStream in;
    if (const OSErr err = in.open(path))
        return err;
    UInt8 header[24];
    if (!header_sniffing::ReadExactly(in, header, sizeof header))
        return kUnknownFileFormatErr;
    for (const HeaderSniffer sniffer : GetHeaderSniffers()) {
        if (!header_sniffing::SeekTo(in, sizeof header))
            return kUnknownFileFormatErr;
        const OSErr err = sniffer(header, in, creator, type);
        if (err != kUnknownFileFormatErr)
            return err;
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
    for (OSType code : {FOUR_CHAR_CODE("Mp3 "), FOUR_CHAR_CODE("Mpg4"), format_type_codes::kMovie}) {
        HeaderProbe probe = GetHeaderProbe(code);
        if (probe && probe(QString::fromStdString(path)) > 0) {
            *type = code;
            return noErr;
        }
    }
    *recognized = 0;
    if (hfsType == format_type_codes::kMovie) {
        *type = format_type_codes::kMovie;
        return noErr;
    }
    const RawFileSettings::Values raw = RawFileSettings::Instance();
    if (raw.action == RawFileSettings::kActionReadAsRaw) {
        *type = raw.fileType;
        return noErr;
    }
    return kUnknownFileFormatErr;
}

// The type a file of no recognised header is read as when its sidecar
// names a headerless type (whose files do not record their rate: the
// telephony types, the CD image), as a headerless output gets one: that
// type, or the type it is read as; 0 for any other.
OSType HeaderlessTypeFromSidecar(OSType hfsType)
{
    if (hfsType == 0)
        return 0;
    const QVariantMap entry = GetSoundFileProperties(hfsType);
    const QString source = entry.value(QStringLiteral("sampleRateSource")).toString();
    if (source != QLatin1String("name") && source != QLatin1String("fixed"))
        return 0;
    const OSType as = HFSTypeCodeFromFileType(entry.value(QStringLiteral("readAs")).toString());
    const OSType read = as != 0 ? as : hfsType;
    return GetSoundFileFactory(read) != nullptr ? read : 0;
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
    case kSDIIType:
        err = CheckSDIIResources(path);
        if (err == noErr)
            *type = kSDIIType;
        return err;
    default:
        break;
    }
    err = DetectFromHeader(path, creator, type);
    if (err == kUnknownFileFormatErr && (*type = HeaderlessTypeFromSidecar(*hfsType)) != 0)
        return noErr;
    return err;
}

} // namespace

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

OSErr DetectFileTypeFromContents(const std::string& path, OSType* type)
{
    if (!type)
        return paramErr;
    try {
        OSType detected = 0;
        OSErr err = DetectFromHeader(path, 0, &detected);
        if (err == kUnknownFileFormatErr) {
            SInt32 recognized = 1;
            err = DetectFromExtension(path, 0, &detected, &recognized);
            if (err == noErr && !recognized)
                err = kUnknownFileFormatErr;
        }
        if (err == noErr)
            *type = detected;
        return err;
    } catch (const error_code_exception& e) {
        return e.code() != 0 ? OSErr(e.code()) : ioErr;
    } catch (...) {
        return kUnknownFileFormatErr;
    }
}
