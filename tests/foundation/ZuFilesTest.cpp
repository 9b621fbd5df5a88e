#include "ZuFiles.h"

#include "FileManager.h"
#include "TestTempDir.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// A Str255 holding `text` (at most 255 bytes), the rest of the buffer
// filled with a pattern so that stray reads or writes show up.
struct PStr {
    Str255 bytes;
    explicit PStr(const std::string& text = std::string())
    {
        std::memset(bytes, 0xA5, sizeof bytes);
        bytes[0] = static_cast<unsigned char>(text.size());
        std::memcpy(bytes + 1, text.data(), text.size());
    }
    std::string text() const { return std::string(reinterpret_cast<const char*>(bytes + 1), bytes[0]); }
};

} // namespace

TEST(PascalStrings, CatAppendsUpTo254Characters)
{
    PStr dest("ab");
    PStr src("cd");
    PStrCat(dest.bytes, src.bytes);
    EXPECT_EQ(dest.text(), "abcd");

    PStr d250(std::string(250, 'x'));
    PStr ten("0123456789");
    PStrCat(d250.bytes, ten.bytes);
    EXPECT_EQ(d250.text(), std::string(250, 'x') + "0123");
    EXPECT_EQ(d250.bytes[255], 0xA5);   // nothing written past the cap

    // A destination at or over the cap, or an empty source, stays as it is.
    for (size_t length : {254u, 255u}) {
        PStr full(std::string(length, 'y'));
        PStrCat(full.bytes, ten.bytes);
        EXPECT_EQ(full.text(), std::string(length, 'y'));
    }
    PStr keep("abc");
    PStr empty;
    PStrCat(keep.bytes, empty.bytes);
    EXPECT_EQ(keep.text(), "abc");

    // Appending a string to itself reads only the original characters.
    PStr self("xyz");
    PStrCat(self.bytes, self.bytes);
    EXPECT_EQ(self.text(), "xyzxyz");
}

TEST(PascalStrings, PosFindsFirstExactMatch)
{
    EXPECT_EQ(PStrPos(PStr("ab").bytes, PStr("xxab").bytes), 3);
    EXPECT_EQ(PStrPos(PStr("xxabx").bytes, PStr("xxab").bytes), 0);   // needle longer
    EXPECT_EQ(PStrPos(PStr("").bytes, PStr("xxab").bytes), 1);
    EXPECT_EQ(PStrPos(PStr("").bytes, PStr("").bytes), 1);
    EXPECT_EQ(PStrPos(PStr("ab").bytes, PStr("abab").bytes), 1);
    EXPECT_EQ(PStrPos(PStr("AB").bytes, PStr("xxab").bytes), 0);      // case-sensitive
    EXPECT_EQ(PStrPos(PStr("abc").bytes, PStr("ababd").bytes), 0);

    // The whole range of a full string is searched, and only that range:
    // the bytes after the haystack's length (0xA5 pattern) never match.
    std::string big(254, 'q');
    big += 'z';
    EXPECT_EQ(PStrPos(PStr("z").bytes, PStr(big).bytes), 255);
    EXPECT_EQ(PStrPos(PStr(big).bytes, PStr(big).bytes), 1);
    EXPECT_EQ(PStrPos(PStr("q\xA5").bytes, PStr("xq").bytes), 0);
}

TEST(PascalStrings, CheckMemErrorTellsNullFromSuccess)
{
    int value = 7;
    EXPECT_EQ(CheckMemError(nullptr, 1), -21004);
    EXPECT_EQ(CheckMemError(&value, 1), noErr);
    EXPECT_EQ(CheckMemError(nullptr, 0), noErr);   // depth 0: the platform's result only

    // Depth 2: a handle and its master pointer.
    void* master = &value;
    EXPECT_EQ(CheckMemError(&master, 2), noErr);
    void* nullMaster = nullptr;
    EXPECT_EQ(CheckMemError(&nullMaster, 2), -21004);
}

TEST(PascalStrings, MacRomanConversionsBothWays)
{
    Str255 out;
    ASSERT_TRUE(CFStringToStr255(QString::fromUtf8("é™ƒ"), out));
    ASSERT_EQ(out[0], 3);
    EXPECT_EQ(out[1], 0x8E);
    EXPECT_EQ(out[2], 0xAA);
    EXPECT_EQ(out[3], 0xC4);
    EXPECT_EQ(NSStringFromPascalString(out), QString::fromUtf8("é™ƒ"));
    EXPECT_EQ(stringWithPascalString(out), QString::fromUtf8("é™ƒ"));

    // A decomposed e + combining acute is the one Mac OS Roman character.
    ASSERT_TRUE(CFStringToStr255(QString::fromUtf8("e\u0301"), out));
    ASSERT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 0x8E);

    // Exactly 255 characters fit; one more does not, and neither does a
    // character outside Mac OS Roman.  The buffer is then an empty string.
    ASSERT_TRUE(CFStringToStr255(QString(255, u'é'), out));
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(NSStringFromPascalString(out), QString(255, u'é'));
    std::memset(out, 0x41, sizeof out);
    EXPECT_FALSE(CFStringToStr255(QString(256, u'a'), out));
    EXPECT_EQ(out[0], 0);
    std::memset(out, 0x41, sizeof out);
    EXPECT_FALSE(CFStringToStr255(QString::fromUtf8("ab漢"), out));
    EXPECT_EQ(out[0], 0);
    // A literal "?" is not a replaced character.
    EXPECT_TRUE(CFStringToStr255(QStringLiteral("why?"), out));

    EXPECT_TRUE(NSStringFromPascalString(nullptr).isEmpty());
    const unsigned char empty[1] = {0};
    EXPECT_TRUE(NSStringFromPascalString(empty).isEmpty());
}

TEST(FileHelpers, FSpExistsOnlyForReadableFiles)
{
    TestTempDir dir;
    QFile f(QString::fromStdString(dir.file("present")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();

    FSSpec spec{dir.path(), "present"};
    EXPECT_TRUE(FSpExists(&spec));
    FSSpec missing{dir.path(), "absent"};
    EXPECT_FALSE(FSpExists(&missing));
    FSSpec noFolder{dir.file("nowhere"), "present"};
    EXPECT_FALSE(FSpExists(&noFolder));
    EXPECT_FALSE(FSpExists(nullptr));
}

TEST(FileHelpers, CreateDirectoryUnicodeNamesAndDuplicates)
{
    TestTempDir dir;
    FSRef parent;
    ASSERT_EQ(FSPathMakeRef(dir.path(), &parent), noErr);

    const QString longName(255, u'a');
    FSRef newRef;
    FSSpec newSpec;
    UInt32 newDirID = 0;
    ASSERT_EQ(CreateDirectoryUnicode(&parent, longName, &newRef, &newSpec, &newDirID), noErr);
    EXPECT_TRUE(QDir(QString::fromStdString(dir.file(longName.toStdString()))).exists());
    EXPECT_EQ(newSpec.name, longName.toStdString());
    EXPECT_EQ(newRef.path, dir.file(longName.toStdString()));
    EXPECT_NE(newDirID, 0u);

    // The same name again is the platform's duplicate-name error; the
    // out-parameters may be left out.
    EXPECT_EQ(CreateDirectoryUnicode(&parent, longName, nullptr, nullptr, nullptr), -48);

    // Over 255 UTF-16 units, or empty: refused, nothing made.
    EXPECT_EQ(CreateDirectoryUnicode(&parent, QString(256, u'b'), nullptr, nullptr, nullptr), bdNamErr);
    EXPECT_EQ(CreateDirectoryUnicode(&parent, QString(), nullptr, nullptr, nullptr), bdNamErr);
    EXPECT_EQ(QDir(dir.qpath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 1);

    // Non-ASCII names arrive as UTF-8 on disk.
    const QString accented = QString::fromUtf8("Ünïcødé ™");
    ASSERT_EQ(CreateDirectoryUnicode(&parent, accented, nullptr, &newSpec, nullptr), noErr);
    EXPECT_EQ(newSpec.name, accented.toStdString());
    EXPECT_TRUE(QDir(dir.qpath() + "/" + accented).exists());
}
