#include "CreateSoundFile.h"

#include "CSoundFile.h"
#include "FolderListing.h"
#include "MacRoman.h"
#include "MainBundle.h"
#include "PropertyList.h"
#include "RawFileSettings.h"
#include "SoundFileRegistry.h"
#include "debug_trace.h"

#include <QMap>

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
