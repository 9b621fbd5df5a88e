// The per-type property lists, the file-type dictionary built from them and
// the readable-extension tables.
#include "CreateSoundFile.h"
#include "MainBundle.h"
#include "MacTypes.h"
#include "RawFileSettings.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>

#include <algorithm>

namespace {

const char* const kPCMTypes[] = {"AIFF", "AIFC", "Dawn", "Temp", "SAIF", "SpSc", "8SVX", ".AVR", "IDAT",
                                 "WAVE", "WVal", "WVau", "WVfl", "BWLN", "caff", "Sd1f", "Sd2f", "MMIX",
                                 "sfil", "NxTS", "NSAL", "ulaw", " paf", "VOC ", "VOC2", "Snip"};

QString Key(const char* code) { return QLatin1Char('\'') + QString::fromLatin1(code, 4) + QLatin1Char('\''); }

bool IsFourCharCode(const QVariant& value)
{
    return value.typeId() == QMetaType::QString && value.toString().toLatin1().size() == 4 &&
           value.toString().size() == 4;
}

// Checks one popup description: items with a text and an integer tag, a
// default index inside the list.
void CheckPopup(const QString& type, const QVariantMap& properties, const QString& key, int minTag, int maxTag)
{
    SCOPED_TRACE((type + QLatin1Char(' ') + key).toStdString());
    const QVariant popup = properties.value(key);
    ASSERT_EQ(popup.typeId(), QMetaType::QVariantList);
    const QVariantList items = popup.toList();
    ASSERT_FALSE(items.isEmpty());
    for (const QVariant& item : items) {
        ASSERT_EQ(item.typeId(), QMetaType::QVariantMap);
        const QVariantMap map = item.toMap();
        EXPECT_EQ(map.value(QStringLiteral("text")).typeId(), QMetaType::QString);
        EXPECT_FALSE(map.value(QStringLiteral("text")).toString().isEmpty());
        ASSERT_EQ(map.value(QStringLiteral("tag")).typeId(), QMetaType::LongLong);
        EXPECT_GE(map.value(QStringLiteral("tag")).toLongLong(), minTag);
        EXPECT_LE(map.value(QStringLiteral("tag")).toLongLong(), maxTag);
    }
    const QVariant def = properties.value(key + QStringLiteral("Default"));
    ASSERT_EQ(def.typeId(), QMetaType::LongLong);
    EXPECT_GE(def.toLongLong(), 0);
    EXPECT_LT(def.toLongLong(), items.size());
}

class SoundFilePropertiesTest : public ::testing::Test {
protected:
    void SetUp() override { ReleaseSoundFileGlobals(); }
    void TearDown() override
    {
        SetPlatformReadableExtensions({});
        ReleaseSoundFileGlobals();
    }
};

} // namespace

// What the file-type table's own check (FileTypePropertiesTest, over every
// code of the table, these among them) leaves out: the class and type
// codes as written, four-character file type and creator, and popups
// without separators whose word-length tags are bit counts.
TEST_F(SoundFilePropertiesTest, EveryPCMTypeHasWellFormedProperties)
{
    const QVariantMap types = LoadSoundFileProperties();
    for (const char* code : kPCMTypes) {
        const QString key = Key(code);
        SCOPED_TRACE(key.toStdString());
        ASSERT_TRUE(types.contains(key));
        const QVariantMap p = types.value(key).toMap();
        EXPECT_EQ(p.value(QStringLiteral("classID")).toString(), key);
        EXPECT_EQ(p.value(QStringLiteral("typeCode")).toString(), QString::fromLatin1(code, 4));
        EXPECT_TRUE(IsFourCharCode(p.value(QStringLiteral("fileType"))));
        EXPECT_TRUE(IsFourCharCode(p.value(QStringLiteral("creator"))));
        CheckPopup(key, p, QStringLiteral("numBitsPopup"), 8, 32);
        CheckPopup(key, p, QStringLiteral("channelHandlingPopup"), 1, 6);
    }
}

TEST_F(SoundFilePropertiesTest, FileNamesAreTheSafeFormOfTheCode)
{
    const QString folder = MainBundle::pathForResource(QStringLiteral("SoundFileProperties"), QString());
    ASSERT_FALSE(folder.isEmpty());
    for (const char* code : kPCMTypes) {
        QString name;
        for (QChar c : QString::fromLatin1(code, 4))
            name += (c.isLetterOrNumber() || c == QLatin1Char('-')) ? c : QLatin1Char('_');
        name += QStringLiteral(".plist");
        EXPECT_TRUE(QFileInfo::exists(folder + QLatin1Char('/') + name)) << name.toStdString();
    }
    // One file per code: as many files as entries.
    const QStringList files = QDir(folder).entryList({QStringLiteral("*.plist")}, QDir::Files);
    EXPECT_EQ(files.size(), LoadSoundFileProperties().size());
}

TEST_F(SoundFilePropertiesTest, ReadableExtensionsBelongToOneTypeEach)
{
    const QVariantMap types = LoadSoundFileProperties();
    QMap<QString, QString> owner;
    for (auto it = types.cbegin(); it != types.cend(); ++it) {
        const QVariantMap p = it.value().toMap();
        if (!p.value(QStringLiteral("canBeRead")).toBool())
            continue;
        for (const QVariant& extension : p.value(QStringLiteral("extensions")).toList()) {
            const QString text = extension.toString();
            EXPECT_FALSE(owner.contains(text))
                << text.toStdString() << " in " << owner.value(text).toStdString() << " and "
                << it.key().toStdString();
            owner.insert(text, it.key());
        }
    }
    // Types that can be written name the extension their outputs get.
    for (const char* code : {"AIFF", "AIFC", "WAVE", "BWLN", "caff", "Sd2f", "NxTS", "ulaw", " paf", "VOC "}) {
        const QVariantMap p = types.value(Key(code)).toMap();
        EXPECT_TRUE(p.value(QStringLiteral("canBeWritten")).toBool()) << code;
        EXPECT_FALSE(p.value(QStringLiteral("extension")).toString().isEmpty()) << code;
    }
    EXPECT_FALSE(types.value(Key("Temp")).toMap().value(QStringLiteral("canBeWritten")).toBool());
    EXPECT_FALSE(types.value(Key("Snip")).toMap().value(QStringLiteral("canBeRead")).toBool());
}

TEST_F(SoundFilePropertiesTest, ExtensionTables)
{
    SetPlatformReadableExtensions({QStringLiteral("WMA"), QStringLiteral("mp3"), QStringLiteral("aac"),
                                   QStringLiteral("wav"), QStringLiteral("m4a")});
    const QSet<QString> readable = GetReadableTypes();
    EXPECT_FALSE(readable.contains(QStringLiteral("wma")));
    EXPECT_FALSE(readable.contains(QStringLiteral("wmv")));
    for (const char* extension : {"mp3", "aac", "flac", "ogg", "3gp", "aif", "aiff", "wav", "sd2", "paf"})
        EXPECT_TRUE(readable.contains(QString::fromLatin1(extension))) << extension;
    // Mapped only, not readable by name.
    EXPECT_FALSE(readable.contains(QStringLiteral("mov")));

    EXPECT_TRUE(GetTypesForExtension(QStringLiteral("aiff")).isEmpty());
    EXPECT_TRUE(GetTypesForExtension(QStringLiteral("aif")).isEmpty());
    EXPECT_TRUE(GetTypesForExtension(QStringLiteral("wav")).isEmpty());
    EXPECT_EQ(GetTypesForExtension(QStringLiteral("mp3")), QStringList{QStringLiteral("'Mp3 '")});
    EXPECT_EQ(GetTypesForExtension(QStringLiteral("m4a")), QStringList{QStringLiteral("'Mpg4'")});
    EXPECT_EQ(GetTypesForExtension(QStringLiteral("aac")), QStringList{QStringLiteral("'MooV'")});
    EXPECT_EQ(GetTypesForExtension(QStringLiteral("caf")), QStringList{QStringLiteral("'MooV'")});
    EXPECT_EQ(GetTypesForExtension(QStringLiteral("sd2")), QStringList{QStringLiteral("'Sd2f'")});
    EXPECT_EQ(GetTypesForExtension(QStringLiteral("paf")), QStringList{QStringLiteral("' paf'")});
    EXPECT_EQ(GetTypesForExtension(QStringLiteral("dat")), QStringList{QStringLiteral("'IDAT'")});
    EXPECT_TRUE(GetTypesForExtension(QStringLiteral("xyz")).isEmpty());

    const QStringList ordered = GetReadableExtensionSet();
    EXPECT_EQ(ordered.size(), readable.size());
    EXPECT_TRUE(std::is_sorted(ordered.begin(), ordered.end()));

    EXPECT_EQ(GetExtension(QStringLiteral("/music/album/song.flac")), QStringLiteral("song"));
    EXPECT_EQ(GetExtension(QStringLiteral("/music/album/song.v2.aiff")), QStringLiteral("song.v2"));
    EXPECT_EQ(GetExtension(QStringLiteral("/music/Take.WAV")), QStringLiteral("Take"));
    EXPECT_EQ(GetExtension(QStringLiteral("/music/notes.txt")), QStringLiteral("notes.txt"));
    EXPECT_EQ(GetExtension(QStringLiteral("/music/.wav")), QStringLiteral(".wav"));
    EXPECT_EQ(GetExtension(QStringLiteral("/music.aif/noext")), QStringLiteral("noext"));
    EXPECT_EQ(GetExtension(QStringLiteral("plain.mp3")), QStringLiteral("plain"));
}

TEST_F(SoundFilePropertiesTest, ChangedPropertiesAreSharedAndRetypeExtensions)
{
    EXPECT_FALSE(SetSoundFileProperty(FOUR_CHAR_CODE("Zz9!"), QStringLiteral("canBeWritten"), true));

    EXPECT_TRUE(GetSoundFileProperties(FOUR_CHAR_CODE("AIFF")).value(QStringLiteral("canBeWritten")).toBool());
    EXPECT_TRUE(SetSoundFileProperty(FOUR_CHAR_CODE("AIFF"), QStringLiteral("canBeWritten"), false));
    EXPECT_FALSE(GetSoundFileProperties(FOUR_CHAR_CODE("AIFF")).value(QStringLiteral("canBeWritten")).toBool());
    EXPECT_FALSE(LoadSoundFileProperties().value(QStringLiteral("'AIFF'")).toMap()
                     .value(QStringLiteral("canBeWritten")).toBool());

    EXPECT_TRUE(GetTypesForExtension(QStringLiteral("tmpx")).isEmpty());
    SetSoundFileProperty(FOUR_CHAR_CODE("Temp"), QStringLiteral("extensions"), QStringList{QStringLiteral("tmpx")});
    SetSoundFileProperty(FOUR_CHAR_CODE("Temp"), QStringLiteral("canBeRead"), true);
    EXPECT_EQ(GetTypesForExtension(QStringLiteral("tmpx")), QStringList{QStringLiteral("'Temp'")});
    EXPECT_EQ(GetExtension(QStringLiteral("a.tmpx")), QStringLiteral("a"));
}

TEST_F(SoundFilePropertiesTest, UnreadableListsAreSkippedAndReleaseRebuilds)
{
    TestTempDir dir;
    const QString folder = dir.qpath() + QStringLiteral("/SoundFileProperties");
    ASSERT_TRUE(QDir().mkpath(folder));
    auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile file(folder + QLatin1Char('/') + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    write(QStringLiteral("Good.plist"),
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
          "<key>typeCode</key><string>Good</string><key>canBeRead</key><true/>"
          "<key>extensions</key><array><string>gd</string></array></dict></plist>");
    write(QStringLiteral("Broken.plist"), "<?xml version=\"1.0\"?><plist><dict><key>typeCode");
    write(QStringLiteral("NoCode.plist"),
          "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>text</key><string>x</string></dict></plist>");
    write(QStringLiteral("Array.plist"), "<?xml version=\"1.0\"?><plist version=\"1.0\"><array/></plist>");
    write(QStringLiteral("Long.plist"),
          "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>typeCode</key><string>TOOLONG</string>"
          "</dict></plist>");

    const QByteArray saved = qgetenv("QUILLMARCH_RESOURCES");
    qputenv("QUILLMARCH_RESOURCES", dir.qpath().toUtf8());
    ReleaseSoundFileGlobals();
    const QVariantMap types = LoadSoundFileProperties();
    EXPECT_EQ(types.keys(), QStringList{QStringLiteral("'Good'")});
    EXPECT_EQ(GetTypesForExtension(QStringLiteral("gd")), QStringList{QStringLiteral("'Good'")});

    // Release drops the tables and resets the raw-file settings.
    RawFileSettings::SetAction(2);
    qputenv("QUILLMARCH_RESOURCES", saved);
    ReleaseSoundFileGlobals();
    EXPECT_EQ(RawFileSettings::Action(), 0);
    EXPECT_TRUE(LoadSoundFileProperties().contains(QStringLiteral("'AIFF'")));
    EXPECT_TRUE(GetTypesForExtension(QStringLiteral("gd")).isEmpty());
}
