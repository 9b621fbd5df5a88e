// The file count the progress shows: every non-folder entry below a folder.
#include "FolderCount.h"
#include "PlatformTestUtil.h"
#include "TestTempDir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

TEST(DeepFileCount, CountsEveryNonFolderEntry)
{
    TestTempDir dir;
    const QString root = dir.qpath();
    ASSERT_TRUE(QDir().mkpath(root + "/out/Conv/deep"));
    ASSERT_TRUE(QDir().mkpath(root + "/out/x"));
    ASSERT_TRUE(WriteWholeFile(dir.file("out/Conv/deep/in.wav"), {}));
    EXPECT_EQ(DeepFileCount(dir.file("out")), 1);
    ASSERT_TRUE(WriteWholeFile(dir.file("out/x/.hidden"), {}));
    ASSERT_TRUE(WriteWholeFile(dir.file("out/x/._in.wav"), QByteArray("\x00\x05\x16\x07", 4)));  // a sidecar is no entry of its own
    EXPECT_EQ(DeepFileCount(dir.file("out")), 2);
    // A link to a folder counts as an entry and is not entered.
    ASSERT_TRUE(QFile::link(root + "/out", root + "/out/x/loop"));
    EXPECT_EQ(DeepFileCount(dir.file("out")), 3);
    EXPECT_EQ(DeepFileCount(dir.file("missing")), 0);
}

}  // namespace
