#include "AppleDoubleFile.h"
#include "FileManager.h"
#include "PlatformTestUtil.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <QDir>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

FSSpec SpecIn(const TestTempDir& dir, const std::string& name)
{
    return FSSpec{dir.path(), name};
}

// Creates `name` with `bytes` through the File Manager.
void MakeFile(const TestTempDir& dir, const std::string& name, const QByteArray& bytes)
{
    const FSSpec spec = SpecIn(dir, name);
    ASSERT_EQ(FSpCreate(&spec, 0, 0, smSystemScript), noErr);
    SInt16 ref = 0;
    ASSERT_EQ(FSpOpenDF(&spec, fsRdWrPerm, &ref), noErr);
    long count = bytes.size();
    ASSERT_EQ(FSWrite(ref, &count, bytes.constData()), noErr);
    ASSERT_EQ(FSClose(ref), noErr);
}

// Makes `name` with `bytes` and opens it with `permission`; 0 on failure.
SInt16 MakeAndOpen(const TestTempDir& dir, const std::string& name, const QByteArray& bytes, SInt8 permission)
{
    MakeFile(dir, name, bytes);
    const FSSpec spec = SpecIn(dir, name);
    SInt16 ref = 0;
    EXPECT_EQ(FSpOpenDF(&spec, permission, &ref), noErr);
    return ref;
}

} // namespace

// ------------------------------------------------------------------ creation

TEST(FileManagerCreate, CreateIsExclusiveAndLeavesAnExistingFileAlone)
{
    TestTempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.file("taken.aif"), "precious"));
    ASSERT_TRUE(WriteWholeFile(dir.file("._taken.aif"), "sidecar"));
    const FSSpec spec = SpecIn(dir, "taken.aif");
    EXPECT_EQ(FSpCreate(&spec, FOUR_CHAR_CODE("Quil"), FOUR_CHAR_CODE("AIFF"), smSystemScript), dupFNErr);
    EXPECT_EQ(ReadWholeFile(dir.file("taken.aif")), "precious");
    EXPECT_EQ(ReadWholeFile(dir.file("._taken.aif")), "sidecar");

    // A folder or a dangling symbolic link under the name counts as taken too.
    ASSERT_TRUE(QDir().mkdir(dir.qpath() + "/folder"));
    const FSSpec folder = SpecIn(dir, "folder");
    EXPECT_EQ(FSpCreate(&folder, 0, 0, smSystemScript), dupFNErr);
    ASSERT_TRUE(QFile::link(dir.qpath() + "/nowhere", dir.qpath() + "/dangling"));
    const FSSpec dangling = SpecIn(dir, "dangling");
    EXPECT_EQ(FSpCreate(&dangling, 0, 0, smSystemScript), dupFNErr);
    EXPECT_FALSE(FileExistsAt(dir.file("nowhere")));
}

TEST(FileManagerCreate, TypeAndCreatorGoToTheSidecarOnlyWhenSet)
{
    TestTempDir dir;
    const FSSpec typed = SpecIn(dir, "typed.sd2");
    ASSERT_EQ(FSpCreate(&typed, FOUR_CHAR_CODE("Quil"), FOUR_CHAR_CODE("Sd2f"), smSystemScript), noErr);
    FInfo info;
    ASSERT_EQ(FSpGetFInfo(&typed, &info), noErr);
    EXPECT_EQ(info.fdType, FOUR_CHAR_CODE("Sd2f"));
    EXPECT_EQ(info.fdCreator, FOUR_CHAR_CODE("Quil"));
    EXPECT_EQ(info.fdFlags, 0);

    const FSSpec plain = SpecIn(dir, "plain.wav");
    ASSERT_EQ(FSpCreate(&plain, 0, 0, smSystemScript), noErr);
    EXPECT_FALSE(FileExistsAt(dir.file("._plain.wav")));
    ASSERT_EQ(FSpGetFInfo(&plain, &info), noErr);
    EXPECT_EQ(info.fdType, 0u);
    EXPECT_EQ(info.fdCreator, 0u);
}

TEST(FileManagerCreate, AStaleSidecarDoesNotDescribeANewFile)
{
    TestTempDir dir;
    AppleDoubleFile stale(dir.file("again.aif"));
    stale.setFinderInfo(FOUR_CHAR_CODE("OLD "), FOUR_CHAR_CODE("old "), kIsInvisible);
    stale.setResourceFork("old fork");
    ASSERT_EQ(stale.Write(), noErr);

    const FSSpec spec = SpecIn(dir, "again.aif");
    ASSERT_EQ(FSpCreate(&spec, 0, 0, smSystemScript), noErr);
    EXPECT_FALSE(FileExistsAt(dir.file("._again.aif")));
    ASSERT_EQ(FSpDelete(&spec), noErr);

    ASSERT_EQ(stale.Write(), noErr);
    ASSERT_EQ(FSpCreate(&spec, FOUR_CHAR_CODE("Quil"), FOUR_CHAR_CODE("AIFF"), smSystemScript), noErr);
    AppleDoubleFile fresh(dir.file("again.aif"));
    ASSERT_EQ(fresh.Read(), noErr);
    EXPECT_EQ(fresh.fileType(), FOUR_CHAR_CODE("AIFF"));
    EXPECT_EQ(fresh.finderFlags(), 0);
    EXPECT_FALSE(fresh.hasResourceFork());
}

TEST(FileManagerCreate, NamesFollowTheLinuxLimits)
{
    TestTempDir dir;
    const std::string longest(255, 'n');
    const FSSpec ok = SpecIn(dir, longest);
    EXPECT_EQ(FSpCreate(&ok, 0, 0, smSystemScript), noErr);
    // A 255-byte name has no room for a sidecar: asking for one is an error,
    // and the file is not left behind.
    const FSSpec okTyped = SpecIn(dir, std::string(254, 't'));
    EXPECT_EQ(FSpCreate(&okTyped, 0, FOUR_CHAR_CODE("AIFF"), smSystemScript), bdNamErr);
    EXPECT_FALSE(FileExistsAt(FSSpecPath(okTyped)));
    // 253 bytes leave room for "._".
    const FSSpec typed253 = SpecIn(dir, std::string(253, 'u'));
    EXPECT_EQ(FSpCreate(&typed253, 0, FOUR_CHAR_CODE("AIFF"), smSystemScript), noErr);

    // Multi-byte UTF-8 counts in bytes: 128 two-byte characters are 256 bytes.
    std::string umlauts;
    for (int i = 0; i < 128; ++i)
        umlauts += "\xC3\xA4";
    for (const std::string& bad : {std::string(256, 'n'), umlauts, std::string(), std::string("a/b"),
                                   std::string("."), std::string(".."), std::string("a\0b", 3)}) {
        const FSSpec spec = SpecIn(dir, bad);
        EXPECT_EQ(FSpCreate(&spec, 0, 0, smSystemScript), bdNamErr) << bad.size();
        FSSpec made;
        EXPECT_EQ(FSMakeFSSpec(dir.path(), bad, &made), bdNamErr);
    }
    // A name that would pose as a sidecar is refused.
    const FSSpec sidecarLike = SpecIn(dir, "._x");
    EXPECT_EQ(FSpCreate(&sidecarLike, 0, 0, smSystemScript), bdNamErr);

    const FSSpec missingFolder{dir.file("missing"), "x"};
    EXPECT_EQ(FSpCreate(&missingFolder, 0, 0, smSystemScript), dirNFErr);
}

// ---------------------------------------------------------------- fork I/O

TEST(FileManagerIO, ReadWriteSeekAndEndOfFile)
{
    TestTempDir dir;
    const QByteArray data = Pattern(1000);
    const SInt16 ref = MakeAndOpen(dir, "data", data, fsRdPerm);
    ASSERT_NE(ref, 0);

    SInt64 eof = -1;
    ASSERT_EQ(GetEOF(ref, &eof), noErr);
    EXPECT_EQ(eof, 1000);

    char buffer[2000];
    EXPECT_EQ(SetFPos(ref, fsFromStart, 100), noErr);
    long count = 50;
    ASSERT_EQ(FSRead(ref, &count, buffer), noErr);
    EXPECT_EQ(count, 50);
    EXPECT_EQ(QByteArray(buffer, 50), data.mid(100, 50));
    SInt64 mark = 0;
    ASSERT_EQ(GetFPos(ref, &mark), noErr);
    EXPECT_EQ(mark, 150);

    EXPECT_EQ(SetFPos(ref, fsFromMark, -50), noErr);
    EXPECT_EQ(GetFPos(ref, &mark), noErr);
    EXPECT_EQ(mark, 100);
    EXPECT_EQ(SetFPos(ref, fsFromLEOF, -10), noErr);
    EXPECT_EQ(GetFPos(ref, &mark), noErr);
    EXPECT_EQ(mark, 990);

    // A short read: the count says what came, the result is eofErr.
    count = 40;
    EXPECT_EQ(FSRead(ref, &count, buffer), eofErr);
    EXPECT_EQ(count, 10);
    EXPECT_EQ(QByteArray(buffer, 10), data.right(10));
    count = 5;
    EXPECT_EQ(FSRead(ref, &count, buffer), eofErr);
    EXPECT_EQ(count, 0);

    // Past the end: eofErr and the mark at the end.  Before the start:
    // posErr and the mark unchanged.
    EXPECT_EQ(SetFPos(ref, fsFromStart, 300), noErr);
    EXPECT_EQ(SetFPos(ref, fsFromStart, 1001), eofErr);
    EXPECT_EQ(GetFPos(ref, &mark), noErr);
    EXPECT_EQ(mark, 1000);
    EXPECT_EQ(SetFPos(ref, fsFromStart, 300), noErr);
    EXPECT_EQ(SetFPos(ref, fsFromMark, -301), posErr);
    EXPECT_EQ(GetFPos(ref, &mark), noErr);
    EXPECT_EQ(mark, 300);
    EXPECT_EQ(SetFPos(ref, fsFromLEOF, INT64_MIN), posErr);
    EXPECT_EQ(SetFPos(ref, fsFromMark, INT64_MAX), eofErr);
    // Cache hint bits do not change the mode.
    EXPECT_EQ(SetFPos(ref, fsFromStart | 0x20, 7), noErr);
    EXPECT_EQ(GetFPos(ref, &mark), noErr);
    EXPECT_EQ(mark, 7);

    // Read-only: writing and SetEOF are refused.
    count = 1;
    EXPECT_EQ(FSWrite(ref, &count, "x"), wrPermErr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(SetEOF(ref, 10), wrPermErr);
    count = -1;
    EXPECT_EQ(FSRead(ref, &count, buffer), paramErr);

    EXPECT_EQ(FSClose(ref), noErr);
    EXPECT_EQ(FSClose(ref), rfNumErr);
    count = 1;
    EXPECT_EQ(FSRead(ref, &count, buffer), rfNumErr);
    EXPECT_EQ(GetEOF(ref, &eof), rfNumErr);
}

TEST(FileManagerIO, WritingExtendsAndSetEOFResizes)
{
    TestTempDir dir;
    const SInt16 ref = MakeAndOpen(dir, "out", "0123456789", fsRdWrPerm);
    ASSERT_NE(ref, 0);
    ASSERT_EQ(SetFPos(ref, fsFromStart, 8), noErr);
    long count = 6;
    ASSERT_EQ(FSWrite(ref, &count, "ABCDEF"), noErr);
    EXPECT_EQ(count, 6);
    SInt32 eof32 = 0;
    ASSERT_EQ(GetEOF(ref, &eof32), noErr);
    EXPECT_EQ(eof32, 14);

    // Growing fills with zeros; shrinking pulls the mark back.
    ASSERT_EQ(SetEOF(ref, 20), noErr);
    ASSERT_EQ(SetEOF(ref, 18), noErr);
    SInt64 mark = 0;
    ASSERT_EQ(GetFPos(ref, &mark), noErr);
    EXPECT_EQ(mark, 14);
    ASSERT_EQ(SetEOF(ref, 4), noErr);
    ASSERT_EQ(GetFPos(ref, &mark), noErr);
    EXPECT_EQ(mark, 4);
    EXPECT_EQ(SetEOF(ref, -1), posErr);
    ASSERT_EQ(SetEOF(ref, 6), noErr);
    // Appending at the end through the fork calls.
    ByteCount actual = 0;
    ASSERT_EQ(FSWriteFork(ref, fsFromLEOF, 0, 3, "xyz", &actual), noErr);
    EXPECT_EQ(actual, 3u);
    ASSERT_EQ(FSClose(ref), noErr);
    EXPECT_EQ(ReadWholeFile(dir.file("out")), QByteArray("0123\0\0xyz", 9));
}

// Small reads come from a block read ahead and the length is remembered:
// both must follow every write of the process, through this fork or
// another one, and end exactly at the end of the file.
TEST(FileManagerIO, ReadAheadAndLengthFollowWrites)
{
    TestTempDir dir;
    const QByteArray data = Pattern(40000);
    MakeFile(dir, "grow", data);
    const FSSpec spec = SpecIn(dir, "grow");
    SInt16 reader = 0, writer = 0;
    ASSERT_EQ(FSpOpenDF(&spec, fsRdPerm, &reader), noErr);
    ASSERT_EQ(FSpOpenDF(&spec, fsRdWrPerm, &writer), noErr);

    // Small reads across block edges and one large read agree with the data.
    char buffer[30000];
    for (SInt64 at : {0, 4090, 16380, 20000, 39990}) {
        long count = 12;
        ASSERT_EQ(SetFPos(reader, fsFromStart, at), noErr);
        EXPECT_EQ(FSRead(reader, &count, buffer), at + 12 > 40000 ? eofErr : noErr) << at;
        EXPECT_EQ(QByteArray(buffer, int(count)), data.mid(int(at), 12)) << at;
    }
    long big = 30000;
    ASSERT_EQ(SetFPos(reader, fsFromStart, 5), noErr);
    ASSERT_EQ(FSRead(reader, &big, buffer), noErr);
    EXPECT_EQ(QByteArray(buffer, 30000), data.mid(5, 30000));

    // Another fork overwrites the start and appends: the reader sees both.
    ASSERT_EQ(SetFPos(reader, fsFromStart, 0), noErr);
    long count = 8;
    ASSERT_EQ(FSRead(reader, &count, buffer), noErr);
    ASSERT_EQ(SetFPos(writer, fsFromStart, 0), noErr);
    count = 4;
    ASSERT_EQ(FSWrite(writer, &count, "WXYZ"), noErr);
    ASSERT_EQ(SetFPos(writer, fsFromLEOF, 0), noErr);
    count = 6;
    ASSERT_EQ(FSWrite(writer, &count, "tail!!"), noErr);
    SInt64 eof = 0;
    ASSERT_EQ(GetEOF(reader, &eof), noErr);
    EXPECT_EQ(eof, 40006);
    ASSERT_EQ(SetFPos(reader, fsFromStart, 0), noErr);
    count = 6;
    ASSERT_EQ(FSRead(reader, &count, buffer), noErr);
    EXPECT_EQ(QByteArray(buffer, 6), QByteArray("WXYZ") + data.mid(4, 2));
    ASSERT_EQ(SetFPos(reader, fsFromLEOF, -8), noErr);
    count = 8;
    ASSERT_EQ(FSRead(reader, &count, buffer), noErr);
    EXPECT_EQ(QByteArray(buffer, 8), data.right(2) + "tail!!");

    // Shrinking through the writer: the reader's length and reads follow.
    ASSERT_EQ(SetEOF(writer, 100), noErr);
    ASSERT_EQ(GetEOF(reader, &eof), noErr);
    EXPECT_EQ(eof, 100);
    EXPECT_EQ(SetFPos(reader, fsFromStart, 101), eofErr);
    ASSERT_EQ(SetFPos(reader, fsFromStart, 96), noErr);
    count = 10;
    EXPECT_EQ(FSRead(reader, &count, buffer), eofErr);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(FSClose(writer), noErr);
    EXPECT_EQ(FSClose(reader), noErr);
}

TEST(FileManagerIO, ForkCallsPositionThenMove)
{
    TestTempDir dir;
    const QByteArray data = Pattern(256, 3);
    MakeFile(dir, "fork", data);
    FSRef ref;
    ASSERT_EQ(FSPathMakeRef(dir.file("fork"), &ref), noErr);
    HFSUniStr255 dataName;
    ASSERT_EQ(FSGetDataForkName(&dataName), noErr);
    FSIORefNum fork = 0;
    ASSERT_EQ(FSOpenFork(&ref, dataName.length, dataName.unicode, fsRdWrPerm, &fork), noErr);
    char buffer[300];
    ByteCount actual = 0;
    ASSERT_EQ(FSReadFork(fork, fsFromStart, 16, 16, buffer, &actual), noErr);
    EXPECT_EQ(actual, 16u);
    EXPECT_EQ(QByteArray(buffer, 16), data.mid(16, 16));
    ASSERT_EQ(FSReadFork(fork, fsAtMark, 0, 8, buffer, &actual), noErr);
    EXPECT_EQ(QByteArray(buffer, 8), data.mid(32, 8));
    EXPECT_EQ(FSReadFork(fork, fsFromLEOF, -4, 10, buffer, &actual), eofErr);
    EXPECT_EQ(actual, 4u);
    // Positioning past the end fails before anything moves.
    EXPECT_EQ(FSSetForkPosition(fork, fsFromStart, 257), eofErr);
    SInt64 position = 0;
    ASSERT_EQ(FSGetForkPosition(fork, &position), noErr);
    EXPECT_EQ(position, 256);
    EXPECT_EQ(FSWriteFork(fork, fsFromStart, 300, 1, "x", &actual), eofErr);
    EXPECT_EQ(actual, 0u);
    ASSERT_EQ(FSSetForkSize(fork, fsFromStart, 100), noErr);
    SInt64 size = 0;
    ASSERT_EQ(FSGetForkSize(fork, &size), noErr);
    EXPECT_EQ(size, 100);
    ASSERT_EQ(FSCloseFork(fork), noErr);
    const UniChar bogus[] = {'X'};
    EXPECT_EQ(FSOpenFork(&ref, 1, bogus, fsRdPerm, &fork), errFSBadForkName);
}

TEST(FileManagerIO, PositionsAndSizesAre64Bit)
{
    TestTempDir dir;
    const SInt16 ref = MakeAndOpen(dir, "big", "", fsRdWrPerm);
    ASSERT_NE(ref, 0);
    const SInt64 fiveGiB = SInt64(5) << 30;
    if (SetEOF(ref, fiveGiB) != noErr) {
        FSClose(ref);
        GTEST_SKIP() << "no sparse files here";
    }
    SInt64 eof = 0;
    ASSERT_EQ(GetEOF(ref, &eof), noErr);
    EXPECT_EQ(eof, fiveGiB);
    SInt32 eof32 = 0;
    EXPECT_EQ(GetEOF(ref, &eof32), fsDataTooBigErr);
    ASSERT_EQ(SetFPos(ref, fsFromStart, fiveGiB - 4), noErr);
    long count = 4;
    ASSERT_EQ(FSWrite(ref, &count, "tail"), noErr);
    SInt32 mark32 = 0;
    EXPECT_EQ(GetFPos(ref, &mark32), fsDataTooBigErr);
    ASSERT_EQ(SetFPos(ref, fsFromLEOF, -4), noErr);
    char buffer[4];
    count = 4;
    ASSERT_EQ(FSRead(ref, &count, buffer), noErr);
    EXPECT_EQ(QByteArray(buffer, 4), "tail");
    ASSERT_EQ(SetEOF(ref, 0), noErr);
    ASSERT_EQ(FSClose(ref), noErr);
}

TEST(FileManagerIO, OpenChecksAndWriteSharing)
{
    TestTempDir dir;
    MakeFile(dir, "shared", "abc");
    const FSSpec spec = SpecIn(dir, "shared");
    SInt16 writer = 0, reader = 0, second = 0;
    ASSERT_EQ(FSpOpenDF(&spec, fsRdWrPerm, &writer), noErr);
    ASSERT_EQ(FSpOpenDF(&spec, fsRdPerm, &reader), noErr);
    EXPECT_NE(writer, reader);
    // A second writer is refused and told who writes.
    EXPECT_EQ(FSpOpenDF(&spec, fsWrPerm, &second), opWrErr);
    EXPECT_EQ(second, writer);
    const int before = OpenForkCount();
    ASSERT_EQ(FSClose(reader), noErr);
    ASSERT_EQ(FSClose(writer), noErr);
    EXPECT_EQ(OpenForkCount(), before - 2);
    ASSERT_EQ(FSpOpenDF(&spec, fsWrPerm, &second), noErr);
    ASSERT_EQ(FSClose(second), noErr);

    const FSSpec missing = SpecIn(dir, "missing");
    SInt16 ref = 0;
    EXPECT_EQ(FSpOpenDF(&missing, fsRdPerm, &ref), fnfErr);
    ASSERT_TRUE(QDir().mkdir(dir.qpath() + "/folder"));
    const FSSpec folder = SpecIn(dir, "folder");
    EXPECT_EQ(FSpOpenDF(&folder, fsRdPerm, &ref), notAFileErr);
    EXPECT_EQ(FSpOpenDF(&spec, 9, &ref), paramErr);
}

TEST(FileManagerIO, ConcurrentUseOfTheRefNumTable)
{
    TestTempDir dir;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            const FSSpec spec{dir.path(), "t" + std::to_string(t)};
            if (FSpCreate(&spec, 0, 0, smSystemScript) != noErr)
                ++failures;
            for (int i = 0; i < 200; ++i) {
                SInt16 ref = 0;
                if (FSpOpenDF(&spec, fsRdWrPerm, &ref) != noErr) {
                    ++failures;
                    continue;
                }
                long count = 4;
                const SInt32 value = i;
                if (SetFPos(ref, fsFromLEOF, 0) != noErr || FSWrite(ref, &count, &value) != noErr)
                    ++failures;
                if (FSClose(ref) != noErr)
                    ++failures;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    for (int t = 0; t < 8; ++t)
        EXPECT_EQ(ReadWholeFile(dir.file("t" + std::to_string(t))).size(), 800);
}

// ------------------------------------------------------------ resource fork

TEST(FileManagerResourceFork, CreateOpenWriteAndReadBack)
{
    TestTempDir dir;
    MakeFile(dir, "snd", "data fork");
    FSRef ref;
    ASSERT_EQ(FSPathMakeRef(dir.file("snd"), &ref), noErr);
    HFSUniStr255 rsrc;
    ASSERT_EQ(FSGetResourceForkName(&rsrc), noErr);
    EXPECT_EQ(HFSUniStr255ToQString(rsrc), "RESOURCE_FORK");

    FSIORefNum fork = 0;
    EXPECT_EQ(FSOpenFork(&ref, rsrc.length, rsrc.unicode, fsRdWrPerm, &fork), errFSForkNotFound);
    EXPECT_FALSE(FileExistsAt(dir.file("._snd")));  // looking created nothing
    ASSERT_EQ(FSCreateResourceFork(&ref, rsrc.length, rsrc.unicode, 0), noErr);
    EXPECT_EQ(FSCreateResourceFork(&ref, rsrc.length, rsrc.unicode, 0), errFSForkExists);

    ASSERT_EQ(FSOpenFork(&ref, rsrc.length, rsrc.unicode, fsRdWrPerm, &fork), noErr);
    SInt64 size = -1;
    ASSERT_EQ(FSGetForkSize(fork, &size), noErr);
    EXPECT_EQ(size, 0);
    const QByteArray content = Pattern(5000, 9);
    ByteCount actual = 0;
    ASSERT_EQ(FSWriteFork(fork, fsFromStart, 0, ByteCount(content.size()), content.constData(), &actual), noErr);
    ASSERT_EQ(FSSetForkPosition(fork, fsFromStart, 6000), eofErr);
    ASSERT_EQ(FSCloseFork(fork), noErr);

    QByteArray stored;
    bool exists = false;
    ASSERT_EQ(AppleDoubleFile::ReadResourceFork(dir.file("snd"), &stored, &exists), noErr);
    EXPECT_TRUE(exists);
    EXPECT_EQ(stored, content);
    EXPECT_EQ(ReadWholeFile(dir.file("snd")), "data fork");

    FSCatalogInfo info;
    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoRsrcSizes | kFSCatInfoDataSizes, &info, nullptr, nullptr, nullptr),
              noErr);
    EXPECT_EQ(info.rsrcLogicalSize, 5000u);
    EXPECT_EQ(info.dataLogicalSize, 9u);

    const FSSpec spec{dir.path(), "snd"};
    SInt16 readOnly = 0;
    ASSERT_EQ(FSpOpenRF(&spec, fsRdPerm, &readOnly), noErr);
    char buffer[10];
    long count = 10;
    ASSERT_EQ(SetFPos(readOnly, fsFromStart, 4990), noErr);
    ASSERT_EQ(FSRead(readOnly, &count, buffer), noErr);
    EXPECT_EQ(QByteArray(buffer, 10), content.right(10));
    count = 1;
    EXPECT_EQ(FSWrite(readOnly, &count, "x"), wrPermErr);
    ASSERT_EQ(FSClose(readOnly), noErr);
}

// ---------------------------------------------------------------- identities

TEST(FileManagerIdentity, RefsSpecsAndPaths)
{
    TestTempDir dir;
    MakeFile(dir, "Song.aif", "x");
    FSRef ref;
    Boolean isFolder = 1;
    ASSERT_EQ(FSPathMakeRef(dir.file("Song.aif"), &ref, &isFolder), noErr);
    EXPECT_FALSE(isFolder);
    EXPECT_EQ(ref.path, dir.file("Song.aif"));
    EXPECT_EQ(FSPathMakeRef(dir.file("song.aif"), &ref), fnfErr);  // case matters on Linux
    EXPECT_EQ(FSPathMakeRef(std::string(), &ref), paramErr);
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>((dir.path() + "/./sub/../Song.aif").c_str()), &ref, nullptr),
              fnfErr);  // "sub" does not exist
    ASSERT_EQ(FSPathMakeRef(dir.path() + "/./Song.aif", &ref), noErr);
    EXPECT_EQ(ref.path, dir.file("Song.aif"));

    UInt8 path[1024];
    ASSERT_EQ(FSRefMakePath(&ref, path, sizeof path), noErr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(path)), dir.file("Song.aif"));
    EXPECT_EQ(FSRefMakePath(&ref, path, UInt32(dir.file("Song.aif").size())), paramErr);  // no room for the NUL
    const FSRef empty;
    EXPECT_EQ(FSRefMakePath(&empty, path, sizeof path), errFSBadFSRef);

    FSSpec spec;
    ASSERT_EQ(FSMakeFSSpec(dir.path(), "Song.aif", &spec), noErr);
    EXPECT_EQ(spec.parent, dir.path());
    EXPECT_EQ(FSSpecPath(spec), dir.file("Song.aif"));
    // A spec for a file still to be made: filled, fnfErr.
    FSSpec future;
    EXPECT_EQ(FSMakeFSSpec(dir.path(), "later.aif", &future), fnfErr);
    EXPECT_EQ(FSSpecPath(future), dir.file("later.aif"));
    EXPECT_EQ(FSMakeFSSpec(dir.file("nope"), "x", &future), dirNFErr);
    EXPECT_EQ(FSMakeFSSpec(dir.file("Song.aif"), "x", &future), dirNFErr);
    ASSERT_EQ(PathMakeFSSpec(dir.file("Song.aif"), &spec), noErr);
    EXPECT_EQ(spec.name, "Song.aif");

    FSRef fromSpec;
    ASSERT_EQ(FSpMakeFSRef(&spec, &fromSpec), noErr);
    EXPECT_TRUE(FSRefsEqual(fromSpec, ref));
    EXPECT_EQ(FSpMakeFSRef(&future, &fromSpec), fnfErr);

    // Once the file is gone its FSRef no longer gives a path.
    ASSERT_EQ(FSDeleteObject(&ref), noErr);
    EXPECT_EQ(FSRefMakePath(&ref, path, sizeof path), fnfErr);
}

TEST(FileManagerIdentity, SerialisedRefsRoundTripAndRejectDamage)
{
    TestTempDir dir;
    const std::string name = "Out \xC3\xA9t\xC3\xA9";
    ASSERT_TRUE(QDir().mkdir(QString::fromStdString(dir.file(name))));
    FSRef ref;
    ASSERT_EQ(FSPathMakeRef(dir.file(name), &ref), noErr);
    const QByteArray stored = FSRefSerialize(ref);
    FSRef back;
    ASSERT_TRUE(FSRefDeserialize(stored, &back));
    EXPECT_EQ(back.path, ref.path);
    EXPECT_EQ(back.device, ref.device);
    EXPECT_EQ(back.inode, ref.inode);
    EXPECT_TRUE(FSRefsEqual(back, ref));

    // Every truncation and extension is refused; *out stays as it was.
    for (int n = 0; n < stored.size(); ++n) {
        FSRef untouched;
        untouched.path = "keep";
        EXPECT_FALSE(FSRefDeserialize(stored.left(n), &untouched)) << n;
        EXPECT_EQ(untouched.path, "keep");
    }
    EXPECT_FALSE(FSRefDeserialize(stored + "x", &back));
    QByteArray badMagic = stored;
    badMagic[0] = 'X';
    EXPECT_FALSE(FSRefDeserialize(badMagic, &back));
    QByteArray hugeLength = stored;
    hugeLength[20] = char(0xFF);
    EXPECT_FALSE(FSRefDeserialize(hugeLength, &back));
    EXPECT_FALSE(FSRefDeserialize(QByteArray(), &back));
}

TEST(FileManagerIdentity, CatalogInfo)
{
    TestTempDir dir;
    MakeFile(dir, "take1.sd2", Pattern(321));
    AppleDoubleFile sidecar(dir.file("take1.sd2"));
    sidecar.setFinderInfo(FOUR_CHAR_CODE("Sd2f"), FOUR_CHAR_CODE("Sd2a"), kHasBundle);
    sidecar.setResourceFork(Pattern(77));
    ASSERT_EQ(sidecar.Write(), noErr);

    FSRef ref;
    ASSERT_EQ(FSPathMakeRef(dir.file("take1.sd2"), &ref), noErr);
    FSCatalogInfo info;
    HFSUniStr255 name;
    FSSpec spec;
    FSRef parent;
    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoGettableInfo, &info, &name, &spec, &parent), noErr);
    EXPECT_EQ(info.nodeFlags & kFSNodeIsDirectoryMask, 0);
    EXPECT_EQ(info.dataLogicalSize, 321u);
    EXPECT_EQ(info.rsrcLogicalSize, 77u);
    EXPECT_EQ(info.finderInfo.fileType, FOUR_CHAR_CODE("Sd2f"));
    EXPECT_EQ(info.finderInfo.fileCreator, FOUR_CHAR_CODE("Sd2a"));
    EXPECT_EQ(info.finderInfo.finderFlags, kHasBundle);
    EXPECT_EQ(info.nodeID, ref.inode);
    EXPECT_EQ(info.parentDirID, parent.inode);
    EXPECT_EQ(HFSUniStr255ToQString(name), "take1.sd2");
    EXPECT_EQ(spec.parent, dir.path());
    EXPECT_EQ(spec.name, "take1.sd2");
    EXPECT_EQ(parent.path, dir.path());

    // Mac-style access to the Finder info still reads right.
    EXPECT_EQ(((FileInfo*)&info.finderInfo)->fileType, FOUR_CHAR_CODE("Sd2f"));

    // Setting Finder info keeps the resource fork.
    info.finderInfo.fileType = FOUR_CHAR_CODE("AIFF");
    info.finderInfo.finderFlags = 0;
    ASSERT_EQ(FSSetCatalogInfo(&ref, kFSCatInfoFinderInfo, &info), noErr);
    AppleDoubleFile after(dir.file("take1.sd2"));
    ASSERT_EQ(after.Read(), noErr);
    EXPECT_EQ(after.fileType(), FOUR_CHAR_CODE("AIFF"));
    EXPECT_EQ(after.fileCreator(), FOUR_CHAR_CODE("Sd2a"));
    EXPECT_EQ(after.resourceFork(), Pattern(77));

    // A folder.
    FSRef folder;
    ASSERT_EQ(FSPathMakeRef(dir.path(), &folder), noErr);
    ASSERT_EQ(FSGetCatalogInfo(&folder, kFSCatInfoNodeFlags, &info, nullptr, nullptr, nullptr), noErr);
    EXPECT_NE(info.nodeFlags & kFSNodeIsDirectoryMask, 0);
    Boolean alias = 1, isFolder = 0;
    ASSERT_EQ(FSIsAliasFile(&folder, &alias, &isFolder), noErr);
    EXPECT_FALSE(alias);
    EXPECT_TRUE(isFolder);
    ASSERT_EQ(FSIsAliasFile(&ref, &alias, &isFolder), noErr);
    EXPECT_FALSE(alias);
    EXPECT_FALSE(isFolder);
    FInfo finfo;
    FSSpec dirSpec;
    ASSERT_EQ(PathMakeFSSpec(dir.path(), &dirSpec), noErr);
    EXPECT_EQ(FSpGetFInfo(&dirSpec, &finfo), fnfErr);

    // A malformed sidecar describes nothing, but does not hide the file;
    // only opening the resource fork reports it, and nothing rewrites it.
    const QByteArray broken = QByteArray::fromHex("0005160700020000");
    ASSERT_TRUE(WriteWholeFile(dir.file("._take1.sd2"), broken));
    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoFinderInfo | kFSCatInfoRsrcSizes, &info, nullptr, nullptr, nullptr),
              noErr);
    EXPECT_EQ(info.finderInfo.fileType, 0u);
    EXPECT_EQ(info.rsrcLogicalSize, 0u);
    const FSSpec take1{dir.path(), "take1.sd2"};
    ASSERT_EQ(FSpGetFInfo(&take1, &finfo), noErr);
    EXPECT_EQ(finfo.fdType, 0u);
    SInt16 rsrc = 0;
    EXPECT_EQ(FSpOpenRF(&take1, fsRdPerm, &rsrc), kAppleDoubleMalformedErr);
    EXPECT_EQ(FSpSetFInfo(&take1, &finfo), kAppleDoubleMalformedErr);
    EXPECT_EQ(ReadWholeFile(dir.file("._take1.sd2")), broken);
}

// ------------------------------------------------- rename, delete, folders

TEST(FileManagerNames, RenameNeverReplacesAndTheSidecarFollows)
{
    TestTempDir dir;
    MakeFile(dir, ".QuillOutFile", "new output");
    ASSERT_EQ(AppleDoubleFile::WriteFinderInfo(dir.file(".QuillOutFile"), FOUR_CHAR_CODE("AIFF"),
                                               FOUR_CHAR_CODE("Quil"), 0),
              noErr);
    MakeFile(dir, "Song.aif", "older file");
    ASSERT_EQ(AppleDoubleFile::WriteFinderInfo(dir.file("Song.aif"), FOUR_CHAR_CODE("WAVE"), 0, 0), noErr);

    const FSSpec temp{dir.path(), ".QuillOutFile"};
    EXPECT_EQ(FSpRename(&temp, "Song.aif"), dupFNErr);
    EXPECT_EQ(ReadWholeFile(dir.file("Song.aif")), "older file");
    EXPECT_EQ(ReadWholeFile(dir.file(".QuillOutFile")), "new output");
    OSType type = 0;
    ASSERT_EQ(AppleDoubleFile::ReadFinderInfo(dir.file("Song.aif"), &type, nullptr, nullptr), noErr);
    EXPECT_EQ(type, FOUR_CHAR_CODE("WAVE"));

    ASSERT_EQ(FSpRename(&temp, "Song 1.aif"), noErr);
    EXPECT_FALSE(FileExistsAt(dir.file(".QuillOutFile")));
    EXPECT_FALSE(FileExistsAt(dir.file("._.QuillOutFile")));
    EXPECT_EQ(ReadWholeFile(dir.file("Song 1.aif")), "new output");
    ASSERT_EQ(AppleDoubleFile::ReadFinderInfo(dir.file("Song 1.aif"), &type, nullptr, nullptr), noErr);
    EXPECT_EQ(type, FOUR_CHAR_CODE("AIFF"));

    // A stale sidecar under the new name does not stick to the renamed file.
    MakeFile(dir, "plain", "p");
    ASSERT_EQ(AppleDoubleFile::WriteFinderInfo(dir.file("stale"), FOUR_CHAR_CODE("OLD "), 0, 0), noErr);
    FSRef plain;
    ASSERT_EQ(FSPathMakeRef(dir.file("plain"), &plain), noErr);
    const QString newName = "stale";
    FSRef renamed;
    ASSERT_EQ(FSRenameUnicode(&plain, UniCharCount(newName.size()), reinterpret_cast<const UniChar*>(newName.utf16()),
                              kTextEncodingUnknown, &renamed),
              noErr);
    EXPECT_EQ(renamed.path, dir.file("stale"));
    EXPECT_EQ(renamed.inode, plain.inode);
    EXPECT_FALSE(FileExistsAt(dir.file("._stale")));

    const FSSpec missing{dir.path(), "missing"};
    EXPECT_EQ(FSpRename(&missing, "other"), fnfErr);
    const FSSpec song{dir.path(), "Song.aif"};
    EXPECT_EQ(FSpRename(&song, std::string(256, 'x')), bdNamErr);
    EXPECT_EQ(FSpRename(&song, "._Song 1.aif"), bdNamErr);

    // Delete takes the sidecar along.
    ASSERT_EQ(FSpDelete(&song), noErr);
    EXPECT_FALSE(FileExistsAt(dir.file("Song.aif")));
    EXPECT_FALSE(FileExistsAt(dir.file("._Song.aif")));
    EXPECT_EQ(FSpDelete(&song), fnfErr);
}

TEST(FileManagerNames, FoldersAndTheTemporaryFolder)
{
    TestTempDir dir;
    FSRef parent;
    ASSERT_EQ(FSPathMakeRef(dir.path(), &parent), noErr);
    const QString name = QString::fromUtf8("Conversion \xC3\xA9");
    FSRef made;
    FSSpec madeSpec;
    UInt32 dirID = 0;
    ASSERT_EQ(FSCreateDirectoryUnicode(&parent, UniCharCount(name.size()),
                                       reinterpret_cast<const UniChar*>(name.utf16()), kFSCatInfoNone, nullptr, &made,
                                       &madeSpec, &dirID),
              noErr);
    EXPECT_EQ(made.path, dir.file("Conversion \xC3\xA9"));
    EXPECT_EQ(madeSpec.name, "Conversion \xC3\xA9");
    EXPECT_EQ(dirID, UInt32(made.inode));
    EXPECT_EQ(FSCreateDirectoryUnicode(&parent, UniCharCount(name.size()),
                                       reinterpret_cast<const UniChar*>(name.utf16()), 0, nullptr, nullptr, nullptr,
                                       nullptr),
              dupFNErr);
    const UniChar lone[] = {0xD800};
    EXPECT_EQ(FSCreateDirectoryUnicode(&parent, 1, lone, 0, nullptr, nullptr, nullptr, nullptr), bdNamErr);
    EXPECT_EQ(FSCreateDirectoryUnicode(&parent, 0, lone, 0, nullptr, nullptr, nullptr, nullptr), bdNamErr);

    const FSSpec inside{made.path, "inside"};
    ASSERT_EQ(FSpCreate(&inside, 0, 0, smSystemScript), noErr);
    EXPECT_EQ(FSDeleteObject(&made), fBsyErr);
    ASSERT_EQ(FSpDelete(&inside), noErr);
    EXPECT_EQ(FSDeleteObject(&made), noErr);

    const char* saved = std::getenv("TMPDIR");
    const std::string savedValue = saved ? saved : "";
    setenv("TMPDIR", (dir.path() + "/").c_str(), 1);
    FSRef temp;
    ASSERT_EQ(FSFindFolder(kUserDomain, kTemporaryFolderType, kDontCreateFolder, &temp), noErr);
    EXPECT_EQ(temp.path, dir.path());
    setenv("TMPDIR", dir.file("does-not-exist").c_str(), 1);
    ASSERT_EQ(FSFindFolder(kOnAppropriateDisk, kTemporaryFolderType, kCreateFolder, &temp), noErr);
    EXPECT_EQ(temp.path, "/tmp");
    EXPECT_EQ(FSFindFolder(kUserDomain, FOUR_CHAR_CODE("pref"), kDontCreateFolder, &temp), fnfErr);
    if (saved)
        setenv("TMPDIR", savedValue.c_str(), 1);
    else
        unsetenv("TMPDIR");
}
