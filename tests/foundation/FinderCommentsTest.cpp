#include "ExtendedAttributes.h"
#include "TestTempDir.h"
#include "finder_comments.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

QString MakeFile(const TestTempDir& dir, const std::string& name)
{
    const QString path = QString::fromStdString(dir.file(name));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    return path;
}

TEST(FinderComments, StoreAndReadBackUnchanged)
{
    TestTempDir dir;
    const QString path = MakeFile(dir, "take 1.aif");
    EXPECT_EQ(finder_get_comment(path), QString());

    const QStringList comments = {
        QStringLiteral("plain"),
        QStringLiteral("say \"hello\" to the \\ backslash \\\" and 'quotes'"),
        QStringLiteral("Caf\u00e9 \u2014 \u65e5\u672c\u8a9e \U0001F3B5"),
        QStringLiteral("two\nlines\tand a tab"),
        QStringLiteral("\") as POSIX file) to \"evil"),
    };
    for (const QString& comment : comments) {
        EXPECT_EQ(finder_set_comment(comment, path), noErr);
        EXPECT_EQ(finder_get_comment(path), comment);
    }
    // Stored as UTF-8 in the attribute desktop tools read.
    QByteArray raw;
    ASSERT_EQ(GetExtendedAttribute(path.toStdString(), "user.xdg.comment", &raw), noErr);
    EXPECT_EQ(raw, comments.last().toUtf8());

    // A path with quotes and backslashes in it.
    const QString odd = MakeFile(dir, "a \"quoted\" \\ name");
    EXPECT_EQ(finder_set_comment(QStringLiteral("ok"), odd), noErr);
    EXPECT_EQ(finder_get_comment(odd), QStringLiteral("ok"));
}

TEST(FinderComments, FileSystemsWithoutUserAttributesGiveNoComment)
{
    // procfs refuses user attributes (ENOTSUP).
    const QString proc = QStringLiteral("/proc/self/status");
    if (!QFile::exists(proc))
        GTEST_SKIP() << "no /proc";
    EXPECT_EQ(finder_get_comment(proc), QString());
    EXPECT_EQ(finder_set_comment(QStringLiteral("note"), proc), errFSOperationNotSupported);
    EXPECT_EQ(finder_get_comment(proc), QString());

    TestTempDir dir;
    const QString missing = QString::fromStdString(dir.file("missing.aif"));
    EXPECT_EQ(finder_get_comment(missing), QString());
    EXPECT_EQ(finder_set_comment(QStringLiteral("note"), missing), fnfErr);
    EXPECT_FALSE(QFile::exists(missing));
}

} // namespace
