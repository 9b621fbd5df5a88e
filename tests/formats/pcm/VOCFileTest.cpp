// Creative Voice ('VOC ', 'VOC2'): the bytes we write, what we refuse, and
// damaged files (the peers' files in both directions: the conformance suite).
#include "CVOCFile.h"
#include "CVOC_SBFile.h"
#include "CreateSoundFile.h"
#include "TestTempDir.h"
#include "VOCFileTypes.h"
#include "WAVETestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

using namespace wavetest;

namespace {

// Samples in the block's form (big-endian signed), as 32-bit values.
std::vector<SInt32> BlockSamples(const UInt8* block, std::size_t samples, SInt16 bits)
{
    std::vector<SInt32> out(samples);
    for (std::size_t i = 0; i < samples; ++i)
        out[i] = bits == 8 ? SInt32(SInt8(block[i])) : SInt32(SInt16(UInt16(block[2 * i] << 8 | block[2 * i + 1])));
    return out;
}

// A test signal with full-scale extremes, in 16- or 8-bit steps.
std::vector<SInt32> Signal(std::size_t samples, SInt16 bits)
{
    std::vector<SInt32> out(samples);
    const SInt32 lo = bits == 8 ? -128 : -32768, span = bits == 8 ? 256 : 65536;
    for (std::size_t i = 0; i < samples; ++i)
        out[i] = lo + SInt32((i * 7919u + i * i * 31u) % UInt32(span));
    if (samples > 1) {
        out[0] = lo;
        out[1] = lo + span - 1;
    }
    return out;
}

template <typename File>
OSErr WriteFile(std::string& path, UInt16 channels, SInt16 bits, float rate, const std::vector<SInt32>& samples)
{
    File file;
    OSErr err = file.SetFile(path);
    if (!err)
        err = file.Create(channels, bits, 0, nullptr, nullptr, rate);
    path = file.GetPath();
    if (err)
        return err;
    file.SetBufferFrames(97); // several blocks, the last one partial
    const UInt32 frames = UInt32(samples.size() / channels);
    for (UInt32 f = 0; f < frames && !err; f += 97) {
        const UInt32 n = std::min<UInt32>(97, frames - f);
        err = file.PrepareWriteBlock(f);
        UInt8* block = file.GetWriteBuffer();
        for (std::size_t i = 0; !err && i < std::size_t(n) * channels; ++i) {
            const SInt32 v = samples[std::size_t(f) * channels + i];
            if (bits == 8) {
                block[i] = UInt8(v);
            } else {
                block[2 * i] = UInt8(v >> 8);
                block[2 * i + 1] = UInt8(v);
            }
        }
        if (!err)
            err = file.WriteBlock(n, f);
    }
    const OSErr closeErr = file.Close();
    return err ? err : closeErr;
}

// Every sample of a file as our reader sees it.
template <typename File>
std::vector<SInt32> ReadFile(const std::string& path, File& file)
{
    EXPECT_EQ(file.SetFile(path), noErr);
    EXPECT_EQ(file.Open(), noErr) << path;
    std::vector<SInt32> out;
    if (!file.IsOpen())
        return out;
    file.SetBufferFrames(101);
    for (UInt32 f = 0; f < file.GetNumFrames(); f += 101) {
        EXPECT_EQ(file.ReadBlock(f), noErr);
        const UInt32 n = std::min<UInt32>(101, file.GetNumFrames() - f);
        auto part = BlockSamples(file.GetReadBuffer(), std::size_t(n) * file.GetNumChannels(), file.GetNumBits());
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

class VOCTest : public ::testing::Test {
protected:
    void SetUp() override { RegisterVOCFileTypes(); }
    TestTempDir dir;
};

TEST_F(VOCTest, EightBitLayoutRatesAndRoundTrip)
{
    const auto samples = Signal(300, 8);
    std::string path = dir.file("a");
    ASSERT_EQ(WriteFile<CVOCFile>(path, 1, 8, 8000.0f, samples), noErr);
    const auto bytes = ReadAll(path);
    ASSERT_EQ(bytes.size(), 32u + 300u + 1u);
    EXPECT_EQ(std::memcmp(bytes.data(), "Creative Voice File\x1A\x1A\x00\x0A\x01\x29\x11", 26), 0);
    EXPECT_EQ(bytes[26], 1);
    EXPECT_EQ(bytes[27] | bytes[28] << 8 | bytes[29] << 16, 302);
    EXPECT_EQ(bytes[30], 131);
    EXPECT_EQ(bytes[31], 0);
    EXPECT_EQ(bytes[32], 0x00); // -128 stored unsigned
    EXPECT_EQ(bytes[33], 0xFF);
    EXPECT_EQ(bytes.back(), 0);

    CVOCFile in;
    EXPECT_EQ(ReadFile(path, in), samples);
    EXPECT_EQ(in.GetSampleRate(), 8000.0);
    EXPECT_EQ(in.GetNumFrames(), 300u);
    EXPECT_EQ(in.GetState(), kSampleFormatUnsigned8LE);
    // Past the last frame: silence.
    ASSERT_EQ(in.ReadBlock(250), noErr);
    for (int i = 50; i < 101; ++i)
        EXPECT_EQ(in.GetReadBuffer()[i], 0);

    std::string fast = dir.file("b");
    ASSERT_EQ(WriteFile<CVOCFile>(fast, 1, 8, 20000.0f, samples), noErr);
    EXPECT_EQ(ReadAll(fast)[30], 206);
    CVOCFile again;
    ReadFile(fast, again);
    EXPECT_EQ(again.GetSampleRate(), 20000.0);

    // An output closed at once: the block header and the terminator.
    std::string empty = dir.file("c");
    ASSERT_EQ(WriteFile<CVOCFile>(empty, 1, 8, 8000.0f, {}), noErr);
    const auto e = ReadAll(empty);
    ASSERT_EQ(e.size(), 33u);
    EXPECT_EQ(e[27], 2);
    EXPECT_EQ(e[32], 0);
}

TEST_F(VOCTest, SixteenBitLayoutAndRoundTrip)
{
    for (UInt16 channels : {1, 2, 6}) {
        const auto samples = Signal(std::size_t(channels) * 250, 16);
        std::string path = dir.file("p" + std::to_string(channels));
        ASSERT_EQ(WriteFile<CVOC_SBFile>(path, channels, 16, 48000.0f, samples), noErr);
        const auto bytes = ReadAll(path);
        ASSERT_EQ(bytes.size(), 42u + samples.size() * 2 + 1);
        EXPECT_EQ(bytes[22] | bytes[23] << 8, 0x0114);
        EXPECT_EQ(bytes[24] | bytes[25] << 8, 0x111F);
        EXPECT_EQ(bytes[26], 9);
        EXPECT_EQ(UInt32(bytes[27] | bytes[28] << 8 | bytes[29] << 16), samples.size() * 2 + 12);
        EXPECT_EQ(bytes[30] | bytes[31] << 8 | bytes[32] << 16, 48000);
        EXPECT_EQ(bytes[34], 16);
        EXPECT_EQ(bytes[35], channels);
        EXPECT_EQ(bytes[36], 4);
        EXPECT_EQ(bytes[42], 0x00); // -32768 little-endian
        EXPECT_EQ(bytes[43], 0x80);

        CVOC_SBFile in;
        EXPECT_EQ(ReadFile(path, in), samples);
        EXPECT_EQ(in.GetSampleRate(), 48000.0);
        EXPECT_EQ(in.GetNumChannels(), channels);
        EXPECT_EQ(in.GetState(), kSampleFormatLittleEndian);
    }
}

// sox's files are in the conformance suite; ffmpeg and libsndfile write
// the newer blocks.
// A file image: the 26-byte header, then the given block bytes.
std::vector<UInt8> Image(std::initializer_list<UInt8> blocks)
{
    static constexpr char kHeader[] = "Creative Voice File\x1A\x1A\x00\x0A\x01\x29\x11";
    static_assert(sizeof(kHeader) == 27);
    std::vector<UInt8> out;
    out.reserve(26 + blocks.size());
    out.assign(kHeader, kHeader + 26);
    out.insert(out.end(), blocks);
    return out;
}

TEST_F(VOCTest, BlockWalkAndMissingOrPackedBlocks)
{
    auto open = [&](const std::vector<UInt8>& bytes, auto&& file) {
        static int n = 0;
        const std::string path = dir.file("w" + std::to_string(n++) + ".voc");
        WriteAll(path, bytes);
        file.SetFile(path);
        return file.Open();
    };
    // Only the terminator.
    EXPECT_EQ(open(Image({0}), CVOCFile()), kVOCNoDataBlockErr);
    EXPECT_EQ(open(Image({0}), CVOC_SBFile()), kVOCSBNoFormatBlockErr);
    {
        std::ifstream in(dir.file("w0.voc"), std::ios::binary);
        EXPECT_EQ(FindVOCBlock(8, in), kChunkNotFoundErr);
        OSType type = 0;
        EXPECT_EQ(DetectFileType(dir.file("w0.voc"), &type), noErr);
        EXPECT_EQ(type, FOUR_CHAR_CODE("VOC "));
    }
    // A text block ahead of the sound data is passed; a second data block is
    // not read.
    CVOCFile withText;
    EXPECT_EQ(open(Image({5, 3, 0, 0, 'h', 'i', 0, 1, 5, 0, 0, 131, 0, 0x80, 0x81, 0x82, 1, 4, 0, 0, 131, 0, 1, 2, 0}),
                   withText), noErr);
    EXPECT_EQ(withText.GetNumFrames(), 3u);
    EXPECT_EQ(withText.GetDataOffset(), 26 + 7 + 6);
    // Packed data.
    EXPECT_EQ(open(Image({1, 4, 0, 0, 131, 1, 0x80, 0x80, 0}), CVOCFile()), kVOCNoLinearDataErr);
    EXPECT_EQ(open(Image({8, 4, 0, 0, 0, 0xC1, 1, 0, 1, 4, 0, 0, 0, 0, 1, 2, 0}), CVOC_SBFile()),
              kVOCSBNoLinearDataErr);
    EXPECT_EQ(open(Image({9, 14, 0, 0, 0x40, 0x1F, 0, 0, 4, 1, 1, 0, 0, 0, 0, 0, 1, 2, 0}), CVOC_SBFile()),
              kVOCSBNoLinearDataErr);
    // Block 8 without a data block.
    EXPECT_EQ(open(Image({8, 4, 0, 0, 0, 0xC1, 0, 1, 0}), CVOC_SBFile()), kVOCSBNoDataBlockErr);
    // No channels.
    EXPECT_EQ(open(Image({9, 12, 0, 0, 0x40, 0x1F, 0, 0, 16, 0, 4, 0, 0, 0, 0, 0, 0}), CVOC_SBFile()),
              kVOCChannelsErr);
}

TEST_F(VOCTest, DamagedFilesAreClampedNeverOverread)
{
    // Lengths that promise far more than the file holds are clamped.
    {
        const std::string path = dir.file("long.voc");
        WriteAll(path, Image({1, 0xFF, 0xFF, 0xFF, 131, 0, 0x80, 0x90}));
        CVOCFile file;
        const auto samples = ReadFile(path, file);
        EXPECT_EQ(file.GetNumFrames(), 2u);
        EXPECT_EQ(samples, (std::vector<SInt32>{0, 16}));
    }
    {
        const std::string path = dir.file("long9.voc");
        WriteAll(path, Image({9, 0xFF, 0xFF, 0xFF, 0x44, 0xAC, 0, 0, 16, 2, 4, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5}));
        CVOC_SBFile file;
        ReadFile(path, file);
        EXPECT_EQ(file.GetNumFrames(), 1u);
    }
    // Every truncation of our files of both kinds: the conformance suite.
}

TEST_F(VOCTest, WritesBeyondOneBlockAreRefused)
{
    CVOC_SBFile file;
    file.SetFile(dir.file("big"));
    ASSERT_EQ(file.Create(1, 16, 0, nullptr, nullptr, 8000.0f), noErr);
    file.SetBufferFrames(16);
    ASSERT_EQ(file.PrepareWriteBlock(0), noErr);
    // (0xFFFFFF - 12) / 2 frames fit; one more does not.
    EXPECT_EQ(file.WriteBlock(16, (0xFFFFFF - 12) / 2 - 15), kFragmentedVOCOutputErr);
    EXPECT_EQ(file.Close(), noErr);
}

} // namespace
