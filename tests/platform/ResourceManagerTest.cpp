#include "AppleDoubleFile.h"
#include "FileManager.h"
#include "MemoryManager.h"
#include "PlatformTestUtil.h"
#include "ResourceManager.h"
#include "TestTempDir.h"

#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <thread>

namespace {

constexpr ResType kSTR = FOUR_CHAR_CODE("STR ");
constexpr ResType kMark = FOUR_CHAR_CODE("sdML");
constexpr ResType kSnd = FOUR_CHAR_CODE("snd ");

UInt32 BE32At(const QByteArray& b, int at)
{
    return qFromBigEndian<UInt32>(b.constData() + at);
}

UInt16 BE16At(const QByteArray& b, int at)
{
    return qFromBigEndian<UInt16>(b.constData() + at);
}

std::string PascalText(const unsigned char* p)
{
    return std::string(reinterpret_cast<const char*>(p + 1), p[0]);
}

// A Str255 from text.
struct PName {
    explicit PName(const std::string& s)
    {
        bytes[0] = UInt8(s.size());
        std::memcpy(bytes + 1, s.data(), s.size());
    }
    Str255 bytes;
};

Handle HandleOf(const QByteArray& data)
{
    Handle h = nullptr;
    EXPECT_EQ(PtrToHand(data.constData(), &h, data.size()), noErr);
    return h;
}

QByteArray BytesOf(Handle h)
{
    return QByteArray(*h, qsizetype(GetHandleSize(h)));
}

FSSpec SpecOf(const std::string& path)
{
    FSSpec spec;
    PathMakeFSSpec(path, &spec);
    return spec;
}

struct Resource {
    ResType type;
    ResID id;
    std::string name;  // empty: none
    ResAttributes attrs;
    QByteArray data;
};

const std::vector<Resource>& SampleResources()
{
    static const std::vector<Resource> resources = {
        {kSTR, 1000, "sample-size", 0, QByteArray("\x01" "2", 2)},
        {kMark, 1000, "", resPurgeable, Pattern(52 * 3 + 8, 1)},
        {kSTR, 1001, "sample-rate", 0, QByteArray("\x0C" "44100.000000", 13)},
        {kSnd, -4096, "a sound", resPurgeable | resLocked, Pattern(700, 2)},
        {kSTR, 1002, "channels", resPreload, QByteArray("\x01" "1", 2)},
        {kSnd, 128, "", 0, QByteArray()},  // empty data
    };
    return resources;
}

// Creates `path` with the sample resources in its resource fork.
void WriteSampleFile(const std::string& path)
{
    const FSSpec spec = SpecOf(path);
    FSpCreateResFile(&spec, FOUR_CHAR_CODE("Sd2a"), FOUR_CHAR_CODE("Sd2f"), 0);
    ASSERT_EQ(ResError(), noErr);
    const ResFileRefNum ref = FSpOpenResFile(&spec, fsRdWrPerm);
    ASSERT_GT(ref, 0) << ResError();
    for (const Resource& r : SampleResources()) {
        Handle h = HandleOf(r.data);
        AddResource(h, r.type, r.id, PName(r.name).bytes);
        ASSERT_EQ(ResError(), noErr);
        if (r.attrs) {
            SetResAttrs(h, r.attrs);
            ASSERT_EQ(ResError(), noErr);
        }
    }
    CloseResFile(ref);
    ASSERT_EQ(ResError(), noErr);
}

// Checks every resource of the current file against the samples.
void ExpectSampleResources(int extraStrings = 0)
{
    EXPECT_EQ(Count1Resources(kSTR), 3 + extraStrings);
    EXPECT_EQ(Count1Resources(kSnd), 2);
    EXPECT_EQ(Count1Resources(kMark), 1);
    EXPECT_EQ(Count1Resources(FOUR_CHAR_CODE("none")), 0);
    for (const Resource& r : SampleResources()) {
        SCOPED_TRACE(r.id);
        Handle h = Get1Resource(r.type, r.id);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(BytesOf(h), r.data);
        ResID id = 0;
        ResType type = 0;
        Str255 name;
        GetResInfo(h, &id, &type, name);
        EXPECT_EQ(ResError(), noErr);
        EXPECT_EQ(id, r.id);
        EXPECT_EQ(type, r.type);
        EXPECT_EQ(PascalText(name), r.name);
        EXPECT_EQ(GetResAttrs(h), r.attrs);
        // The same handle while it stays attached.
        EXPECT_EQ(Get1Resource(r.type, r.id), h);
    }
}

// The fork's layout as every reader expects it.
void ExpectStandardLayout(const QByteArray& fork)
{
    ASSERT_GE(fork.size(), 286);
    const UInt32 dataOffset = BE32At(fork, 0);
    const UInt32 mapOffset = BE32At(fork, 4);
    const UInt32 dataLength = BE32At(fork, 8);
    const UInt32 mapLength = BE32At(fork, 12);
    EXPECT_EQ(dataOffset, 256u);
    EXPECT_EQ(dataOffset + dataLength, mapOffset);
    EXPECT_EQ(UInt64(mapOffset) + mapLength, UInt64(fork.size()));
    EXPECT_EQ(fork.mid(int(mapOffset), 16), fork.left(16));  // header copy
    EXPECT_EQ(BE16At(fork, int(mapOffset) + 24), 28);        // type list
}

// The resource fork of `path` as stored (empty, and a failure, when it
// cannot be read).
QByteArray ForkOf(const std::string& path)
{
    QByteArray fork;
    EXPECT_EQ(AppleDoubleFile::ReadResourceFork(path, &fork), noErr) << path;
    return fork;
}

// Gives the resource behind `h` the bytes `bytes` and marks it changed.
void Replace(Handle h, const QByteArray& bytes)
{
    SetHandleSize(h, bytes.size());
    std::memcpy(*h, bytes.constData(), size_t(bytes.size()));
    ChangedResource(h);
}

TEST(ResourceManager, RoundTripsTypesNamesAttributesAndIDs)
{
    TestTempDir dir;
    const std::string path = dir.file("song.sd2");
    WriteSampleFile(path);

    // Type and creator went to the sidecar with the fork.
    FInfo info;
    const FSSpec spec = SpecOf(path);
    ASSERT_EQ(FSpGetFInfo(&spec, &info), noErr);
    EXPECT_EQ(info.fdType, FOUR_CHAR_CODE("Sd2f"));
    EXPECT_EQ(info.fdCreator, FOUR_CHAR_CODE("Sd2a"));

    const QByteArray fork = ForkOf(path);
    ExpectStandardLayout(fork);

    const ResFileRefNum ref = FSpOpenResFile(&spec, fsRdPerm);
    ASSERT_GT(ref, 0);
    EXPECT_EQ(CurResFile(), ref);
    ExpectSampleResources();

    // Index order within a type is the order of writing.
    Handle second = Get1IndResource(kSTR, 2);
    ResID id = 0;
    GetResInfo(second, &id, nullptr, nullptr);
    EXPECT_EQ(id, 1001);
    EXPECT_EQ(Get1IndResource(kSTR, 4), nullptr);
    EXPECT_EQ(Get1IndResource(kSTR, 0), nullptr);
    EXPECT_EQ(Get1Resource(kSTR, 999), nullptr);
    EXPECT_EQ(ResError(), noErr);  // a missing resource is a null handle only

    // The refNum is a fork refNum too.
    char header[4];
    ByteCount got = 0;
    EXPECT_EQ(FSReadFork(ref, fsFromStart, 0, 4, header, &got), noErr);
    EXPECT_EQ(qFromBigEndian<UInt32>(header), 256u);

    // Nothing may be written through a read-only file.
    Handle extra = HandleOf("x");
    AddResource(extra, kSTR, 5, nullptr);
    EXPECT_EQ(ResError(), wrPermErr);
    DisposeHandle(extra);
    CloseResFile(ref);
    EXPECT_EQ(ResError(), noErr);
    EXPECT_EQ(OpenResFileCount(), 0);
    EXPECT_EQ(OpenForkCount(), 0);

    // Reading changed nothing.
    const QByteArray after = ForkOf(path);
    EXPECT_EQ(after, fork);
}

TEST(ResourceManager, RewritesResourcesLargerAndSmallerWithoutStaleBytes)
{
    TestTempDir dir;
    const std::string path = dir.file("grow.sd2");
    WriteSampleFile(path);
    const FSSpec spec = SpecOf(path);
    const QByteArray before = ForkOf(path);

    const QByteArray larger = Pattern(5000, 9);
    const QByteArray smaller("tiny");
    ResFileRefNum ref = FSpOpenResFile(&spec, fsRdWrPerm);
    ASSERT_GT(ref, 0);
    Handle h = Get1Resource(kSnd, -4096);
    ASSERT_NE(h, nullptr);
    Replace(h, larger);
    ASSERT_EQ(ResError(), noErr);
    WriteResource(h);
    ASSERT_EQ(ResError(), noErr);
    Handle m = Get1Resource(kMark, 1000);
    Replace(m, smaller);
    SetResInfo(m, 1005, PName("renamed").bytes);
    ASSERT_EQ(ResError(), noErr);
    CloseResFile(ref);
    ASSERT_EQ(ResError(), noErr);

    const QByteArray fork = ForkOf(path);
    ExpectStandardLayout(fork);
    const int nameGrowth = 1 + 7;  // "renamed" where there was no name
    EXPECT_EQ(fork.size(), before.size() + (5000 - 700) + (4 - (52 * 3 + 8)) + nameGrowth);

    ref = FSpOpenResFile(&spec, fsRdPerm);
    ASSERT_GT(ref, 0);
    EXPECT_EQ(BytesOf(Get1Resource(kSnd, -4096)), larger);
    EXPECT_EQ(Get1Resource(kMark, 1000), nullptr);
    Handle renamed = Get1Resource(kMark, 1005);
    ASSERT_NE(renamed, nullptr);
    EXPECT_EQ(BytesOf(renamed), smaller);
    Str255 name;
    GetResInfo(renamed, nullptr, nullptr, name);
    EXPECT_EQ(PascalText(name), "renamed");
    EXPECT_EQ(BytesOf(Get1Resource(kSTR, 1001)), SampleResources()[2].data);
    CloseResFile(ref);

    // Shrinking back gives the original bytes again.
    ref = FSpOpenResFile(&spec, fsRdWrPerm);
    Handle back = Get1Resource(kSnd, -4096);
    Replace(back, SampleResources()[3].data.left(700));
    Handle mark = Get1Resource(kMark, 1005);
    Replace(mark, SampleResources()[1].data);
    SetResInfo(mark, 1000, PName("").bytes);
    CloseResFile(ref);
    ASSERT_EQ(ResError(), noErr);
    const QByteArray restored = ForkOf(path);
    EXPECT_EQ(restored, before);
}

TEST(ResourceManager, RemovesDetachesAndGuardsProtectedResources)
{
    TestTempDir dir;
    const std::string path = dir.file("edit.sd2");
    WriteSampleFile(path);
    const FSSpec spec = SpecOf(path);
    ResFileRefNum ref = FSpOpenResFile(&spec, fsRdWrPerm);
    ASSERT_GT(ref, 0);

    Handle h = Get1Resource(kSTR, 1002);
    SetResAttrs(h, resProtected);
    ChangedResource(h);
    EXPECT_EQ(ResError(), resAttrErr);
    RemoveResource(h);
    EXPECT_EQ(ResError(), rmvResFailed);
    SetResInfo(h, 7, nullptr);
    EXPECT_EQ(ResError(), resAttrErr);
    SetResAttrs(h, 0);
    RemoveResource(h);
    EXPECT_EQ(ResError(), noErr);
    DisposeHandle(h);  // the caller's after removal
    EXPECT_EQ(MemError(), noErr);

    // A detached handle is the caller's; the resource stays.
    Handle detached = Get1Resource(kSTR, 1000);
    DetachResource(detached);
    EXPECT_EQ(ResError(), noErr);
    Handle again = Get1Resource(kSTR, 1000);
    EXPECT_NE(again, detached);
    EXPECT_EQ(BytesOf(again), BytesOf(detached));
    DisposeHandle(detached);

    // Disposing of an attached handle takes it out of the file without harm.
    Handle added = HandleOf("temporary");
    AddResource(added, kSTR, 2000, nullptr);
    ASSERT_EQ(ResError(), noErr);
    DetachResource(added);
    EXPECT_EQ(ResError(), resAttrErr);  // unwritten changes
    DisposeHandle(added);
    EXPECT_EQ(Get1Resource(kSTR, 2000), nullptr);

    CloseResFile(ref);
    ASSERT_EQ(ResError(), noErr);
    ref = FSpOpenResFile(&spec, fsRdPerm);
    EXPECT_EQ(Count1Resources(kSTR), 2);
    EXPECT_EQ(Get1Resource(kSTR, 1002), nullptr);
    CloseResFile(ref);
}

TEST(ResourceManager, OpeningForReadingNeverCreatesAnything)
{
    TestTempDir dir;
    const std::string path = dir.file("plain.aif");
    FSSpec spec = SpecOf(path);
    EXPECT_EQ(FSpOpenResFile(&spec, fsRdPerm), -1);
    EXPECT_EQ(ResError(), fnfErr);
    EXPECT_FALSE(FileExistsAt(path));

    ASSERT_TRUE(WriteWholeFile(path, "data"));
    spec = SpecOf(path);
    EXPECT_EQ(FSpOpenResFile(&spec, fsRdPerm), -1);
    EXPECT_EQ(ResError(), errFSForkNotFound);
    EXPECT_EQ(FSpOpenResFile(&spec, fsRdWrPerm), -1);
    EXPECT_EQ(ResError(), errFSForkNotFound);
    EXPECT_FALSE(FileExistsAt(AppleDoubleFile::SidecarPathFor(path)));

    // An empty fork is end-of-file until it is given a map.
    FSRef ref;
    ASSERT_EQ(FSPathMakeRef(path, &ref), noErr);
    HFSUniStr255 rsrc;
    FSGetResourceForkName(&rsrc);
    ASSERT_EQ(FSCreateResourceFork(&ref, rsrc.length, rsrc.unicode, 0), noErr);
    ResFileRefNum refNum = 0;
    EXPECT_EQ(FSOpenResourceFile(&ref, rsrc.length, rsrc.unicode, fsRdPerm, &refNum), eofErr);
    EXPECT_EQ(refNum, 0);
    ASSERT_EQ(InitResourceFork(&ref, rsrc.length, rsrc.unicode), noErr);
    EXPECT_EQ(InitResourceFork(&ref, rsrc.length, rsrc.unicode), errFSForkExists);
    ASSERT_EQ(FSOpenResourceFile(&ref, rsrc.length, rsrc.unicode, fsRdPerm, &refNum), noErr);
    EXPECT_EQ(Count1Resources(kSTR), 0);
    CloseResFile(refNum);
    const QByteArray fork = ForkOf(path);
    EXPECT_EQ(fork.size(), 286);
    ExpectStandardLayout(fork);

    FSRef folder;
    ASSERT_EQ(FSPathMakeRef(dir.path(), &folder), noErr);
    EXPECT_EQ(InitResourceFork(&folder, rsrc.length, rsrc.unicode), notAFileErr);

    // Creating the resource file of a file with a map changes nothing.
    FSpCreateResFile(&spec, 1, 2, 0);
    EXPECT_EQ(ResError(), dupFNErr);
    EXPECT_EQ(ReadWholeFile(path), QByteArray("data"));
    EXPECT_EQ(OpenForkCount(), 0);
}

TEST(ResourceManager, ReadsABareForkInTheSidecarAndADataForkMap)
{
    TestTempDir dir;
    const std::string source = dir.file("source.sd2");
    WriteSampleFile(source);
    const QByteArray fork = ForkOf(source);

    // "._name" holding the fork itself, as some tools write it.
    const std::string bare = dir.file("bare.sd2");
    ASSERT_TRUE(WriteWholeFile(bare, ""));
    ASSERT_TRUE(WriteWholeFile(AppleDoubleFile::SidecarPathFor(bare), fork));
    FSSpec spec = SpecOf(bare);
    ResFileRefNum ref = FSpOpenResFile(&spec, fsRdWrPerm);
    ASSERT_GT(ref, 0) << ResError();
    ExpectSampleResources();
    Handle h = HandleOf("new");
    AddResource(h, kSTR, 3000, PName("added").bytes);
    CloseResFile(ref);
    ASSERT_EQ(ResError(), noErr);
    ref = FSpOpenResFile(&spec, fsRdPerm);
    ASSERT_GT(ref, 0);
    ExpectSampleResources(1);
    EXPECT_EQ(BytesOf(Get1Resource(kSTR, 3000)), QByteArray("new"));
    CloseResFile(ref);

    // A file whose data fork is a resource fork.
    const std::string data = dir.file("Atoms.data");
    ASSERT_TRUE(WriteWholeFile(data, fork));
    FSRef fileRef;
    ASSERT_EQ(FSPathMakeRef(data, &fileRef), noErr);
    ResFileRefNum dataRef = 0;
    ASSERT_EQ(FSOpenResourceFile(&fileRef, 0, nullptr, fsRdPerm, &dataRef), noErr);
    ExpectSampleResources();
    CloseResFile(dataRef);
    EXPECT_FALSE(FileExistsAt(AppleDoubleFile::SidecarPathFor(data)));
}

TEST(ResourceManager, ReadsPartsOfUnloadedResourcesWithinBounds)
{
    TestTempDir dir;
    const std::string path = dir.file("partial.sd2");
    WriteSampleFile(path);
    const FSSpec spec = SpecOf(path);
    const ResFileRefNum ref = FSpOpenResFile(&spec, fsRdPerm);
    ASSERT_GT(ref, 0);
    SetResLoad(false);
    Handle h = Get1IndResource(kSnd, 1);
    SetResLoad(true);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GetHandleSize(h), 0);  // not loaded

    const QByteArray& data = SampleResources()[3].data;
    char buffer[100];
    ReadPartialResource(h, 600, buffer, 100);
    ASSERT_EQ(ResError(), noErr);
    EXPECT_EQ(QByteArray(buffer, 100), data.mid(600, 100));
    ReadPartialResource(h, 601, buffer, 100);
    EXPECT_EQ(ResError(), inputOutOfBounds);
    ReadPartialResource(h, -1, buffer, 1);
    EXPECT_EQ(ResError(), inputOutOfBounds);
    ReadPartialResource(h, 0, buffer, -5);
    EXPECT_EQ(ResError(), inputOutOfBounds);
    ReadPartialResource(h, 700, buffer, 0);
    EXPECT_EQ(ResError(), noErr);
    CloseResFile(ref);
    // The file's handles went with it.
    EXPECT_FALSE(IsValidHandle(h));
    ReadPartialResource(h, 0, buffer, 1);
    EXPECT_EQ(ResError(), resNotFound);
}

TEST(ResourceManager, KeepsTheCurrentFileAndTheChainPerThread)
{
    TestTempDir dir;
    const std::string a = dir.file("a.sd2");
    const std::string b = dir.file("b.sd2");
    WriteSampleFile(a);
    FSSpec specB = SpecOf(b);
    FSpCreateResFile(&specB, 0, 0, 0);
    ASSERT_EQ(ResError(), noErr);

    const FSSpec specA = SpecOf(a);
    const ResFileRefNum refA = FSpOpenResFile(&specA, fsRdPerm);
    const ResFileRefNum refB = FSpOpenResFile(&specB, fsRdWrPerm);
    ASSERT_GT(refA, 0);
    ASSERT_GT(refB, 0);
    EXPECT_EQ(CurResFile(), refB);
    EXPECT_EQ(Get1Resource(kSTR, 1000), nullptr);   // this file only
    EXPECT_NE(GetResource(kSTR, 1000), nullptr);    // down the chain

    ResFileRefNum seenByOther = -1;
    std::thread other([&] {
        seenByOther = CurResFile();
        UseResFile(refA);
    });
    other.join();
    EXPECT_EQ(seenByOther, 0);
    EXPECT_EQ(CurResFile(), refB);

    UseResFile(refA);
    EXPECT_EQ(GetResource(FOUR_CHAR_CODE("none"), 1), nullptr);
    UseResFile(refB);
    CloseResFile(refB);
    EXPECT_EQ(CurResFile(), refA);  // the one opened before
    UseResFile(refB);
    EXPECT_EQ(ResError(), resFNotFound);
    CloseResFile(refA);
    EXPECT_EQ(CurResFile(), 0);
    CloseResFile(refA);
    EXPECT_EQ(ResError(), resFNotFound);
}

// Opens a fork held in a sidecar and touches every resource; the answer
// must be an error or a consistent reading.
void ProbeFork(const std::string& dataPath, const QByteArray& fork)
{
    ASSERT_TRUE(WriteWholeFile(AppleDoubleFile::SidecarPathFor(dataPath), fork));
    const FSSpec spec = SpecOf(dataPath);
    const ResFileRefNum ref = FSpOpenResFile(&spec, fsRdPerm);
    if (ref == -1) {
        EXPECT_NE(ResError(), noErr);
        return;
    }
    for (ResType type : {kSTR, kMark, kSnd}) {
        const int count = Count1Resources(type);
        for (int i = 1; i <= count; ++i) {
            Handle h = Get1IndResource(type, ResourceIndex(i));
            if (!h)
                continue;
            Str255 name;
            GetResInfo(h, nullptr, nullptr, name);
            const Size size = GetHandleSize(h);
            EXPECT_LE(size, fork.size());
            char buffer[16];
            ReadPartialResource(h, 0, buffer, std::min<long>(16, size));
            EXPECT_EQ(ResError(), noErr);
        }
    }
    CloseResFile(ref);

    // What was accepted can be written back and read again.
    const ResFileRefNum writable = FSpOpenResFile(&spec, fsRdWrPerm);
    ASSERT_GT(writable, 0) << ResError();
    Handle added = HandleOf("added");
    AddResource(added, kSTR, 32000, PName("added").bytes);
    ASSERT_EQ(ResError(), noErr);
    CloseResFile(writable);
    ASSERT_EQ(ResError(), noErr);
    const ResFileRefNum again = FSpOpenResFile(&spec, fsRdPerm);
    ASSERT_GT(again, 0) << ResError();
    EXPECT_EQ(BytesOf(Get1Resource(kSTR, 32000)), QByteArray("added"));
    CloseResFile(again);
}

TEST(ResourceManager, DamagedMapsGiveErrorsNeverCrashes)
{
    TestTempDir dir;
    const std::string source = dir.file("valid.sd2");
    WriteSampleFile(source);
    const QByteArray fork = ForkOf(source);

    // Thousands of sidecars are written: in memory where that is possible.
    QTemporaryDir memory(QStringLiteral("/dev/shm/qm-rsrc-fuzz-XXXXXX"));
    const std::string target = memory.isValid() ? memory.path().toStdString() + "/damaged.sd2"
                                                : dir.file("damaged.sd2");
    ASSERT_TRUE(WriteWholeFile(target, ""));
    int refused = 0;
    for (int i = 0; i < fork.size(); ++i) {
        for (const char value : {char(fork[i] ^ 0xFF), char(0xFF), char(0x00), char(fork[i] ^ 0x01)}) {
            QByteArray damaged = fork;
            damaged[i] = value;
            if (damaged[0] == 0x00 && damaged[1] == 0x05 && damaged[2] == 0x16)
                continue;  // would read as AppleDouble: another parser
            ProbeFork(target, damaged);
            refused += ResError() == mapReadErr;
        }
    }
    EXPECT_GT(refused, 0);
    // Random damage of several bytes at once, mostly in the map.
    std::mt19937 random(1234);
    const int mapOffset = int(BE32At(fork, 4));
    for (int round = 0; round < 1500; ++round) {
        QByteArray damaged = fork;
        const int changes = 1 + int(random() % 4);
        for (int c = 0; c < changes; ++c) {
            const int at = round % 4 == 0 ? int(random() % fork.size())
                                          : mapOffset + int(random() % (fork.size() - mapOffset));
            damaged[at] = char(random());
        }
        if (damaged[0] == 0x00 && damaged[1] == 0x05 && damaged[2] == 0x16)
            continue;
        ProbeFork(target, damaged);
    }
    // Every truncation.
    for (int length = 0; length < fork.size(); length += 3)
        ProbeFork(target, fork.left(length));
    EXPECT_EQ(OpenResFileCount(), 0);
    EXPECT_EQ(OpenForkCount(), 0);
}

TEST(ResourceManager, RefusesMapsThatPromiseMoreThanTheFork)
{
    TestTempDir dir;
    const std::string target = dir.file("lies.sd2");
    ASSERT_TRUE(WriteWholeFile(target, ""));
    const FSSpec spec = SpecOf(target);

    // Header: data 256 + 0, map at 256 of 30 bytes.  Map with one type whose
    // count word claims 65536 resources.
    QByteArray fork(256, '\0');
    qToBigEndian<UInt32>(256, fork.data());
    qToBigEndian<UInt32>(256, fork.data() + 4);
    qToBigEndian<UInt32>(0, fork.data() + 8);
    QByteArray map(28, '\0');
    qToBigEndian<UInt16>(28, map.data() + 24);
    qToBigEndian<UInt16>(38, map.data() + 26);
    map.append("\x00\x00" "STR " "\xFF\xFF" "\x00\x0A", 10);
    QByteArray lying = fork;
    qToBigEndian<UInt32>(UInt32(map.size()), lying.data() + 12);
    lying.append(map);
    ASSERT_TRUE(WriteWholeFile(AppleDoubleFile::SidecarPathFor(target), lying));
    EXPECT_EQ(FSpOpenResFile(&spec, fsRdPerm), -1);
    EXPECT_EQ(ResError(), mapReadErr);

    // Many types sharing one reference list that points at data far away.
    QByteArray shared(28, '\0');
    qToBigEndian<UInt16>(28, shared.data() + 24);
    qToBigEndian<UInt16>(0, shared.data() + 26);
    const int types = 200;
    QByteArray typeList(2, '\0');
    qToBigEndian<UInt16>(UInt16(types - 1), typeList.data());
    for (int t = 0; t < types; ++t) {
        char entry[8];
        qToBigEndian<UInt32>(0x41414100 + UInt32(t), entry);
        qToBigEndian<UInt16>(99, entry + 4);  // 100 resources each
        qToBigEndian<UInt16>(UInt16(2 + types * 8), entry + 6);
        typeList.append(entry, 8);
    }
    shared.append(typeList);
    shared.append(QByteArray(100 * 12, '\0'));
    QByteArray sharing = fork;
    qToBigEndian<UInt32>(UInt32(shared.size()), sharing.data() + 12);
    sharing.append(shared);
    ASSERT_TRUE(WriteWholeFile(AppleDoubleFile::SidecarPathFor(target), sharing));
    EXPECT_EQ(FSpOpenResFile(&spec, fsRdPerm), -1);
    EXPECT_EQ(ResError(), mapReadErr);
}

} // namespace
