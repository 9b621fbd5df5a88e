#include "string_utils.h"

#include "TestTempDir.h"
#include "error_code_exception.h"
#include "throw_helpers.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

using Pieces = std::vector<std::string>;

TEST(StringUtils, FileExistsAndSize)
{
    TestTempDir dir;
    const std::string path = dir.file("f.bin");
    {
        QFile f(QString::fromStdString(path));
        ASSERT_TRUE(f.open(QIODevice::NewOnly));
        f.write(QByteArray(1234, 'x'));
    }
    EXPECT_TRUE(file_exists(path));
    EXPECT_TRUE(file_exists(dir.path()));
    EXPECT_EQ(file_size(path), 1234u);
    EXPECT_FALSE(file_exists(dir.file("missing")));

    try {
        file_size(dir.file("missing"));
        FAIL() << "no exception";
    } catch (const error_code_exception& e) {
        EXPECT_EQ(e.code(), ENOENT);
        EXPECT_NE(std::string(e.what()).find("No such file or directory"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("string_utils.cpp:"), std::string::npos) << e.what();
    }

    // A folder we may not search: stat fails with EACCES, which counts as
    // "exists" (root may search anyway; then it simply exists).
    ASSERT_TRUE(QDir(dir.qpath()).mkdir(QStringLiteral("locked")));
    const std::string inner = dir.file("locked/inner");
    {
        QFile f(QString::fromStdString(inner));
        ASSERT_TRUE(f.open(QIODevice::NewOnly));
    }
    QFile::setPermissions(QString::fromStdString(dir.file("locked")), QFileDevice::Permissions());
    EXPECT_TRUE(file_exists(inner));
    EXPECT_TRUE(file_exists(dir.file("locked/not-there")) || geteuid() == 0);
    QFile::setPermissions(QString::fromStdString(dir.file("locked")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST(StringUtils, FourCharacterCodes)
{
    EXPECT_EQ(fourcc_from_string("AIFF"), 0x41494646u);
    EXPECT_EQ(fourcc_from_string("AIFF-C and more"), 0x41494646u);
    EXPECT_EQ(fourcc_from_string("ABC\xA9"), 0x414243A9u);  // 169, not -87
    EXPECT_EQ(fourcc_from_string("AB"), 0x41420000u);      // never read past the text
    EXPECT_EQ(fourcc_from_string(""), 0u);
    EXPECT_EQ(fourcc_to_string(0x41494646u), "AIFF");
    EXPECT_EQ(fourcc_to_string(0u), std::string(4, '\0'));
    EXPECT_EQ(fourcc_to_string(0x20706166u), " paf");
    EXPECT_EQ(fourcc_from_string(fourcc_to_string(0xFF00A901u)), 0xFF00A901u);
}

TEST(StringUtils, PathParts)
{
    EXPECT_EQ(path_filename("/a/b/c.aif"), "c.aif");
    EXPECT_EQ(path_filename("c.aif"), "c.aif");
    EXPECT_EQ(path_filename("/a/b/"), "");
    EXPECT_EQ(path_directory("/a/b/c.aif"), "/a/b");
    EXPECT_EQ(path_directory("name"), "name");
    EXPECT_EQ(path_directory("/name"), "");
    EXPECT_EQ(path_extension("/a/b/c.aif"), "aif");
    EXPECT_EQ(path_extension("/a.d/file"), "d/file");
    EXPECT_EQ(path_extension("/a/file"), "");
    EXPECT_EQ(path_extension("x.tar.gz"), "gz");
    EXPECT_EQ(path_extension("dot."), "");
}

TEST(StringUtils, SplitEscapeLower)
{
    EXPECT_EQ(split_string("a,,b,", ","), (Pieces{"a", "", "b", ""}));
    EXPECT_EQ(split_string("", ","), (Pieces{""}));
    EXPECT_EQ(split_string(",", ","), (Pieces{"", ""}));
    EXPECT_EQ(split_string("a--b---c", "--"), (Pieces{"a", "b", "-c"}));
    EXPECT_EQ(split_string("abc", ""), (Pieces{"abc"}));

    EXPECT_EQ(escape_chars("a.b", "."), "a\\.b");
    EXPECT_EQ(escape_chars("..", "."), "\\.\\.");
    EXPECT_EQ(escape_chars("a\\b", "\\"), "a\\\\b");  // a backslash in the set is escaped once
    EXPECT_EQ(escape_chars("(x)[y]", "()[]"), "\\(x\\)\\[y\\]");
    EXPECT_EQ(escape_chars("abc", ""), "abc");

    EXPECT_EQ(string_to_lower("AIFF-C Caf\xC3\x89"), "aiff-c caf\xC3\x89");  // only ASCII letters

    // Control characters written out; everything else (a backslash, é, an
    // emoji) as it is.
    EXPECT_EQ(printable_text(QStringLiteral("a\n*b\r\tc\x1b[2J\x7f\u0085\u009b")),
              QStringLiteral("a\\n*b\\r\\tc\\x1b[2J\\x7f\\x85\\x9b"));
    EXPECT_EQ(printable_text(QString(1, QChar(0))), QStringLiteral("\\x00"));
    const QString plain = QStringLiteral("Caf\u00e9 \\ \U0001F3B5.wav");
    EXPECT_EQ(printable_text(plain), plain);
}

TEST(StringUtils, MacRomanAndStrings)
{
    EXPECT_EQ(macroman_to_utf8("Caf\x8E \xAA", 6), "Caf\xC3\xA9 \xE2\x84\xA2");
    EXPECT_EQ(macroman_to_utf8("ab\0cd", 5), "ab");  // ends at the first NUL
    EXPECT_EQ(macroman_to_utf8(nullptr, 3), "");
    EXPECT_EQ(macroman_to_utf8("xyz", 2), "xy");
    EXPECT_EQ(cfstring_to_string(QStringLiteral("\u00e9\u2122")), "\xC3\xA9\xE2\x84\xA2");
    EXPECT_EQ(cfstring_to_string(QString()), "");
}

TEST(StringUtils, BundleResourcePaths)
{
    TestTempDir dir;
    {
        QFile f(dir.qpath() + QStringLiteral("/surround.zudb"));
        ASSERT_TRUE(f.open(QIODevice::NewOnly));
    }
    const QByteArray old = qgetenv("QUILLMARCH_RESOURCES");
    qputenv("QUILLMARCH_RESOURCES", dir.qpath().toUtf8());
    EXPECT_EQ(bundle_resource_path("surround", "zudb"), dir.file("surround.zudb"));
    EXPECT_EQ(bundle_resource_path(std::string("surround"), std::string("zudb")), dir.file("surround.zudb"));
    EXPECT_EQ(bundle_resource_path(QStringLiteral("surround"), QStringLiteral("zudb")), dir.file("surround.zudb"));
    EXPECT_EQ(bundle_resource_path("channelnames", "zudb"), "");
    EXPECT_EQ(bundle_resource_path(nullptr, "zudb"), "");
    qputenv("QUILLMARCH_RESOURCES", old);
}

TEST(StringUtils, RegularExpressions)
{
    int start = -1, end = -1;
    EXPECT_TRUE(regex_search("[0-9]+", "take 42 and 7", 0, &start, &end));
    EXPECT_EQ(start, 5);
    EXPECT_EQ(end, 7);
    EXPECT_TRUE(regex_search("[0-9]+", "take 42 and 7", 7, &start, &end));
    EXPECT_EQ(start, 12);
    EXPECT_EQ(end, 13);
    EXPECT_TRUE(regex_search("x", "x"));  // out-parameters are optional

    // No match, a null argument, an offset outside the subject: false, and
    // the out-parameters stay as they were.
    start = end = -7;
    EXPECT_FALSE(regex_search("z", "take 42", 0, &start, &end));
    EXPECT_FALSE(regex_search(nullptr, "abc", 0, &start, &end));
    EXPECT_FALSE(regex_search("a", nullptr, 0, &start, &end));
    EXPECT_FALSE(regex_search("a", "abc", 10, &start, &end));
    EXPECT_FALSE(regex_search("a", "abc", -1, &start, &end));
    EXPECT_EQ(start, -7);
    EXPECT_EQ(end, -7);

    // More than ten groups: PCRE reports a too-small vector (0), still a match.
    EXPECT_TRUE(regex_search("(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)", "xabcdefghijkl", 0, &start, &end));
    EXPECT_EQ(start, 1);
    EXPECT_EQ(end, 13);

    try {
        regex_search("ab(c", "abc");
        FAIL() << "no exception";
    } catch (const error_code_exception& e) {
        EXPECT_EQ(e.code(), kNullPointerErrorCode);
        const std::string what = e.what();
        EXPECT_EQ(what.rfind("null pointer error, pcre compile error of pattern 'ab(c' at offset 4: ", 0), 0u)
            << what;
        EXPECT_NE(what.find("missing )"), std::string::npos) << what;
        EXPECT_NE(what.find(" (string_utils.cpp:"), std::string::npos) << what;
    }

    pcre* compiled = regex_compile("^[a-z]+\\.(aif|wav)$");
    ASSERT_NE(compiled, nullptr);
    pcre_extra* extra = regex_study(compiled);  // may be null: nothing to add
    int ov[30];
    EXPECT_GE(pcre_exec(compiled, extra, "take.wav", 8, 0, 0, ov, 30), 0);
    if (extra)
        pcre_free_study(extra);
    pcre_free(compiled);
    EXPECT_THROW(regex_compile("*"), error_code_exception);
}

}  // namespace
