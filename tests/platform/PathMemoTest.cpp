#include "AppleDoubleFile.h"
#include "FileManager.h"
#include "FileOperations.h"
#include "FolderListing.h"
#include "ForkInputStream.h"
#include "PathMemo.h"
#include "PlatformTestUtil.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <unistd.h>
#include <memory>
#include <vector>

namespace {

// Whether another descriptor could take an exclusive lock on `path` now
// (false while this process still holds the file open with its lock).
bool Unlocked(const std::string& path, int lock = LOCK_EX)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool free = fd >= 0 && ::flock(fd, lock | LOCK_NB) == 0;
    if (fd >= 0)
        ::close(fd);
    return free;
}

// The length a fork opened for reading gives (-1 when it cannot open).
SInt64 LengthThroughFork(const std::string& path)
{
    FSSpec spec;
    SInt16 ref = 0;
    SInt64 eof = -1;
    if (PathMakeFSSpec(path, &spec) != noErr || FSpOpenDF(&spec, fsRdPerm, &ref) != noErr)
        return -1;
    if (GetEOF(ref, &eof) != noErr)
        eof = -1;
    FSClose(ref);
    return eof;
}

QByteArray ReadHeadThroughForks(const std::string& path, long size)
{
    FSSpec spec;
    SInt16 ref = 0;
    if (PathMakeFSSpec(path, &spec) != noErr || FSpOpenDF(&spec, fsRdPerm, &ref) != noErr)
        return QByteArray();
    QByteArray bytes(int(size), '\0');
    long count = size;
    FSRead(ref, &count, bytes.data());
    FSClose(ref);
    bytes.resize(int(count));
    return bytes;
}

} // namespace

TEST(PathMemo, PinnedStatusIsAskedOnceAndOnlyWhileTheMemoLives)
{
    TestTempDir dir;
    const std::string pinned = dir.file("in.wav");
    const std::string other = dir.file("other.wav");
    ASSERT_TRUE(WriteWholeFile(pinned, Pattern(100)));
    ASSERT_TRUE(WriteWholeFile(other, Pattern(100)));
    PathStatus status;
    {
        PathMemo memo;
        memo.pin(pinned);
        ASSERT_EQ(StatPath(pinned, &status), 0);
        FSRef ref;
        ASSERT_EQ(FSPathMakeRef(pinned, &ref), noErr);
        ASSERT_TRUE(WriteWholeFile(pinned, Pattern(300)));
        ASSERT_TRUE(WriteWholeFile(other, Pattern(300)));
        EXPECT_EQ(StatPath(pinned, &status), 0);
        EXPECT_EQ(status.size, 100u);
        FSCatalogInfo info;
        ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoDataSizes, &info, nullptr, nullptr, nullptr), noErr);
        EXPECT_EQ(info.dataLogicalSize, 100u);
        EXPECT_EQ(StatPath(other, &status), 0);
        EXPECT_EQ(status.size, 300u);
        // A rename through the file layer forgets what was known.
        ASSERT_EQ(RenameNoReplace(pinned, dir.file("moved.wav")), noErr);
        EXPECT_NE(StatPath(pinned, &status), 0);
        ASSERT_EQ(RenameNoReplace(dir.file("moved.wav"), pinned), noErr);
    }
    EXPECT_EQ(StatPath(pinned, &status), 0);
    EXPECT_EQ(status.size, 300u);
}

TEST(PathMemo, OneAskingOfAPinnedPathGivesBothStatusRecords)
{
    TestTempDir dir;
    const std::string first = dir.file("first.wav");
    const std::string second = dir.file("second.wav");
    ASSERT_TRUE(WriteWholeFile(first, Pattern(100)));
    ASSERT_TRUE(WriteWholeFile(second, Pattern(100)));
    struct stat real {};
    ASSERT_EQ(::stat(first.c_str(), &real), 0);
    PathMemo memo;
    memo.pin(first);
    memo.pin(second);
    memo.pin(dir.file("missing.wav"));
    // stat first: the record is the one stat gives, and the status comes
    // from the same asking.
    struct stat st {};
    ASSERT_EQ(PathMemo::Stat(first, &st, true), 0);
    EXPECT_EQ(st.st_dev, real.st_dev);
    EXPECT_EQ(st.st_ino, real.st_ino);
    EXPECT_EQ(st.st_mode, real.st_mode);
    EXPECT_EQ(st.st_nlink, real.st_nlink);
    EXPECT_EQ(st.st_uid, real.st_uid);
    EXPECT_EQ(st.st_gid, real.st_gid);
    EXPECT_EQ(st.st_size, real.st_size);
    EXPECT_EQ(st.st_blocks, real.st_blocks);
    EXPECT_EQ(st.st_mtim.tv_sec, real.st_mtim.tv_sec);
    EXPECT_EQ(st.st_mtim.tv_nsec, real.st_mtim.tv_nsec);
    EXPECT_EQ(st.st_ctim.tv_nsec, real.st_ctim.tv_nsec);
    // The status first: the stat record comes with it.
    PathStatus status;
    ASSERT_EQ(StatPath(second, &status), 0);
    ASSERT_TRUE(WriteWholeFile(first, Pattern(300)));
    ASSERT_TRUE(WriteWholeFile(second, Pattern(300)));
    ASSERT_EQ(StatPath(first, &status), 0);
    EXPECT_EQ(status.size, 100u);
    ASSERT_EQ(PathMemo::Stat(second, &st, true), 0);
    EXPECT_EQ(st.st_size, 100);
    // What does not exist says so each time, with its errno.
    errno = 0;
    EXPECT_EQ(PathMemo::Stat(dir.file("missing.wav"), &st, true), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(StatPath(dir.file("missing.wav"), &status), ENOENT);
}

TEST(PathMemo, SidecarsAreKnownFromTheListingAndFollowTheFileLayer)
{
    TestTempDir dir;
    const std::string a = dir.file("a.wav"), b = dir.file("b.wav");
    ASSERT_TRUE(WriteWholeFile(a, "x"));
    ASSERT_TRUE(WriteWholeFile(b, "x"));
    ASSERT_EQ(AppleDoubleFile::WriteFinderInfo(a, FOUR_CHAR_CODE("AIFF"), FOUR_CHAR_CODE("Qmch"), 0), noErr);
    OSType type = 0;
    {
        PathMemo memo;
        std::set<std::string> names;
        ASSERT_EQ(ListSidecarNames(dir.path(), &names), noErr);
        EXPECT_EQ(names, std::set<std::string>{"._a.wav"});
        memo.setSidecarNames(dir.path(), names);
        ASSERT_EQ(AppleDoubleFile::ReadFinderInfo(a, &type, nullptr, nullptr), noErr);
        EXPECT_EQ(type, FOUR_CHAR_CODE("AIFF"));
        // Made behind the listing's back: not looked for.
        ASSERT_TRUE(WriteWholeFile(AppleDoubleFile::SidecarPathFor(b), QByteArray()));
        ASSERT_EQ(AppleDoubleFile::ReadFinderInfo(b, &type, nullptr, nullptr), noErr);
        EXPECT_EQ(type, 0u);
        // Written, moved and removed through the file layer: known.
        ASSERT_EQ(AppleDoubleFile::WriteFinderInfo(b, FOUR_CHAR_CODE("WAVE"), FOUR_CHAR_CODE("Qmch"), 0), noErr);
        ASSERT_EQ(AppleDoubleFile::ReadFinderInfo(b, &type, nullptr, nullptr), noErr);
        EXPECT_EQ(type, FOUR_CHAR_CODE("WAVE"));
        ASSERT_EQ(RenameNoReplace(b, dir.file("c.wav")), noErr);
        ASSERT_EQ(AppleDoubleFile::ReadFinderInfo(dir.file("c.wav"), &type, nullptr, nullptr), noErr);
        EXPECT_EQ(type, FOUR_CHAR_CODE("WAVE"));
        ASSERT_EQ(DeletePath(a), noErr);
        EXPECT_FALSE(FileExistsAt(AppleDoubleFile::SidecarPathFor(a)));
        ASSERT_TRUE(WriteWholeFile(a, "x"));
        ASSERT_EQ(AppleDoubleFile::ReadFinderInfo(a, &type, nullptr, nullptr), noErr);
        EXPECT_EQ(type, 0u);
    }
    // Without a memo the folder is asked again.
    ASSERT_EQ(AppleDoubleFile::WriteFinderInfo(dir.file("c.wav"), FOUR_CHAR_CODE("AIFC"), FOUR_CHAR_CODE("Qmch"), 0), noErr);
    ASSERT_EQ(AppleDoubleFile::ReadFinderInfo(dir.file("c.wav"), &type, nullptr, nullptr), noErr);
    EXPECT_EQ(type, FOUR_CHAR_CODE("AIFC"));
}

TEST(PathMemo, AClosedFileStaysOpenForItsNextReadingUntilTheMemoEnds)
{
    TestTempDir dir;
    const std::string input = dir.file("in.wav");
    const std::string output = dir.file("out.aif");
    ASSERT_TRUE(WriteWholeFile(input, Pattern(40000)));
    ASSERT_TRUE(WriteWholeFile(output, Pattern(40000, 1)));
    {
        PathMemo memo;
        EXPECT_EQ(ReadHeadThroughForks(input, 16384), Pattern(40000).left(16384));
        EXPECT_EQ(OpenForkCount(), 0);
        EXPECT_FALSE(Unlocked(input));  // kept, with its shared lock
        // The head comes from memory the next time: a change made behind
        // the file layer's back is not seen ...
        {
            const int fd = ::open(input.c_str(), O_WRONLY);
            const QByteArray changed = Pattern(16, 3);
            ASSERT_EQ(::pwrite(fd, changed.constData(), 16, 0), 16);
            ::close(fd);
        }
        EXPECT_EQ(ReadHeadThroughForks(input, 16384), Pattern(40000).left(16384));
        // ... but a write through a fork is, and the writer holds the
        // exclusive lock (the kept descriptor let go of its shared one).
        FSSpec spec;
        SInt16 ref = 0;
        ASSERT_EQ(PathMakeFSSpec(input, &spec), noErr);
        ASSERT_EQ(FSpOpenDF(&spec, fsRdWrPerm, &ref), noErr);
        EXPECT_FALSE(Unlocked(input, LOCK_SH));
        const QByteArray written = Pattern(32, 4);
        long count = written.size();
        ASSERT_EQ(FSWrite(ref, &count, written.constData()), noErr);
        ASSERT_EQ(FSClose(ref), noErr);
        EXPECT_FALSE(Unlocked(input, LOCK_SH));  // a copy kept with its lock
        EXPECT_EQ(ReadHeadThroughForks(input, 32), written);
        EXPECT_EQ(LengthThroughFork(input), 40000);
        // The length a closed fork knew goes with its kept descriptor, and
        // holds until a fork changes the file.
        ASSERT_EQ(FSpOpenDF(&spec, fsRdWrPerm, &ref), noErr);
        ASSERT_EQ(SetEOF(ref, 40010), noErr);
        ASSERT_EQ(FSClose(ref), noErr);
        EXPECT_EQ(LengthThroughFork(input), 40010);
        EXPECT_EQ(LengthThroughFork(input), 40010);
        // A file made here is opened for writing on the descriptor that
        // made it, with the exclusive lock.
        FSSpec made;
        ASSERT_EQ(PathMakeFSSpec(dir.file("made.aif"), &made), fnfErr);
        ASSERT_EQ(FSpCreate(&made, 0, 0, 0), noErr);
        ASSERT_EQ(FSpOpenDF(&made, fsRdWrPerm, &ref), noErr);
        EXPECT_FALSE(Unlocked(dir.file("made.aif"), LOCK_SH));
        count = written.size();
        ASSERT_EQ(FSWrite(ref, &count, written.constData()), noErr);
        ASSERT_EQ(FSClose(ref), noErr);
        EXPECT_EQ(ReadWholeFile(dir.file("made.aif")), written);
        EXPECT_EQ(LengthThroughFork(dir.file("made.aif")), written.size());
        // A renamed file is let go.
        EXPECT_EQ(ReadHeadThroughForks(output, 100), Pattern(40000, 1).left(100));
        ASSERT_EQ(RenameNoReplace(output, dir.file("final.aif")), noErr);
        EXPECT_TRUE(Unlocked(dir.file("final.aif")));
        EXPECT_TRUE(ReadHeadThroughForks(output, 100).isEmpty());
    }
    EXPECT_TRUE(Unlocked(input));
}

TEST(PathMemo, AFolderIsAskedOnceForTheOutermostMemoUntilItIsRenamed)
{
    TestTempDir dir;
    const std::string folder = dir.file("f");
    ASSERT_EQ(CreateFolder(folder), noErr);
    PathMemo conversion;
    {
        PathMemo file;
        file.pin(folder);
        EXPECT_TRUE(IsFolder(folder));
    }
    ASSERT_EQ(::rmdir(folder.c_str()), 0);  // behind the file layer's back
    {
        PathMemo file;
        file.pin(folder);
        EXPECT_TRUE(IsFolder(folder));
    }
    ASSERT_EQ(CreateFolder(folder), noErr);
    ASSERT_EQ(RenameNoReplace(folder, dir.file("g")), noErr);
    {
        PathMemo file;
        file.pin(folder);
        EXPECT_FALSE(IsFolder(folder));
        EXPECT_TRUE(IsFolder(dir.file("g")));
    }
}

TEST(PathMemo, AFileMadeHereIsReadBackFromWhatItsWriterKnew)
{
    TestTempDir dir;
    const std::string path = dir.file("made.aif");
    PathMemo memo;
    FSSpec spec;
    SInt16 ref = 0;
    ASSERT_EQ(PathMakeFSSpec(path, &spec), fnfErr);
    ASSERT_EQ(FSpCreate(&spec, 0, 0, 0), noErr);
    ASSERT_EQ(FSpOpenDF(&spec, fsRdWrPerm, &ref), noErr);
    const auto write = [&](SInt64 at, const QByteArray& bytes) {
        ByteCount done = 0;
        ASSERT_EQ(FSWriteFork(ref, fsFromStart, at, ByteCount(bytes.size()), bytes.constData(), &done), noErr);
    };
    write(0, Pattern(64, 1));
    write(64, Pattern(20000, 2));  // too large to be kept
    write(8, Pattern(4, 3));
    write(20064, Pattern(30, 4));
    ASSERT_EQ(SetEOF(ref, 20094), noErr);
    // The writer reads its header back.
    char head[64];
    ByteCount got = 0;
    ASSERT_EQ(FSReadFork(ref, fsFromStart, 0, sizeof head, head, &got), noErr);
    ASSERT_EQ(FSClose(ref), noErr);
    const QByteArray file = ReadWholeFile(path);
    ASSERT_EQ(file.size(), 20094);
    EXPECT_EQ(QByteArray(head, sizeof head), file.left(64));

    // A stream over the closed file: the known bytes come from memory (a
    // change made behind the file layer's back is not seen), the others
    // from the file.
    {
        const int fd = ::open(path.c_str(), O_WRONLY);
        ASSERT_EQ(::pwrite(fd, "XXXX", 4, 0), 4);
        ASSERT_EQ(::pwrite(fd, "YYYY", 4, 100), 4);
        ::close(fd);
    }
    QByteArray expected = file;
    expected.replace(100, 4, "YYYY");
    ForkInputStream in(path);
    ASSERT_EQ(in.openError(), noErr);
    in.seekg(-30, std::ios::end);
    std::vector<char> tail(30);
    in.read(tail.data(), 30);
    EXPECT_EQ(QByteArray(tail.data(), 30), expected.right(30));
    in.seekg(0);
    std::vector<char> all(20100);
    in.read(all.data(), std::streamsize(all.size()));
    EXPECT_EQ(in.gcount(), 20094);
    EXPECT_EQ(QByteArray(all.data(), int(in.gcount())), expected);

    // A write through a fork is seen.
    ASSERT_EQ(FSpOpenDF(&spec, fsRdWrPerm, &ref), noErr);
    write(0, QByteArray("ZZZZ"));
    ASSERT_EQ(FSClose(ref), noErr);
    ForkInputStream again(path);
    char first[4];
    again.read(first, 4);
    EXPECT_EQ(QByteArray(first, 4), QByteArray("ZZZZ"));
}

