#include "AppleDoubleFile.h"
#include "FileManager.h"
#include "PlatformTestUtil.h"
#include "TestTempDir.h"
#include "PeerTools.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>
#include <QtEndian>

namespace {

UInt32 BE32(const QByteArray& bytes, int offset)
{
    return qFromBigEndian<UInt32>(bytes.constData() + offset);
}

struct Descriptor {
    UInt32 id, offset, length;
};

std::vector<Descriptor> Descriptors(const QByteArray& sidecar)
{
    std::vector<Descriptor> out;
    const int count = qFromBigEndian<UInt16>(sidecar.constData() + 24);
    for (int i = 0; i < count; ++i)
        out.push_back({BE32(sidecar, 26 + 12 * i), BE32(sidecar, 30 + 12 * i), BE32(sidecar, 34 + 12 * i)});
    return out;
}

// A valid sidecar with Finder info, a comment entry (id 4) and a fork.
QByteArray SampleSidecar()
{
    AppleDoubleFile sidecar("/nowhere/x");
    sidecar.setFinderInfo(FOUR_CHAR_CODE("AIFF"), FOUR_CHAR_CODE("Quil"), kIsInvisible);
    sidecar.setResourceFork(Pattern(300, 5));
    QByteArray bytes = sidecar.Serialize();
    return bytes;
}

} // namespace

TEST(AppleDoubleFile, LayoutOfAWrittenSidecar)
{
    TestTempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.file("a.aif"), "data"));
    AppleDoubleFile sidecar(dir.file("a.aif"));
    EXPECT_EQ(sidecar.sidecarPath(), dir.file("._a.aif"));
    sidecar.setFinderInfo(FOUR_CHAR_CODE("AIFF"), FOUR_CHAR_CODE("Quil"), 0x0100);
    sidecar.setResourceFork("fork");
    ASSERT_EQ(sidecar.Write(), noErr);

    const QByteArray bytes = ReadWholeFile(dir.file("._a.aif"));
    EXPECT_EQ(BE32(bytes, 0), 0x00051607u);
    EXPECT_EQ(BE32(bytes, 4), 0x00020000u);
    EXPECT_EQ(bytes.mid(8, 16), QByteArray(16, '\0'));
    const auto entries = Descriptors(bytes);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].id, 9u);
    EXPECT_EQ(entries[0].offset, 50u);
    EXPECT_EQ(entries[0].length, 32u);
    EXPECT_EQ(entries[1].id, 2u);
    EXPECT_EQ(entries[1].offset, 82u);
    EXPECT_EQ(entries[1].length, 4u);
    EXPECT_EQ(bytes.size(), 86);
    EXPECT_EQ(bytes.mid(50, 10), QByteArray::fromHex("41494646517569 6c0100").replace(" ", ""));
    EXPECT_EQ(bytes.right(4), "fork");
}

TEST(AppleDoubleFile, RoundTripsOfFinderInfoAndFork)
{
    TestTempDir dir;
    const std::string file = dir.file("take.sd2");
    ASSERT_TRUE(WriteWholeFile(file, "data"));

    // Finder info alone.
    ASSERT_EQ(AppleDoubleFile::WriteFinderInfo(file, FOUR_CHAR_CODE("Sd2f"), FOUR_CHAR_CODE("Sd2a"), 0x4000), noErr);
    OSType type = 0, creator = 0;
    UInt16 flags = 0;
    ASSERT_EQ(AppleDoubleFile::ReadFinderInfo(file, &type, &creator, &flags), noErr);
    EXPECT_EQ(type, FOUR_CHAR_CODE("Sd2f"));
    EXPECT_EQ(creator, FOUR_CHAR_CODE("Sd2a"));
    EXPECT_EQ(flags, 0x4000);
    bool hasFork = true;
    QByteArray fork;
    ASSERT_EQ(AppleDoubleFile::ReadResourceFork(file, &fork, &hasFork), noErr);
    EXPECT_FALSE(hasFork);

    // Adding a fork keeps the Finder info; growing it keeps both, fork last.
    ASSERT_EQ(AppleDoubleFile::WriteResourceFork(file, Pattern(100)), noErr);
    ASSERT_EQ(AppleDoubleFile::WriteResourceFork(file, Pattern(200000, 1)), noErr);
    ASSERT_EQ(AppleDoubleFile::ReadResourceFork(file, &fork, &hasFork), noErr);
    EXPECT_TRUE(hasFork);
    EXPECT_EQ(fork, Pattern(200000, 1));
    ASSERT_EQ(AppleDoubleFile::ReadFinderInfo(file, &type, &creator, &flags), noErr);
    EXPECT_EQ(type, FOUR_CHAR_CODE("Sd2f"));
    const auto entries = Descriptors(ReadWholeFile(dir.file("._take.sd2")));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries.back().id, 2u);
    EXPECT_EQ(entries.back().offset + entries.back().length, UInt32(ReadWholeFile(dir.file("._take.sd2")).size()));

    // Changing the Finder info keeps the fork; shrinking the fork works too.
    ASSERT_EQ(AppleDoubleFile::WriteFinderInfo(file, FOUR_CHAR_CODE("AIFF"), 0, 0), noErr);
    ASSERT_EQ(AppleDoubleFile::WriteResourceFork(file, "x"), noErr);
    AppleDoubleFile sidecar(file);
    ASSERT_EQ(sidecar.Read(), noErr);
    EXPECT_EQ(sidecar.fileType(), FOUR_CHAR_CODE("AIFF"));
    EXPECT_EQ(sidecar.resourceFork(), "x");

    // An empty fork still exists.
    sidecar.setResourceFork(QByteArray());
    ASSERT_EQ(sidecar.Write(), noErr);
    ASSERT_EQ(AppleDoubleFile::ReadResourceFork(file, &fork, &hasFork), noErr);
    EXPECT_TRUE(hasFork);
    EXPECT_TRUE(fork.isEmpty());

    // Nothing left: the sidecar goes.
    sidecar.removeResourceFork();
    sidecar.removeFinderInfo();
    ASSERT_EQ(sidecar.Write(), noErr);
    EXPECT_FALSE(FileExistsAt(dir.file("._take.sd2")));
}

TEST(AppleDoubleFile, ForeignEntriesAndLongFinderInfoAreKept)
{
    // A sidecar as another system writes it: a 3,000-byte Finder info entry
    // (extended attributes after the 32 bytes) and a comment entry (id 4).
    QByteArray finder = Pattern(3000, 2);
    finder.replace(0, 4, "TEXT");
    QByteArray bytes;
    auto be32 = [&](UInt32 v) {
        char b[4];
        qToBigEndian<UInt32>(v, b);
        bytes.append(b, 4);
    };
    be32(0x00051607);
    be32(0x00020000);
    bytes.append(QByteArray(16, 'M'));  // "Mac OS X        " filler in the wild
    bytes.append(char(0)).append(char(3));
    const UInt32 start = 26 + 36;
    be32(9), be32(start), be32(3000);
    be32(4), be32(start + 3000), be32(7);
    be32(2), be32(start + 3007), be32(3);
    bytes.append(finder).append("comment").append("rsc");

    TestTempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.file("f"), ""));
    ASSERT_TRUE(WriteWholeFile(dir.file("._f"), bytes));
    AppleDoubleFile sidecar(dir.file("f"));
    ASSERT_EQ(sidecar.Read(), noErr);
    EXPECT_EQ(sidecar.fileType(), FOUR_CHAR_CODE("TEXT"));
    EXPECT_EQ(sidecar.resourceFork(), "rsc");
    sidecar.setFinderInfo(FOUR_CHAR_CODE("AIFF"), 0, 0);
    ASSERT_EQ(sidecar.Write(), noErr);

    const QByteArray written = ReadWholeFile(dir.file("._f"));
    const auto entries = Descriptors(written);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].id, 9u);
    EXPECT_EQ(entries[0].length, 3000u);
    EXPECT_EQ(written.mid(int(entries[0].offset) + 32, 2968), finder.mid(32));
    EXPECT_EQ(entries[1].id, 4u);
    EXPECT_EQ(written.mid(int(entries[1].offset), 7), "comment");
    EXPECT_EQ(entries[2].id, 2u);
}

TEST(AppleDoubleFile, ReadingNeverCreatesASidecar)
{
    TestTempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.file("plain.wav"), "x"));
    AppleDoubleFile sidecar(dir.file("plain.wav"));
    ASSERT_EQ(sidecar.Read(), noErr);
    EXPECT_FALSE(sidecar.exists());
    EXPECT_EQ(sidecar.fileType(), 0u);
    FSRef ref;
    ASSERT_EQ(FSPathMakeRef(dir.file("plain.wav"), &ref), noErr);
    FSCatalogInfo info;
    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoGettableInfo, &info, nullptr, nullptr, nullptr), noErr);
    const FSSpec spec{dir.path(), "plain.wav"};
    SInt16 refNum = 0;
    EXPECT_EQ(FSpOpenRF(&spec, fsRdPerm, &refNum), errFSForkNotFound);
    EXPECT_EQ(ReadWholeFile(dir.file("plain.wav")), "x");
    EXPECT_FALSE(FileExistsAt(dir.file("._plain.wav")));
    EXPECT_EQ(sidecar.Remove(), noErr);
}

TEST(AppleDoubleFile, BareResourceForkIsAccepted)
{
    TestTempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.file("s.sd2"), "audio"));
    QByteArray bare = QByteArray::fromHex("00000100000001290000002900000093");
    bare.append(Pattern(0x129 + 0x93 - 16, 4));
    ASSERT_TRUE(WriteWholeFile(dir.file("._s.sd2"), bare));
    QByteArray fork;
    bool exists = false;
    ASSERT_EQ(AppleDoubleFile::ReadResourceFork(dir.file("s.sd2"), &fork, &exists), noErr);
    EXPECT_TRUE(exists);
    EXPECT_EQ(fork, bare);
    OSType type = 1;
    ASSERT_EQ(AppleDoubleFile::ReadFinderInfo(dir.file("s.sd2"), &type, nullptr, nullptr), noErr);
    EXPECT_EQ(type, 0u);

    // Adding Finder info turns it into AppleDouble without losing the fork.
    ASSERT_EQ(AppleDoubleFile::WriteFinderInfo(dir.file("s.sd2"), FOUR_CHAR_CODE("Sd2f"), 0, 0), noErr);
    EXPECT_EQ(BE32(ReadWholeFile(dir.file("._s.sd2")), 0), AppleDoubleFile::kMagic);
    ASSERT_EQ(AppleDoubleFile::ReadResourceFork(dir.file("s.sd2"), &fork, &exists), noErr);
    EXPECT_EQ(fork, bare);
}

TEST(AppleDoubleFile, MalformedSidecarsGiveErrorsNotCrashes)
{
    const QByteArray valid = SampleSidecar();
    AppleDoubleFile parser("/nowhere/x");
    ASSERT_EQ(parser.Parse(valid), noErr);
    ASSERT_EQ(parser.resourceFork(), Pattern(300, 5));

    // Every truncation: an error, or (for the first 3 bytes, no magic) a bare fork.
    for (int n = 0; n < valid.size(); ++n) {
        const OSErr err = parser.Parse(valid.left(n));
        if (n < 4) {
            EXPECT_EQ(err, noErr);
            EXPECT_TRUE(parser.wasBareResourceFork());
        } else {
            EXPECT_EQ(err, kAppleDoubleMalformedErr) << "length " << n;
            EXPECT_FALSE(parser.hasResourceFork());
        }
    }

    // Offsets and lengths that point outside the file.
    auto withField = [&](int offset, UInt32 value) {
        QByteArray bytes = valid;
        qToBigEndian<UInt32>(value, bytes.data() + offset);
        return bytes;
    };
    for (UInt32 bad : {0xFFFFFFFFu, 0x80000000u, UInt32(valid.size()) + 1})
        EXPECT_EQ(parser.Parse(withField(30, bad)), kAppleDoubleMalformedErr);  // first entry's offset
    EXPECT_EQ(parser.Parse(withField(46, 0xFFFFFFF0u)), kAppleDoubleMalformedErr);  // fork length
    EXPECT_EQ(parser.Parse(withField(42, 0xFFFFFFF0u)), kAppleDoubleMalformedErr);  // fork offset
    QByteArray manyEntries = valid;
    manyEntries[24] = char(0xFF);
    manyEntries[25] = char(0xFF);
    EXPECT_EQ(parser.Parse(manyEntries), kAppleDoubleMalformedErr);
    EXPECT_EQ(parser.Parse(withField(4, 0x00030000)), kAppleDoubleMalformedErr);  // unknown version
    EXPECT_EQ(parser.Parse(withField(38, 9)), kAppleDoubleMalformedErr);          // two Finder infos

    // Damage each byte in several ways: an error or a consistent result.
    for (int i = 0; i < valid.size(); ++i) {
        for (int value : {0x00, 0xFF, 0x80, 0x7F, valid[i] ^ 0x01, valid[i] ^ 0x40}) {
            QByteArray damaged = valid;
            damaged[i] = char(value);
            const OSErr err = parser.Parse(damaged);
            if (err == noErr) {
                EXPECT_LE(parser.resourceFork().size(), damaged.size());
                EXPECT_EQ(parser.finderInfoBytes().size(), AppleDoubleFile::kFinderInfoSize);
                // Whatever was read can be written back and read again.
                AppleDoubleFile again("/nowhere/x");
                EXPECT_EQ(again.Parse(parser.Serialize()), noErr);
                EXPECT_EQ(again.resourceFork(), parser.resourceFork());
            } else {
                EXPECT_EQ(err, kAppleDoubleMalformedErr);
            }
        }
    }
}

TEST(AppleDoubleFile, MalformedSidecarOnDiskIsNotRewritten)
{
    TestTempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.file("f"), "x"));
    const QByteArray broken = SampleSidecar().left(40);
    ASSERT_TRUE(WriteWholeFile(dir.file("._f"), broken));
    EXPECT_EQ(AppleDoubleFile::WriteResourceFork(dir.file("f"), "new"), kAppleDoubleMalformedErr);
    EXPECT_EQ(ReadWholeFile(dir.file("._f")), broken);
    // A folder where the sidecar should be.
    ASSERT_TRUE(QDir().mkdir(dir.qpath() + "/._g"));
    ASSERT_TRUE(WriteWholeFile(dir.file("g"), "x"));
    AppleDoubleFile g(dir.file("g"));
    EXPECT_NE(g.Read(), noErr);
}

namespace {

// Makes dir/out.sd2 (0.1 s of 44.1 kHz stereo) with sox and sndfile-convert;
// false when either program is missing.
bool MakeSoundDesignerII(const TestTempDir& dir)
{
    if (!peers::Have("sox") || !peers::Have("sndfile-convert"))
        return false;
    EXPECT_EQ(peers::Run("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", dir.qpath() + "/in.wav", "synth", "0.1",
                                 "sine", "440"})
                  .exitCode,
              0);
    const peers::RunResult convert = peers::Run("sndfile-convert", {dir.qpath() + "/in.wav", dir.qpath() + "/out.sd2"});
    EXPECT_EQ(convert.exitCode, 0) << convert.err.toStdString();
    return true;
}

// What sndfile-info reports about `path`, or an empty text when it fails.
QString SndfileInfo(const std::string& path)
{
    const peers::RunResult r = peers::Run("sndfile-info", {QString::fromStdString(path)});
    return r.exitCode == 0 ? QString::fromUtf8(r.out) : QString();
}

} // namespace

TEST(AppleDoubleFile, ReadsTheSidecarThatLibsndfileWritesForSoundDesignerII)
{
    QM_REQUIRE_PEER("sox");
    QM_REQUIRE_PEER("sndfile-convert");
    TestTempDir dir;
    ASSERT_TRUE(MakeSoundDesignerII(dir));
    ASSERT_TRUE(FileExistsAt(dir.file("._out.sd2")));

    QByteArray fork;
    bool exists = false;
    ASSERT_EQ(AppleDoubleFile::ReadResourceFork(dir.file("out.sd2"), &fork, &exists), noErr);
    ASSERT_TRUE(exists);
    ASSERT_GE(fork.size(), 16);
    // The resource fork header: data offset, map offset, data length, map length.
    const UInt32 dataOffset = BE32(fork, 0), mapOffset = BE32(fork, 4);
    const UInt32 dataLength = BE32(fork, 8), mapLength = BE32(fork, 12);
    EXPECT_EQ(dataOffset, 0x100u);
    EXPECT_LE(UInt64(dataOffset) + dataLength, mapOffset);
    EXPECT_EQ(UInt64(mapOffset) + mapLength, UInt64(fork.size()));
    // The rate string resource is in there.
    EXPECT_TRUE(fork.contains("44100.000000"));

    // The same bytes through the File Manager's resource fork.
    const FSSpec spec{dir.path(), "out.sd2"};
    SInt16 refNum = 0;
    ASSERT_EQ(FSpOpenRF(&spec, fsRdPerm, &refNum), noErr);
    SInt64 eof = 0;
    ASSERT_EQ(GetEOF(refNum, &eof), noErr);
    EXPECT_EQ(eof, fork.size());
    ASSERT_EQ(FSClose(refNum), noErr);

    // And the data fork is the audio.
    FSRef ref;
    ASSERT_EQ(FSPathMakeRef(dir.file("out.sd2"), &ref), noErr);
    FSCatalogInfo info;
    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoDataSizes | kFSCatInfoRsrcSizes, &info, nullptr, nullptr, nullptr),
              noErr);
    EXPECT_EQ(info.dataLogicalSize, 4410u * 4);
    EXPECT_EQ(info.rsrcLogicalSize, UInt64(fork.size()));
}

TEST(AppleDoubleFile, LibsndfileReadsTheSidecarsWeWrite)
{
    QM_REQUIRE_PEER("sox");
    QM_REQUIRE_PEER("sndfile-convert");
    QM_REQUIRE_PEER("sndfile-info");
    TestTempDir dir;
    ASSERT_TRUE(MakeSoundDesignerII(dir));
    QByteArray fork;
    ASSERT_EQ(AppleDoubleFile::ReadResourceFork(dir.file("out.sd2"), &fork), noErr);

    // Setting the Finder info turns the bare fork into AppleDouble.
    ASSERT_EQ(AppleDoubleFile::WriteFinderInfo(dir.file("out.sd2"), FOUR_CHAR_CODE("Sd2f"), FOUR_CHAR_CODE("Sd2a"), 0),
              noErr);
    EXPECT_EQ(BE32(ReadWholeFile(dir.file("._out.sd2")), 0), AppleDoubleFile::kMagic);
    QString info = SndfileInfo(dir.file("out.sd2"));
    EXPECT_TRUE(info.contains(QRegularExpression("Frames\\s*:\\s*4410"))) << info.toStdString();

    // A fork written to a file that had no sidecar at all.
    ASSERT_TRUE(WriteWholeFile(dir.file("copy.sd2"), ReadWholeFile(dir.file("out.sd2"))));
    ASSERT_EQ(AppleDoubleFile::WriteResourceFork(dir.file("copy.sd2"), fork), noErr);
    info = SndfileInfo(dir.file("copy.sd2"));
    EXPECT_TRUE(info.contains(QRegularExpression("Channels\\s*:\\s*2"))) << info.toStdString();
    EXPECT_TRUE(info.contains(QRegularExpression("Frames\\s*:\\s*4410"))) << info.toStdString();
}
