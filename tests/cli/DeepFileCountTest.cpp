// The file count the progress shows: every non-folder entry below a folder.
#include "BatchStart.h"
#include "CliTestSupport.h"
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
    ASSERT_TRUE(clitest::WriteBytes(root + "/out/Conv/deep/in.wav", {}));
    EXPECT_EQ(BatchStart::deepFileCount(root + "/out"), 1);
    ASSERT_TRUE(clitest::WriteBytes(root + "/out/x/.hidden", {}));
    EXPECT_EQ(BatchStart::deepFileCount(root + "/out"), 2);
    // A link to a folder counts as an entry and is not entered.
    ASSERT_TRUE(QFile::link(root + "/out", root + "/out/x/loop"));
    EXPECT_EQ(BatchStart::deepFileCount(root + "/out"), 3);
    EXPECT_EQ(BatchStart::deepFileCount(root + "/missing"), 0);
}

}  // namespace
