// WAVE family: header layout, sample coding and the structural edge cases
// (format chunk forms, word lengths, padding, size limits, chunk walk).
#include "CBWFLinearFile.h"
#include "CWAVEFile.h"
#include "CWAVEFloatFile.h"
#include "CWAVE_ALawFile.h"
#include "CWAVE_AuFile.h"
#include "FileManager.h"
#include "TestTempDir.h"
#include "WAVETestSupport.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace wavetest;

namespace {

std::vector<UInt8> Samples16LE(const std::vector<SInt16>& values)
{
    Body body;
    for (SInt16 v : values)
        body.u16(UInt16(v));
    return body.b;
}

} // namespace

// ------------------------------------------------------------ layout
TEST(WAVEFormat, WrittenHeaderLayoutPlainAndExtensible)
{
    TestTempDir dir;
    OSErr err;
    {
        auto file = CreateWith<CWAVEFile>(dir.path(), "stereo", 2, 16, 44100.0f, &err);
        ASSERT_EQ(err, noErr);
        ASSERT_EQ(WriteAllSamples(*file, TestSamples(2 * 5, 16)), noErr);
        ASSERT_EQ(file->Close(), noErr);
        const auto b = ReadAll(dir.file("stereo.wav"));
        ASSERT_EQ(b.size(), 44u + 20u);
        EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "RIFF");
        EXPECT_EQ(LE32(b, 4), b.size() - 8);
        EXPECT_EQ(std::string(b.begin() + 12, b.begin() + 16), "fmt ");
        EXPECT_EQ(LE32(b, 16), 16u);
        EXPECT_EQ(LE16(b, 20), 1);
        EXPECT_EQ(LE16(b, 22), 2);
        EXPECT_EQ(LE32(b, 24), 44100u);
        EXPECT_EQ(LE32(b, 28), 44100u * 4);
        EXPECT_EQ(LE16(b, 32), 4);
        EXPECT_EQ(LE16(b, 34), 16);
        EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 40), "data");
        EXPECT_EQ(LE32(b, 40), 20u);
    }
    {
        auto file = CreateWith<CWAVEFile>(dir.path(), "lcr", 3, 24, 48000.0f, &err);
        ASSERT_EQ(err, noErr);
        file->SetChannelConfiguration(kChannelConfigLCR);
        ASSERT_EQ(WriteAllSamples(*file, TestSamples(3 * 4, 24)), noErr);
        ASSERT_EQ(file->Close(), noErr);
        const auto b = ReadAll(dir.file("lcr.wav"));
        EXPECT_EQ(LE32(b, 16), 40u);
        EXPECT_EQ(LE16(b, 20), 0xFFFE);
        EXPECT_EQ(LE16(b, 36), 22);
        EXPECT_EQ(LE16(b, 38), 24);
        EXPECT_EQ(LE32(b, 40), 0x7u);
        EXPECT_EQ(LE32(b, 44), 1u);
        EXPECT_EQ(std::string(b.begin() + 60, b.begin() + 64), "data");
        EXPECT_EQ(LE32(b, 64), 36u);
    }
    {
        // A configuration that does not match the channel count writes mask 0.
        auto file = CreateWith<CWAVEFile>(dir.path(), "three", 3, 16, 48000.0f, &err);
        ASSERT_EQ(err, noErr);
        file->SetChannelConfiguration(kChannelConfigQuad);
        ASSERT_EQ(file->Close(), noErr);
        EXPECT_EQ(LE32(ReadAll(dir.file("three.wav")), 40), 0u);
    }
}

TEST(WAVEFormat, ChannelMaskMapping)
{
    EXPECT_EQ(WAVEChannelMaskToConfiguration(3, 0x7), kChannelConfigLCR);
    EXPECT_EQ(WAVEChannelMaskToConfiguration(4, 0x33), kChannelConfigQuad);
    EXPECT_EQ(WAVEChannelMaskToConfiguration(4, 0x107), kChannelConfigLCRS);
    EXPECT_EQ(WAVEChannelMaskToConfiguration(5, 0x37), kChannelConfig5_0);
    EXPECT_EQ(WAVEChannelMaskToConfiguration(6, 0x3F), kChannelConfig5_1);
    EXPECT_EQ(WAVEChannelMaskToConfiguration(6, 0x137), kChannelConfig6_0);
    EXPECT_EQ(WAVEChannelMaskToConfiguration(7, 0x13F), kChannelConfig6_1);
    EXPECT_EQ(WAVEChannelMaskToConfiguration(8, 0xFF), kChannelConfig7_1);
    // A side pair without a back pair is the surround pair.
    EXPECT_EQ(WAVEChannelMaskToConfiguration(6, 0x60F), kChannelConfig5_1);
    EXPECT_EQ(WAVEChannelMaskToConfiguration(8, 0x63F), kChannelConfigMultichannel);
    EXPECT_EQ(WAVEChannelMaskToConfiguration(9, 0x1FF), kChannelConfigMultichannel);
    for (SInt32 config = kChannelConfigLCR; config <= kChannelConfig7_1; ++config) {
        for (UInt32 channels = 3; channels <= 8; ++channels) {
            const UInt32 mask = WAVEChannelConfigurationToMask(config, channels);
            if (mask) {
                EXPECT_EQ(WAVEChannelMaskToConfiguration(channels, mask), config) << config;
            }
        }
    }
}

TEST(WAVEFormat, ChannelNamesFollowTheMemoryOrder)
{
    CWAVEFile file;
    file.SetChannelConfiguration(kChannelConfig5_1);
    EXPECT_EQ(file.GetChannelName(3), "LFE");
    EXPECT_EQ(file.GetChannelName(9), "Right surround");
    file.SetChannelConfiguration(kChannelConfig5_0);
    EXPECT_EQ(file.GetChannelName(2), "Center");
    file.SetChannelConfiguration(kChannelConfig6_0);
    EXPECT_EQ(file.GetChannelName(4), "Center");
    file.SetChannelConfiguration(kChannelConfig6_1);
    EXPECT_EQ(file.GetChannelName(6), "7");
    file.SetChannelConfiguration(kChannelConfigMono);
    EXPECT_EQ(file.GetChannelName(0), "1");
}

// ------------------------------------------------------ format forms
TEST(WAVEFormat, FmtChunkNamedWithCarriageReturnOpens)
{
    TestTempDir dir;
    auto bytes = RIFFBuilder()
                     .chunk("fmt\r", Fmt(1, 1, 8000, 16, 2))
                     .chunk("data", Samples16LE({1, -2, 300}))
                     .build();
    WriteAll(dir.file("cr.wav"), bytes);
    OSErr err;
    auto file = OpenWith<CWAVEFile>(dir.file("cr.wav"), &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(file->GetNumFrames(), 3u);
    EXPECT_EQ(ReadAllSamples(*file), (std::vector<SInt32>{1 << 16, -2 * 65536, 300 << 16}));
}

TEST(WAVEFormat, ExtensibleTagWithoutExtensionReadsAsPCM)
{
    TestTempDir dir;
    auto bytes = RIFFBuilder().chunk("fmt ", Fmt(0xFFFE, 2, 8000, 16, 4)).chunk("data", Samples16LE({5, 6})).build();
    WriteAll(dir.file("x.wav"), bytes);
    OSErr err;
    auto file = OpenWith<CWAVEFile>(dir.file("x.wav"), &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(file->GetNumChannels(), 2);
    EXPECT_EQ(file->GetNumFrames(), 1u);
}

TEST(WAVEFormat, UnsupportedAndMissingPieces)
{
    TestTempDir dir;
    OSErr err;
    struct Case {
        const char* name;
        std::vector<UInt8> bytes;
        OSErr expected;
    };
    const std::vector<Case> cases = {
        {"mpeg", RIFFBuilder().chunk("fmt ", ExtensibleFmt(2, 8000, 16, 4, 16, 3, 0x50)).chunk("data", {0, 0}).build(),
         kUnsupportedDataErr},
        {"double", RIFFBuilder().chunk("fmt ", ExtensibleFmt(1, 8000, 64, 8, 64, 4, 3)).chunk("data", {0, 0}).build(),
         kUnsupportedDataErr},
    };
    for (const Case& c : cases) {
        WriteAll(dir.file(c.name), c.bytes);
        auto file = OpenWith<CWAVEFile>(dir.file(c.name), &err);
        EXPECT_EQ(err, c.expected) << c.name;
    }
    // Plain companded tags belong to their own classes.
    WriteAll(dir.file("alaw"), RIFFBuilder().chunk("fmt ", Fmt(6, 1, 8000, 8, 1)).chunk("data", {0xD5}).build());
    auto asPCM = OpenWith<CWAVEFile>(dir.file("alaw"), &err);
    EXPECT_EQ(err, kUnsupportedDataErr);
    auto asFloat = OpenWith<CWAVEFloatFile>(dir.file("alaw"), &err);
    EXPECT_EQ(err, kUnsupportedDataErr);
}

TEST(WAVEFormat, WordLengthsThatAreNotWholeBytesUseTheirContainers)
{
    TestTempDir dir;
    OSErr err;
    // 12-bit in 2-byte containers, left-justified.
    WriteAll(dir.file("w12"), RIFFBuilder()
                                  .chunk("fmt ", Fmt(1, 2, 8000, 12, 4))
                                  .chunk("data", Samples16LE({0x7FF0, SInt16(0x8000), 0x0010, -16}))
                                  .build());
    auto w12 = OpenWith<CWAVEFile>(dir.file("w12"), &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(w12->GetNumBits(), 16);
    EXPECT_EQ(w12->GetNumFrames(), 2u);
    EXPECT_EQ(ReadAllSamples(*w12), (std::vector<SInt32>{0x7FF00000, SInt32(0x80000000), 0x00100000, -16 * 65536}));
    // 20-bit in 3-byte containers.
    WriteAll(dir.file("w20"), RIFFBuilder()
                                  .chunk("fmt ", Fmt(1, 1, 8000, 20, 3))
                                  .chunk("data", {0x00, 0x00, 0x80, 0xF0, 0xFF, 0x7F})
                                  .build());
    auto w20 = OpenWith<CWAVEFile>(dir.file("w20"), &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(w20->GetNumBits(), 24);
    EXPECT_EQ(ReadAllSamples(*w20), (std::vector<SInt32>{SInt32(0x80000000), 0x7FFFF000}));
    // Writing a 12-bit word length gives 16-bit containers.
    auto out = CreateWith<CWAVEFile>(dir.path(), "out12", 1, 12, 8000.0f, &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(out->GetNumBits(), 16);
    ASSERT_EQ(out->Close(), noErr);
    EXPECT_EQ(LE16(ReadAll(dir.file("out12.wav")), 32), 2);
    // Zero channels and a zero word length are refused on writing too.
    auto none = CreateWith<CWAVEFile>(dir.path(), "none", 0, 16, 8000.0f, &err);
    EXPECT_EQ(err, kUnsupportedDataErr);
    auto nobits = CreateWith<CWAVEFile>(dir.path(), "nobits", 1, 0, 8000.0f, &err);
    EXPECT_EQ(err, kUnsupportedDataErr);
}

TEST(WAVEFormat, PlaceholderAndOversizedSizesRunToTheEndOfTheFile)
{
    TestTempDir dir;
    OSErr err;
    auto bytes = RIFFBuilder()
                     .chunk("fmt ", Fmt(1, 1, 8000, 16, 2))
                     .header("data", 0xFFFFFFFF)
                     .raw(Samples16LE({1, 2, 3, 4, 5}))
                     .build(false);
    bytes[4] = bytes[5] = bytes[6] = bytes[7] = 0xFF;
    WriteAll(dir.file("stream"), bytes);
    auto file = OpenWith<CWAVEFile>(dir.file("stream"), &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(file->GetNumFrames(), 5u);

    auto big = RIFFBuilder().chunk("fmt ", Fmt(1, 1, 8000, 16, 2)).header("data", 1000).raw(Samples16LE({1, 2, 3})).build();
    WriteAll(dir.file("big"), big);
    auto clamped = OpenWith<CWAVEFile>(dir.file("big"), &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(clamped->GetNumFrames(), 3u);
    EXPECT_EQ(ReadAllSamples(*clamped).size(), 3u);
}

// ----------------------------------------------------------- padding
TEST(WAVEFormat, OddDataIsPaddedWithOneUncountedByte)
{
    TestTempDir dir;
    OSErr err;
    {
        auto file = CreateWith<CWAVEFile>(dir.path(), "odd8", 1, 8, 8000.0f, &err);
        ASSERT_EQ(err, noErr);
        ASSERT_EQ(WriteAllSamples(*file, {1 << 24, -(1 << 24), 127 << 24}), noErr);
        SFTLoop loop{0, 0, 2, 0};
        file->AddLoop(&loop);
        ASSERT_EQ(file->Close(), noErr);
        const auto b = ReadAll(dir.file("odd8.wav"));
        EXPECT_EQ(LE32(b, 40), 3u);
        EXPECT_EQ(b[44], 0x81);
        EXPECT_EQ(b[47], 0x00);  // pad
        EXPECT_EQ(std::string(b.begin() + 48, b.begin() + 52), "smpl");
        EXPECT_EQ(LE32(b, 4), b.size() - 8);
        auto back = OpenWith<CWAVEFile>(dir.file("odd8.wav"), &err);
        ASSERT_EQ(err, noErr);
        EXPECT_EQ(back->GetNumFrames(), 3u);
        EXPECT_EQ(back->GetNumLoops(), 1);
    }
    {
        auto file = CreateWith<CWAVE_AuFile>(dir.path(), "odd_mulaw", 1, 16, 8000.0f, &err);
        ASSERT_EQ(err, noErr);
        ASSERT_EQ(WriteAllSamples(*file, {0, 1000 << 16, -1000 * 65536}), noErr);
        ASSERT_EQ(file->Close(), noErr);
        const auto b = ReadAll(dir.file("odd_mulaw.wav"));
        EXPECT_EQ(LE32(b, 16), 18u);
        const std::size_t fact = FindChunkIn(b, "fact");
        ASSERT_NE(fact, std::string::npos);
        EXPECT_EQ(LE32(b, fact + 8), 3u);
        const std::size_t data = FindChunkIn(b, "data");
        ASSERT_NE(data, std::string::npos);
        EXPECT_EQ(LE32(b, data + 4), 3u);
        EXPECT_EQ(b.size(), data + 8 + 4);
        EXPECT_EQ(LE32(b, 4), b.size() - 8);
    }
}

// ----------------------------------------------------- sample coding
TEST(WAVEFormat, FloatConversionsSaturate)
{
    TestTempDir dir;
    OSErr err;
    Body data;
    for (float f : {1.0f, -1.0f, 0.5f, 2.0f, -3.0f, 0.0f}) {
        UInt32 bits;
        std::memcpy(&bits, &f, 4);
        data.u32(bits);
    }
    WriteAll(dir.file("f.wav"), RIFFBuilder().chunk("fmt ", Fmt(3, 1, 8000, 32, 4)).chunk("data", data.b).build());
    auto file = OpenWith<CWAVEFloatFile>(dir.file("f.wav"), &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(file->GetState(), kSampleFormatFloatLE);
    EXPECT_EQ(ReadAllSamples(*file), (std::vector<SInt32>{2147483647, SInt32(0x80000000), 1073741824, 2147483647,
                                                          SInt32(0x80000000), 0}));
    // An extensible file with a float subformat reads as float in the plain class.
    WriteAll(dir.file("xf.wav"),
             RIFFBuilder().chunk("fmt ", ExtensibleFmt(1, 8000, 32, 4, 32, 4, 3)).chunk("data", data.b).build());
    auto ext = OpenWith<CWAVEFile>(dir.file("xf.wav"), &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(ReadAllSamples(*ext)[2], 1073741824);

    // Six float channels keep the plain 24-byte 'fmt ' chunk.
    auto out = CreateWith<CWAVEFloatFile>(dir.path(), "six", 6, 32, 48000.0f, &err);
    ASSERT_EQ(err, noErr);
    ASSERT_EQ(WriteAllSamples(*out, {SInt32(0x80000000), 1 << 30, 0, -1, 2147483647, 12345}), noErr);
    ASSERT_EQ(out->Close(), noErr);
    const auto b = ReadAll(dir.file("six.wav"));
    EXPECT_EQ(LE32(b, 16), 16u);
    EXPECT_EQ(LE16(b, 20), 3);
    float second;
    const UInt32 bits = LE32(b, 44 + 4);
    std::memcpy(&second, &bits, 4);
    EXPECT_EQ(second, 0.5f);
}

TEST(WAVEFormat, CompandedClassesDecodeByTheirLaw)
{
    TestTempDir dir;
    OSErr err;
    const std::vector<UInt8> codes = {0x00, 0x80, 0x7F, 0xFF, 0xD5, 0x55};
    WriteAll(dir.file("mu.wav"), RIFFBuilder().chunk("fmt ", Fmt(7, 1, 8000, 8, 1)).chunk("data", codes).build());
    auto mu = OpenWith<CWAVE_AuFile>(dir.file("mu.wav"), &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(mu->GetNumBits(), 16);
    const auto muSamples = ReadAllSamples(*mu);
    EXPECT_EQ(muSamples[0], -32124 * 65536);
    EXPECT_EQ(muSamples[1], 32124 * 65536);
    EXPECT_EQ(muSamples[2], 0);
    EXPECT_EQ(muSamples[3], 0);
    // A-law bytes opened through the mu-law class decode as A-law.
    WriteAll(dir.file("a.wav"), RIFFBuilder().chunk("fmt ", Fmt(6, 1, 8000, 8, 1)).chunk("data", codes).build());
    auto a = OpenWith<CWAVE_AuFile>(dir.file("a.wav"), &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(a->GetState(), kSampleFormatALaw);
    const auto aSamples = ReadAllSamples(*a);
    EXPECT_EQ(aSamples[4], 8 * 65536);
    EXPECT_EQ(aSamples[5], -8 * 65536);
}

// ---------------------------------------------- seeking and extending
TEST(WAVEFormat, OutputsPastTheRIFFLimitAreRefused)
{
    TestTempDir dir;
    OSErr err;
    auto file = CreateWith<CWAVEFile>(dir.path(), "huge", 2, 16, 8000.0f, &err);
    ASSERT_EQ(err, noErr);
    ASSERT_EQ(file->AllocateWriteBuffer(), noErr);
    // Frame 0x40000000 of 4-byte frames lies past 4 GiB.
    EXPECT_EQ(file->PrepareWriteBlock(0x40000000), kWAVEBadDataSizeErr);
    EXPECT_EQ(file->WriteBlock(1, 0x40000000), kWAVEBadDataSizeErr);
    EXPECT_EQ(file->SetFilePos(0x3FFFFFFF), kWAVEBadDataSizeErr);
    EXPECT_LT(ReadAll(dir.file("huge.wav")).size(), 100u);
    ASSERT_EQ(file->Close(), noErr);
}

// ------------------------------------------------------- chunk walks
TEST(WAVEFormat, ChunkWalkGivesUpAfterAHundredChunks)
{
    TestTempDir dir;
    RIFFBuilder riff;
    riff.chunk("fmt ", Fmt(1, 1, 8000, 16, 2));
    for (int i = 0; i < 100; ++i)
        riff.chunk("junk", {1, 2, 3});
    riff.chunk("data", {0, 0});
    WriteAll(dir.file("many.wav"), riff.build());
    OSErr err;
    auto file = OpenWith<CWAVEFile>(dir.file("many.wav"), &err);
    EXPECT_EQ(err, kWAVENoDataChunkErr);

    std::ifstream stream(dir.file("many.wav"), std::ios::binary);
    EXPECT_EQ(FindRIFFChunk("data", 1, stream), -22004);
    EXPECT_EQ(FindRIFFChunk("junk", 99, stream), noErr);
    EXPECT_EQ(FindRIFFChunk("RIFF", 1, stream), noErr);
    EXPECT_EQ(GetWAVENumChannels(dir.file("many.wav")), 1u);
}

TEST(WAVEFormat, DetectionProbesOnStreams)
{
    TestTempDir dir;
    WriteAll(dir.file("s.wav"), RIFFBuilder()
                                    .chunk("junk", {1, 2, 3})
                                    .chunk("fmt ", Fmt(1, 6, 8000, 16, 12))
                                    .chunk("bext", std::vector<UInt8>(10))
                                    .chunk("data", {})
                                    .build());
    std::ifstream stream(dir.file("s.wav"), std::ios::binary);
    ASSERT_EQ(FindRIFFChunk("fmt ", 1, stream), noErr);
    EXPECT_EQ(stream.tellg(), std::streampos(12 + 12 + 4));
    EXPECT_EQ(FindRIFFChunk("bext", 1, stream), noErr);
    EXPECT_EQ(FindRIFFChunk("bext", 2, stream), -22004);
    EXPECT_EQ(GetWAVENumChannels(dir.file("s.wav")), 6u);
    EXPECT_EQ(GetWAVENumChannels(dir.file("missing.wav")), 0u);

    std::istringstream tiny(std::string("RIFF"));
    EXPECT_EQ(FindRIFFChunk("fmt ", 1, tiny), -22004);
}

TEST(WAVEFormat, ChunksAfterADataChunkOfMoreThan2GiB)
{
    // A sparse file: 'fmt ', 'data' of 0x80000002 bytes, then 'smpl' and 'bext'.
    TestTempDir dir;
    const std::string path = dir.file("big.wav");
    const UInt32 dataSize = 0x80000002u;
    Body smpl;
    smpl.zeros(28).u32(1).u32(0).u32(7).u32(0).u32(11).u32(22).u32(0).u32(0);
    auto head = RIFFBuilder().chunk("fmt ", Fmt(1, 1, 8000, 16, 2)).header("data", dataSize).build(false);
    const auto tail = RIFFBuilder().chunk("smpl", smpl.b).chunk("bext", std::vector<UInt8>(602, 0)).build(false);
    const UInt64 total = head.size() + UInt64(dataSize) + (tail.size() - 12);
    head[4] = UInt8(total - 8);
    head[5] = UInt8((total - 8) >> 8);
    head[6] = UInt8((total - 8) >> 16);
    head[7] = UInt8((total - 8) >> 24);
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(head.data()), std::streamsize(head.size()));
        out.seekp(std::streamoff(head.size() + UInt64(dataSize)));
        out.write(reinterpret_cast<const char*>(tail.data() + 12), std::streamsize(tail.size() - 12));
        ASSERT_TRUE(out.good());
    }
    OSErr err;
    auto file = OpenWith<CWAVEFile>(path, &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(file->GetNumFrames(), dataSize / 2);
    ASSERT_EQ(file->GetNumLoops(), 1);
    EXPECT_EQ(file->GetLoopObject(0)->start(), 11u);
    std::ifstream stream(path, std::ios::binary);
    EXPECT_EQ(FindRIFFChunk("bext", 1, stream), noErr);
    EXPECT_EQ(UInt64(stream.tellg()), total - 602 - 4);
    EXPECT_EQ(FindRIFFChunk("LIST", 1, stream), -22004);
}

TEST(WAVEFormat, ProbeHeaderCountsRegionsAndClosesTheFile)
{
    TestTempDir dir;
    OSErr err;
    auto out = CreateWith<CWAVEFile>(dir.path(), "probe", 1, 16, 8000.0f, &err);
    ASSERT_EQ(err, noErr);
    ASSERT_EQ(WriteAllSamples(*out, TestSamples(100, 16)), noErr);
    SFTRegion r1{};
    r1.start = 10;
    r1.end = 20;
    SFTRegion r2{};
    r2.start = 30;
    r2.end = 60;
    out->AddRegion(&r1);
    out->AddRegion(&r2);
    ASSERT_EQ(out->Close(), noErr);
    const int forks = OpenForkCount();
    CWAVEFile probe;
    ASSERT_EQ(probe.SetFile(dir.file("probe.wav")), noErr);
    SInt16 count = -1;
    EXPECT_EQ(probe.ProbeHeader(&count), noErr);
    EXPECT_EQ(count, 2);
    EXPECT_FALSE(probe.IsOpen());
    EXPECT_EQ(OpenForkCount(), forks);
    CWAVEFile bad;
    WriteAll(dir.file("bad.wav"), RIFFBuilder().chunk("fmt ", Fmt(1, 1, 8000, 16, 2)).build());
    ASSERT_EQ(bad.SetFile(dir.file("bad.wav")), noErr);
    EXPECT_EQ(bad.ProbeHeader(&count), kWAVENoDataChunkErr);
    EXPECT_FALSE(bad.IsOpen());
    EXPECT_EQ(OpenForkCount(), forks);
}

TEST(WAVEFormat, DestructorFinishesAnOutput)
{
    TestTempDir dir;
    OSErr err;
    {
        auto out = CreateWith<CWAVE_ALawFile>(dir.path(), "alaw", 2, 16, 8000.0f, &err);
        ASSERT_EQ(err, noErr);
        ASSERT_EQ(WriteAllSamples(*out, {0, 0, 100 << 16, -100 * 65536}), noErr);
    }
    const auto b = ReadAll(dir.file("alaw.wav"));
    EXPECT_EQ(LE16(b, 20), 6);
    EXPECT_EQ(LE32(b, 4), b.size() - 8);
    EXPECT_EQ(LE32(b, FindChunkIn(b, "fact") + 8), 2u);
    EXPECT_EQ(LE32(b, FindChunkIn(b, "data") + 4), 4u);
}
