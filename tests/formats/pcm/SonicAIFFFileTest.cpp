// Sonic AIFF and Sonic split sets: the written layout of every packing mode,
// round trips, the peers on the plain modes, and damaged files.
#include "CSonicAIFFFile.h"
#include "CSonicSplitFile.h"
#include "CreateSoundFile.h"
#include "FileManager.h"
#include "format_type_codes.h"
#include "PCMFileTypes.h"
#include "SonicFileTypes.h"
#include "SonicTestSupport.h"
#include "SoundFileSwitches.h"
#include "TestTempDir.h"
#include "OutputContext.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <bit>
#include <cstring>
#include <filesystem>

using namespace aifftest;
using namespace sonictest;

namespace {

constexpr std::size_t kBlock = 262144;

double BEDouble(const std::vector<UInt8>& d, std::size_t at)
{
    UInt64 bits = 0;
    for (int i = 0; i < 8; ++i) {
        bits = (bits << 8) | d[at + i];
    }
    return std::bit_cast<double>(bits);
}

class SonicAIFFFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetProcessFileIfNoRegions(false);
        RegisterPCMFileTypes();
        RegisterSonicFileTypes();
        CSonicAIFFFile::SetLastPackingMode(0);
    }
    std::unique_ptr<CSonicAIFFFile> OpenSonic(const std::string& path, OSErr expected = noErr)
    {
        auto file = std::make_unique<CSonicAIFFFile>();
        EXPECT_EQ(file->SetFile(path), noErr);
        EXPECT_EQ(file->Open(), expected) << path;
        return file;
    }
    TestTempDir dir;
};

TEST_F(SonicAIFFFileTest, SixteenBitStereoLayout)
{
    const std::vector<UInt8> samples = Bytes(4 * 20000);
    const std::string path = WriteBlocks<CSonicAIFFFile>(dir.file("st"), 2, 16, 44100.0, 0, samples, [](auto&) {});
    const std::vector<UInt8> d = ReadAll(path);
    ASSERT_EQ(d.size() % kBlock, 0u);
    ASSERT_GE(d.size(), kBlock + samples.size());
    EXPECT_EQ(std::string(d.begin(), d.begin() + 4), "FORM");
    EXPECT_EQ(BE32(d, 4), d.size() - 8);
    EXPECT_EQ(std::string(d.begin() + 12, d.begin() + 16), "COMM");
    EXPECT_EQ(BE16(d, 20), 2);
    EXPECT_EQ(BE32(d, 22), 20000u);
    EXPECT_EQ(std::string(d.begin() + 38, d.begin() + 42), "ZuSD");
    EXPECT_EQ(std::string(d.begin() + 70, d.begin() + 74), "APPL");
    EXPECT_EQ(BE32(d, 74), 2422u);
    EXPECT_EQ(std::string(d.begin() + 78, d.begin() + 86), "SSYSMCSF");
    const std::size_t afpr = 82 + 2132 + 28;
    EXPECT_EQ(std::string(d.begin() + long(afpr), d.begin() + long(afpr) + 4), "AFPR");
    EXPECT_EQ(BE16(d, afpr + 8), 1);
    const std::size_t ssnd = 78 + 2422;
    EXPECT_EQ(std::string(d.begin() + long(ssnd), d.begin() + long(ssnd) + 4), "SSND");
    EXPECT_EQ(ssnd + 16 + BE32(d, ssnd + 8), kBlock);
    EXPECT_EQ(BE32(d, ssnd + 4), d.size() - ssnd - 8);
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), d.begin() + kBlock));

    auto in = OpenSonic(path);
    EXPECT_EQ(in->GetPackingMode(), 1);
    EXPECT_EQ(in->GetNumFrames(), 20000u);
    EXPECT_EQ(ReadAllBlocks(*in), samples);
    EXPECT_EQ(in->GetFormatName(), QStringLiteral("Sonic 16 Bit Signed AIFF"));
    EXPECT_EQ(CSonicAIFFFile::GetLastPackingMode(), 1);
    // The peers' view (samples, then the block padding) is in the
    // conformance suite.
}

TEST_F(SonicAIFFFileTest, EveryTwentyFourBitPackingRoundTrips)
{
    // 100001 mono frames: more than one packed run, and an odd frame count.
    const std::vector<UInt8> samples = Bytes(3 * 100001, 11);
    for (const SInt16 mode : {2, 3, 10, 11}) {
        SCOPED_TRACE(mode);
        const std::string path = WriteBlocks<CSonicAIFFFile>(dir.file("m" + std::to_string(mode)), 1, 24, 48000.0,
                                                             UInt32(mode), samples, [](auto&) {});
        const std::vector<UInt8> d = ReadAll(path);
        ASSERT_EQ(d.size() % kBlock, 0u);
        EXPECT_EQ(BE32(d, 74), mode >= 10 ? 2426u : 2422u);
        const UInt8* first = &d[kBlock];
        switch (mode) {
        case 2:  // b1 b0 0 b2
            EXPECT_EQ(first[0], samples[1]);
            EXPECT_EQ(first[1], samples[0]);
            EXPECT_EQ(first[2], 0);
            EXPECT_EQ(first[3], samples[2]);
            break;
        case 3: {
            // Little-endian; 16384 zero bytes after 245760 bytes of samples.
            EXPECT_EQ(first[0], samples[2]);
            EXPECT_EQ(first[2], samples[0]);
            EXPECT_TRUE(std::all_of(d.begin() + long(kBlock + 245760), d.begin() + long(2 * kBlock),
                                    [](UInt8 b) { return b == 0; }));
            const std::size_t next = 245760;  // sample 81920 starts the second block
            EXPECT_EQ(d[2 * kBlock], samples[next + 2]);
            EXPECT_EQ(d[2 * kBlock + 2], samples[next]);
            break;
        }
        case 10:
            EXPECT_EQ(first[0], samples[2]);
            EXPECT_EQ(first[1], samples[1]);
            EXPECT_EQ(first[2], samples[0]);
            break;
        default:
            EXPECT_TRUE(std::equal(samples.begin(), samples.end(), d.begin() + long(kBlock)));
            break;
        }
        auto in = OpenSonic(path);
        EXPECT_EQ(in->GetPackingMode(), mode);
        EXPECT_EQ(in->GetNumFrames(), 100001u);
        EXPECT_EQ(ReadAllBlocks(*in), samples);
        EXPECT_EQ(CSonicAIFFFile::GetLastPackingMode(), mode);
        if (mode == 11 && HaveProgram(QStringLiteral("sox"))) {
            ExpectSamplesThenSilence(SoxRaw(path, 24), samples);
            if (HaveProgram(QStringLiteral("ffprobe"))) {
                EXPECT_EQ(FfprobeFrames(path), 100001);
            }
        }
    }
    EXPECT_EQ(CSonicAIFFFile::FormatNameForMode(11), QStringLiteral("Sonic (HDSP 1.5 Big endian) AIFF"));
    EXPECT_EQ(CSonicAIFFFile::FormatNameForMode(7), QStringLiteral("Sonic AIFF of unsupported type"));
}

TEST_F(SonicAIFFFileTest, PackingChoiceZeroFollowsTheLastFileRead)
{
    const std::vector<UInt8> samples = Bytes(3 * 10);
    const std::string packed =
        WriteBlocks<CSonicAIFFFile>(dir.file("packed"), 1, 24, 48000.0, 3, samples, [](auto&) {});
    CSonicAIFFFile::SetLastPackingMode(0);
    // No Sonic file read yet: plain big-endian, never an output without samples.
    const std::string plain = WriteBlocks<CSonicAIFFFile>(dir.file("plain"), 1, 24, 48000.0, 0, samples, [](auto&) {});
    EXPECT_EQ(OpenSonic(plain)->GetPackingMode(), 11);
    EXPECT_EQ(OpenSonic(packed)->GetPackingMode(), 3);
    const std::string follow = WriteBlocks<CSonicAIFFFile>(dir.file("follow"), 1, 24, 48000.0, 0, samples, [](auto&) {});
    EXPECT_EQ(OpenSonic(follow)->GetPackingMode(), 3);
    // Word lengths the format has no packing for are refused.
    CSonicAIFFFile eight;
    ASSERT_EQ(eight.SetFile(dir.file("eight")), noErr);
    EXPECT_EQ(eight.Create(1, 8, 0, nullptr, nullptr, 44100.0f), -20020);
    CSonicAIFFFile closed;
    EXPECT_EQ(closed.Close(), -38);
}

// The start time is stored in seconds and read back as the nearest frame:
// stamps whose seconds multiply back a hair below them, and a decimal time
// put in by hand (2.3 s), land on their frame.
TEST_F(SonicAIFFFileTest, StartTimeTravelsThroughOFFS)
{
    const std::size_t offs = 82 + 2132;
    std::string written;
    for (const UInt64 stamp : {96000u, 27u, 49u}) {
        const std::string path = WriteBlocks<CSonicAIFFFile>(dir.file("ts" + std::to_string(stamp)), 1, 16, 48000.0,
                                                             0, Bytes(200),
                                                             [stamp](CSoundFile& f) { f.SetTimeStamp64(stamp); });
        const std::vector<UInt8> d = ReadAll(path);
        EXPECT_EQ(std::string(d.begin() + long(offs), d.begin() + long(offs) + 4), "OFFS");
        EXPECT_EQ(BE32(d, offs + 4), 20u);
        EXPECT_EQ(BEDouble(d, offs + 8), double(stamp) / 48000.0);
        EXPECT_EQ(BEDouble(d, offs + 18), double(stamp) / 48000.0);
        auto in = OpenSonic(path);
        EXPECT_TRUE(in->HasTimeStamp());
        EXPECT_EQ(in->GetTimeStamp64(), stamp);
        written = path;
    }
    std::vector<UInt8> d = ReadAll(written);
    const UInt64 seconds = std::bit_cast<UInt64>(2.3);
    for (int i = 0; i < 8; ++i)
        d[offs + 18 + i] = UInt8(seconds >> (56 - 8 * i));
    WriteAll(dir.file("hand"), d);
    EXPECT_EQ(OpenSonic(dir.file("hand"))->GetTimeStamp64(), 110400u);
}

TEST_F(SonicAIFFFileTest, SonicInfoReplacesTheFreshBlock)
{
    UInt8 first[16], second[16];
    for (int i = 0; i < 16; ++i) {
        first[i] = UInt8(0xA0 + i);
        second[i] = UInt8(0x10 + i);
    }
    const std::string path = WriteBlocks<CSonicAIFFFile>(dir.file("info"), 1, 16, 44100.0, 0, Bytes(20),
                                                         [&](CSoundFile& f) { f.SetSonicInfo(first, second, 2); });
    const std::vector<UInt8> d = ReadAll(path);
    const std::size_t body = 86 + 4;  // after 'MCSF' and its size
    EXPECT_EQ(BE32(d, body), 2u);
    EXPECT_EQ(d[body + 4], 1);
    EXPECT_EQ(d[body + 5], 1);
    EXPECT_EQ(BE32(d, body + 68), 1u);
    EXPECT_EQ(BE32(d, body + 72), 2u);
    EXPECT_EQ(std::memcmp(&d[body + 1100], first, 16), 0);
    EXPECT_EQ(std::memcmp(&d[body + 1116], second, 16), 0);
}

// Inserts `chunks` at offset 38 of a written 16-bit file (the samples move
// with the 'SSND' chunk).
std::vector<UInt8> WithChunks(std::vector<UInt8> d, const ChunkBuilder& chunks)
{
    const std::size_t n = chunks.size();
    d.insert(d.begin() + 38, chunks.bytes().begin(), chunks.bytes().end());
    PutBE32(d, 4, BE32(d, 4) + UInt32(n));
    return d;
}

TEST_F(SonicAIFFFileTest, MarkersLoopsAndSamplerDataAreRead)
{
    const std::vector<UInt8> samples = Bytes(2 * 100);
    const std::string path = WriteBlocks<CSonicAIFFFile>(dir.file("src"), 1, 16, 44100.0, 0, samples, [](auto&) {});
    ChunkBuilder c;
    c.put_fourcc(FOUR_CHAR_CODE("MARK"));
    c.put_u32(0);
    c.put_u16(3);
    c.put_u16(1); c.put_u32(10); c.put_pstring("#12 verse", true);
    c.put_u16(2); c.put_u32(20); c.put_pstring("loop a", true);
    c.put_u16(3); c.put_u32(30); c.put_pstring("loop b", true);
    c.patch_u32(4, UInt32(c.size() - 8));
    c.put_fourcc(FOUR_CHAR_CODE("INST"));
    c.put_u32(20);
    c.put_u8(61); c.put_u8(0); c.put_u8(0); c.put_u8(127); c.put_u8(1); c.put_u8(127); c.put_u16(3);
    c.put_u16(1); c.put_u16(2); c.put_u16(3);
    c.put_u16(0); c.put_u16(0); c.put_u16(0);
    WriteAll(dir.file("marked"), WithChunks(ReadAll(path), c));
    {
        auto in = OpenSonic(dir.file("marked"));
        ASSERT_EQ(in->GetNumMarkers(), 1);
        SFTMarker marker;
        ASSERT_EQ(in->GetMarker(0, &marker), noErr);
        EXPECT_EQ(marker.pos, 10u);
        EXPECT_EQ(marker.number, 12);
        EXPECT_EQ(marker.type, 1);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(marker.name + 1), marker.name[0]), "verse");
        ASSERT_EQ(in->GetNumLoops(), 1);
        SFTLoop loop;
        ASSERT_EQ(in->GetLoop(0, &loop), noErr);
        EXPECT_EQ(loop.start, 20u);
        EXPECT_EQ(loop.end, 30u);
        SFTSamplerInfo info;
        EXPECT_EQ(in->GetSamplerInfo(&info), noErr);
        EXPECT_EQ(info.baseNote, 61);
        EXPECT_EQ(ReadAllBlocks(*in), samples);
    }
    // A loop whose marker is missing.
    std::vector<UInt8> bad = WithChunks(ReadAll(path), c);
    const std::size_t inst = std::size_t(FindChunkIn(bad, "INST"));
    bad[inst + 8 + 8 + 3] = 9;  // the loop's start marker: no such marker
    WriteAll(dir.file("badloop"), bad);
    OpenSonic(dir.file("badloop"), -22202);
}

TEST_F(SonicAIFFFileTest, DamagedFilesNeverReadPastWhatTheyHold)
{
    const std::vector<UInt8> samples = Bytes(2 * 500);
    const std::string path = WriteBlocks<CSonicAIFFFile>(dir.file("src"), 1, 16, 44100.0, 0, samples, [](auto&) {});
    // A packing mode we cannot read.
    std::vector<UInt8> d = ReadAll(path);
    d[82 + 2132 + 28 + 9] = 7;
    WriteAll(dir.file("mode7"), d);
    {
        auto in = OpenSonic(dir.file("mode7"), -22202);
        in->Close();
        CSonicAIFFFile probe;
        ASSERT_EQ(probe.SetFile(dir.file("mode7")), noErr);
        EXPECT_EQ(probe.ProbeHeader(nullptr), noErr);
        EXPECT_EQ(probe.GetFormatName(), QStringLiteral("Sonic AIFF of unsupported type"));
    }
    // A COMM frame count far beyond the data: cut to the samples present.
    d = ReadAll(path);
    PutBE32(d, 22, 0x7FFFFFF0u);
    d.resize(kBlock + 300);
    WriteAll(dir.file("short"), d);
    {
        auto in = OpenSonic(dir.file("short"));
        EXPECT_EQ(in->GetNumFrames(), 150u);
        EXPECT_EQ(ReadAllBlocks(*in), std::vector<UInt8>(samples.begin(), samples.begin() + 300));
    }
    // (Every cut of the header and the samples: the conformance suite.)
}

TEST_F(SonicAIFFFileTest, SplitSetsNameMembersOneAndTwo)
{
    std::unique_ptr<CSoundFile> set(CreateSoundFileObject(format_type_codes::kSplitSet, kSonicAIFFFileType));
    ASSERT_TRUE(set);
    EXPECT_EQ(set->GetFileType(), kSonicSplitFileType);
    EXPECT_EQ(set->GetFormatName(), QStringLiteral("Sonic Split File"));
    CSplitFile::SetSonicPairDigit('3');
    FSSpec spec;
    spec.parent = dir.path();
    spec.name = "Mix";
    ASSERT_EQ(set->SetFile(&spec), noErr);
    const auto* members = set->GetSubFiles();
    ASSERT_TRUE(members && members->size() == 2);
    EXPECT_EQ((*members)[0]->GetFileNameString(), "Mix.1");
    EXPECT_EQ((*members)[1]->GetFileNameString(), "Mix.2");
    EXPECT_EQ(set->GetPath(), (*members)[0]->GetPath());
    EXPECT_EQ((*members)[0]->GetFileType(), kSonicAIFFFileType);

    // A name already taken: the set goes into a folder named after the input.
    WriteAll(dir.file("Taken_1"), {1, 2, 3});
    FSRef folder;
    ASSERT_EQ(FSPathMakeRef(dir.path(), &folder), noErr);
    OutputContext context;
    context.outputFolder = folder;
    context.longName = QStringLiteral("Input Take");
    std::unique_ptr<CSoundFile> second;
    {
        const OutputContextScope scope(context);
        second.reset(CreateSoundFileObject(kSonicSplitFileType));
    }
    ASSERT_TRUE(second);
    EXPECT_EQ(second->GetFileType(), kSonicSplitFileType);
    spec.name = "Taken_1";
    const OSErr err = second->SetFile(&spec);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(second->GetPath(), dir.path() + "/Input Take/Taken.1");
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("Input Take")));
}

} // namespace
