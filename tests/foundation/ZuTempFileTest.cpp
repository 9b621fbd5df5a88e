// Temporary files: unique names made exclusively, owner-only, deleted on
// release.
#include "ZuTempFile.h"

#include "FileOperations.h"
#include "FolderListing.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

// Points TMPDIR at a fresh folder for one test, so that the files made can
// be counted and nothing is left in the real temporary folder.
class ZuTempFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = std::getenv("TMPDIR");
        hadTmpdir_ = old != nullptr;
        if (old)
            oldTmpdir_ = old;
        setenv("TMPDIR", dir_.path().c_str(), 1);
    }
    void TearDown() override
    {
        if (hadTmpdir_)
            setenv("TMPDIR", oldTmpdir_.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }
    int EntryCount() const
    {
        std::vector<std::string> names;
        ListFolderNames(dir_.path(), &names);
        return int(names.size());
    }

    TestTempDir dir_;

private:
    bool hadTmpdir_ = false;
    std::string oldTmpdir_;
};

std::string FileName(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

TEST_F(ZuTempFileTest, NamesAndExtensions)
{
    const std::string prefix = ZuTempFile::kNamePrefix;
    const auto plain = ZuTempFile::create();
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->pathAsStdString(), dir_.path() + "/" + FileName(plain->pathAsStdString()));
    EXPECT_EQ(FileName(plain->pathAsStdString()).size(), prefix.size() + 6);
    for (const char* extension : {"wav", ".wav"}) {
        const auto file = ZuTempFile::create(QString::fromLatin1(extension));
        ASSERT_TRUE(file);
        const std::string name = FileName(file->pathAsStdString());
        EXPECT_EQ(name.rfind(prefix, 0), 0u) << name;
        EXPECT_EQ(name.size(), prefix.size() + 6 + 4) << name;
        EXPECT_EQ(name.substr(name.size() - 4), ".wav");
        EXPECT_EQ(QString::fromUtf8(file->pathAsCString()), file->path());
    }
}

TEST_F(ZuTempFileTest, UniqueOpenPrivateAndDeletedOnRelease)
{
    std::vector<std::shared_ptr<ZuTempFile>> files;
    std::set<std::string> paths;
    for (int i = 0; i < 50; ++i) {
        files.push_back(ZuTempFile::create(QStringLiteral("aif")));
        ASSERT_TRUE(files.back());
        paths.insert(files.back()->pathAsStdString());
        EXPECT_GE(files.back()->fileDescriptor(), 0);
    }
    EXPECT_EQ(paths.size(), 50u);
    EXPECT_EQ(EntryCount(), 50);

    PathStatus status;
    ASSERT_EQ(StatPath(files[0]->pathAsStdString(), &status), 0);
    EXPECT_TRUE(status.isFile);
    EXPECT_EQ(status.size, 0u);
    EXPECT_EQ(status.mode & 0777, 0600u) << "a file in a shared folder must be private";

    FSRef ref;
    FSSpec spec;
    ASSERT_TRUE(files[0]->getFSRef(&ref));
    EXPECT_EQ(ref.path, files[0]->pathAsStdString());
    ASSERT_TRUE(files[0]->getFSSpec(&spec));
    EXPECT_EQ(FSSpecPath(spec), files[0]->pathAsStdString());

    // The file lives as long as any reference does.
    const std::string first = files[0]->pathAsStdString();
    auto extra = files[0];
    files[0].reset();
    EXPECT_TRUE(PathExists(first));
    extra.reset();
    EXPECT_FALSE(PathExists(first));
    files.clear();
    EXPECT_EQ(EntryCount(), 0);
}

TEST_F(ZuTempFileTest, FileWrittenByPathAndSidecarGoWithIt)
{
    auto file = ZuTempFile::create(QStringLiteral("aiff"));
    ASSERT_TRUE(file);
    FSSpec spec;
    ASSERT_TRUE(file->getFSSpec(&spec));
    // Another writer uses the file by its name meanwhile and gives it
    // Finder information (kept in a sidecar next to it).
    SInt16 refNum = 0;
    ASSERT_EQ(FSpOpenDF(&spec, fsRdWrPerm, &refNum), noErr);
    long count = 4;
    ASSERT_EQ(FSWrite(refNum, &count, "FORM"), noErr);
    ASSERT_EQ(FSClose(refNum), noErr);
    FInfo info;
    info.fdType = FOUR_CHAR_CODE("AIFF");
    ASSERT_EQ(FSpSetFInfo(&spec, &info), noErr);
    EXPECT_EQ(EntryCount(), 1); // the listing hides sidecars
    file.reset();
    EXPECT_EQ(EntryCount(), 0);
    EXPECT_FALSE(PathExists(dir_.path() + "/._" + spec.name));
}

TEST_F(ZuTempFileTest, FailureGivesNullAndLeavesNothing)
{
    // A name longer than the file system allows cannot be made.
    const auto file = ZuTempFile::create(QString(300, QLatin1Char('x')));
    EXPECT_FALSE(file);
    EXPECT_EQ(EntryCount(), 0);
}

TEST_F(ZuTempFileTest, DescriptorZeroIsARealDescriptor)
{
    // With standard input closed, the file gets descriptor 0; it is an open
    // file all the same and must be closed and deleted on release.
    std::fclose(stdin);
    std::string path;
    bool gotZero = false;
    {
        const auto file = ZuTempFile::create();
        ASSERT_TRUE(file);
        gotZero = file->fileDescriptor() == 0;
        path = file->pathAsStdString();
        EXPECT_TRUE(PathExists(path));
    }
    EXPECT_FALSE(PathExists(path));
    // Descriptor 0 is free again: standard input comes back on it.
    stdin = std::fopen("/dev/null", "r");
    ASSERT_NE(stdin, nullptr);
    if (!gotZero)
        GTEST_SKIP() << "descriptor 0 was not free";
}

} // namespace
