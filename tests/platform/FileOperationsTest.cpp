#include "AppleDoubleFile.h"
#include "FileOperations.h"
#include "PlatformTestUtil.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <set>

TEST(FileOperations, RenameNoReplaceMovesFileAndSidecar)
{
    TestTempDir dir;
    ASSERT_TRUE(QDir().mkdir(dir.qpath() + "/sub"));
    ASSERT_TRUE(WriteWholeFile(dir.file("a"), "A"));
    ASSERT_EQ(AppleDoubleFile::WriteResourceFork(dir.file("a"), "fork A"), noErr);
    ASSERT_TRUE(WriteWholeFile(dir.file("sub/b"), "B"));

    EXPECT_EQ(RenameNoReplace(dir.file("a"), dir.file("sub/b")), dupFNErr);
    EXPECT_EQ(ReadWholeFile(dir.file("sub/b")), "B");
    EXPECT_FALSE(FileExistsAt(dir.file("sub/._b")));
    EXPECT_EQ(ReadWholeFile(dir.file("a")), "A");

    ASSERT_EQ(RenameNoReplace(dir.file("a"), dir.file("sub/c")), noErr);
    EXPECT_EQ(ReadWholeFile(dir.file("sub/c")), "A");
    QByteArray fork;
    ASSERT_EQ(AppleDoubleFile::ReadResourceFork(dir.file("sub/c"), &fork), noErr);
    EXPECT_EQ(fork, "fork A");
    EXPECT_FALSE(FileExistsAt(dir.file("._a")));

    EXPECT_EQ(RenameNoReplace(dir.file("gone"), dir.file("x")), fnfErr);
    EXPECT_EQ(RenameNoReplace(dir.file("sub/c"), dir.file("sub/c")), dupFNErr);
    // Folders move too, never onto an existing name.
    ASSERT_TRUE(QDir().mkdir(dir.qpath() + "/other"));
    EXPECT_EQ(RenameNoReplace(dir.file("sub"), dir.file("other")), dupFNErr);
    ASSERT_EQ(RenameNoReplace(dir.file("sub"), dir.file("moved")), noErr);
    EXPECT_EQ(ReadWholeFile(dir.file("moved/c")), "A");
}

TEST(FileOperations, CopyNeverOverwritesAndTakesTheSidecar)
{
    TestTempDir dir;
    const QByteArray data = Pattern(3 << 20, 7);  // more than one copy buffer
    ASSERT_TRUE(WriteWholeFile(dir.file("src"), data));
    ASSERT_EQ(AppleDoubleFile::WriteFinderInfo(dir.file("src"), FOUR_CHAR_CODE("AIFF"), FOUR_CHAR_CODE("Quil"), 0),
              noErr);
    ASSERT_TRUE(WriteWholeFile(dir.file("dst"), "keep"));
    EXPECT_EQ(CopyFileNoReplace(dir.file("src"), dir.file("dst")), dupFNErr);
    EXPECT_EQ(ReadWholeFile(dir.file("dst")), "keep");

    ASSERT_EQ(CopyFileNoReplace(dir.file("src"), dir.file("copy")), noErr);
    EXPECT_EQ(ReadWholeFile(dir.file("copy")), data);
    OSType type = 0;
    ASSERT_EQ(AppleDoubleFile::ReadFinderInfo(dir.file("copy"), &type, nullptr, nullptr), noErr);
    EXPECT_EQ(type, FOUR_CHAR_CODE("AIFF"));

    // Without a sidecar, a stale one at the target goes away.
    ASSERT_TRUE(WriteWholeFile(dir.file("bare"), "b"));
    ASSERT_EQ(AppleDoubleFile::WriteFinderInfo(dir.file("copy2"), FOUR_CHAR_CODE("OLD "), 0, 0), noErr);
    ASSERT_EQ(CopyFileNoReplace(dir.file("bare"), dir.file("copy2")), noErr);
    EXPECT_FALSE(FileExistsAt(dir.file("._copy2")));
    EXPECT_EQ(CopyFileNoReplace(dir.file("missing"), dir.file("copy3")), fnfErr);
    EXPECT_FALSE(FileExistsAt(dir.file("copy3")));
    EXPECT_EQ(CopyFileNoReplace(dir.path(), dir.file("copy4")), notAFileErr);
}

TEST(FileOperations, UniqueFilesFoldersAndDeletion)
{
    TestTempDir dir;
    std::set<std::string> made;
    for (int i = 0; i < 50; ++i) {
        std::string path;
        ASSERT_EQ(CreateUniqueFile(dir.path(), "QM", ".aif", &path), noErr);
        EXPECT_EQ(path.rfind(dir.path() + "/QM", 0), 0u);
        EXPECT_EQ(path.substr(path.size() - 4), ".aif");
        EXPECT_TRUE(made.insert(path).second);
    }
    std::string path;
    EXPECT_EQ(CreateUniqueFile(dir.file("none"), "QM", "", &path), dirNFErr);
    // A picked name is free and nothing is created for it.
    std::string name;
    ASSERT_EQ(PickUnusedName(dir.path(), ".QM-", ".x", &name), noErr);
    EXPECT_EQ(name.rfind(".QM-", 0), 0u);
    EXPECT_EQ(name.size(), 4u + 6u + 2u);
    EXPECT_FALSE(PathExists(dir.file(name)));
    const QStringList files = QDir(QString::fromStdString(dir.path())).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(std::size_t(files.size()), made.size());
    EXPECT_EQ(PickUnusedName(dir.file("none"), "QM", "", &name), dirNFErr);

    EXPECT_EQ(CreateFileExclusive(dir.file("x")), noErr);
    EXPECT_EQ(CreateFileExclusive(dir.file("x")), dupFNErr);
    EXPECT_EQ(CreateFolder(dir.file("f")), noErr);
    EXPECT_EQ(CreateFolder(dir.file("f")), dupFNErr);
    EXPECT_EQ(CreateFolderPath(dir.file("f/g/h")), noErr);
    EXPECT_EQ(CreateFolderPath(dir.file("f/g/h")), noErr);
    EXPECT_TRUE(IsFolder(dir.file("f/g/h")));
    EXPECT_EQ(CreateFolderPath(dir.file("x/y")), dupFNErr);

    PathStatus status;
    EXPECT_EQ(StatPath(dir.file("x"), &status), 0);
    EXPECT_TRUE(status.isFile);
    EXPECT_EQ(StatPath(dir.file("nothing"), &status), ENOENT);
    EXPECT_TRUE(PathExists(dir.file("f")));

    EXPECT_EQ(DeletePath(dir.file("f")), fBsyErr);
    ASSERT_EQ(AppleDoubleFile::WriteFinderInfo(dir.file("x"), FOUR_CHAR_CODE("TEXT"), 0, 0), noErr);
    EXPECT_EQ(DeletePath(dir.file("x")), noErr);
    EXPECT_FALSE(FileExistsAt(dir.file("._x")));
    EXPECT_EQ(DeletePath(dir.file("x")), fnfErr);

    EXPECT_EQ(AbsolutePath("/a/./b/../c//d/"), "/a/c/d");
    EXPECT_EQ(AbsolutePath("/.."), "/");
    EXPECT_EQ(AbsolutePath("rel").front(), '/');
}
