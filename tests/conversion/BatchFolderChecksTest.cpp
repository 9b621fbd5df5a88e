// The folder checks before a batch: canonical comparison (links, "..",
// trailing "/") and the three refusals.
#include "batch_folder_checks.h"

#include "TestTempDir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

ConvSpecRef Named(const QString& name)
{
    ConvSpecRef s = ConvSpec::create();
    s->setConversionName(name);
    return s;
}

class BatchFolderChecksTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = dir_.qpath();
        QDir().mkpath(root_ + "/a/b");
        QDir().mkpath(root_ + "/a/bc");
        QDir().mkpath(root_ + "/out/Conv/sub");
        QDir().mkpath(root_ + "/out/src");
        QDir().mkpath(root_ + "/out/x/Conv");
    }
    std::optional<BatchFolderRefusal> Check(const QStringList& inputs, const QString& out)
    {
        return CheckBatchFolders(inputs, {Named("Conv")}, out);
    }
    TestTempDir dir_;
    QString root_;
};

} // namespace

TEST_F(BatchFolderChecksTest, OutputInsideOrEqualToAnInputFolderIsRefused)
{
    EXPECT_FALSE(Check({root_ + "/a/b"}, root_ + "/a/bc"));  // a prefix is not a parent
    auto r = Check({root_ + "/a/b"}, root_ + "/a/b/");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->title, "Error: output folder inside input folder");
    EXPECT_TRUE(Check({root_ + "/a"}, root_ + "/a/b/../bc"));
    // Through a link: the output is the input under another name.
    ASSERT_TRUE(QFile::link(root_ + "/a", root_ + "/link"));
    EXPECT_TRUE(Check({root_ + "/link"}, root_ + "/a/bc"));
    EXPECT_TRUE(Check({root_ + "/a/"}, root_ + "/link/bc"));
}

TEST_F(BatchFolderChecksTest, InputsInsideAConversionsOutputFolderAreRefused)
{
    EXPECT_FALSE(Check({root_ + "/out/src"}, root_ + "/out"));  // inside the output folder is fine
    auto same = Check({root_ + "/out/x/Conv"}, root_ + "/out");
    ASSERT_TRUE(same);
    EXPECT_EQ(same->title, "Error: input folder with same name as an active conversion");
    auto inside = Check({root_ + "/out/Conv/sub"}, root_ + "/out/");
    ASSERT_TRUE(inside);
    EXPECT_EQ(inside->title, "Error: input inside a conversion's output folder");
    EXPECT_EQ(inside->inputPath, root_ + "/out/Conv/sub");
    QFile f(root_ + "/out/Conv/sub/file.aif");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    EXPECT_TRUE(Check({root_ + "/out/src/../Conv/sub/file.aif"}, root_ + "/out"));
    // Missing inputs are passed over.
    EXPECT_FALSE(Check({root_ + "/out/Conv/none"}, root_ + "/out"));
}

TEST(BatchFolderPaths, CanonicalFormOfMissingPaths)
{
    TestTempDir dir;
    const QString root = CanonicalBatchPath(dir.qpath());
    EXPECT_EQ(CanonicalBatchPath(dir.qpath() + "/new/../other/"), root + "/other");
    EXPECT_TRUE(PathIsInsideOrEqual(root + "/x", root));
    EXPECT_FALSE(PathIsInsideOrEqual(root + "x", root));
}
