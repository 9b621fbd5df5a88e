// The keep-layout word-length copy between real files, which moves file
// bytes straight into the output when both formats keep plain words, makes
// the very files the block path makes: every word length and byte order of
// WAVE (little-endian, unsigned bytes), AIFF, AIFF-C and NeXT (big-endian,
// signed bytes) in and out, with and without dither, a range that starts
// inside the file and runs past its end, and block sizes that differ
// between input and output.  The oracle is the same copy from an in-memory
// file holding the blocks the input's class reads, which goes through
// blocks and the output's WriteBlock.
#include "CSoundFile.h"
#include "CreateSoundFile.h"
#include "DitherTable.h"
#include "EngineStartup.h"
#include "MemorySoundFile.h"
#include "SoundFileSwitches.h"
#include "TestTempDir.h"
#include "sample_format_copy.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <tuple>
#include <utility>

namespace {

constexpr OSType kWAVE = FOUR_CHAR_CODE("WAVE");
constexpr OSType kAIFF = FOUR_CHAR_CODE("AIFF");
constexpr OSType kAIFC = FOUR_CHAR_CODE("AIFC");
constexpr OSType kNeXT = FOUR_CHAR_CODE("NxTS");

// in and out type, in bits, out bits, dither
using TypePair = std::pair<OSType, OSType>;
using CopyCase = std::tuple<TypePair, int, int, bool>;

std::unique_ptr<CSoundFile> Make(OSType type)
{
    return std::unique_ptr<CSoundFile>(CreateSoundFileObject(type));
}

std::string Bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Block bytes of `samples` samples: noise, with the extremes and the values
// around every rounding step and guard coming back every 61 samples.
std::vector<UInt8> TestBlock(std::size_t samples, int bytes)
{
    std::vector<UInt8> block(samples * std::size_t(bytes));
    const UInt32 edges[] = {0x80000000u, 0x7FFFFFFFu, 0, 0xFFFFFFFFu, 0x7FFF8000u, 0x7FFF7FFFu, 0x7F800000u,
                            0x7F7FFFFFu, 0x00008000u, 0xFFFF8000u, 0x00800000u, 0xFF800000u, 0x12348000u};
    UInt32 seed = 12345;
    for (std::size_t i = 0; i < samples; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const UInt32 v = i % 61 < std::size(edges) ? edges[i % 61] : seed;
        for (int b = 0; b < bytes; ++b)
            block[i * std::size_t(bytes) + std::size_t(b)] = UInt8(v >> (24 - 8 * b));
    }
    return block;
}

class SampleFormatCopyFiles : public ::testing::TestWithParam<CopyCase> {
protected:
    static void SetUpTestSuite() { EngineStartup::registerFileTypes(); }
    void SetUp() override { SetProcessFileIfNoRegions(false); }

    std::unique_ptr<CSoundFile> Create(OSType type, int bits, UInt16 channels, const std::string& name)
    {
        auto file = Make(type);
        EXPECT_TRUE(file);
        if (!file)
            return file;
        EXPECT_EQ(file->SetFile(dir_.file(name)), noErr);
        EXPECT_EQ(file->Create(channels, SInt16(bits), 0, nullptr, nullptr, 44100.0f), noErr);
        EXPECT_EQ(file->SetBufferFrames(777), noErr);
        return file;
    }

    TestTempDir dir_;
};

TEST_P(SampleFormatCopyFiles, RawCopyMakesTheBlockPathsFile)
{
    const auto [types, inBits, outBits, dither] = GetParam();
    const auto [inType, outType] = types;
    const UInt16 channels = inBits == 24 ? 3 : inBits == 8 ? 1 : 2;
    constexpr UInt32 kFrames = 2600;
    constexpr UInt32 kBlock = 1000;

    // The input, written through its class.
    std::string inPath;
    {
        auto file = Create(inType, inBits, channels, "in");
        ASSERT_TRUE(file);
        const std::vector<UInt8> block = TestBlock(std::size_t(kFrames) * channels, inBits / 8);
        const std::size_t frameBytes = std::size_t(channels) * std::size_t(inBits / 8);
        for (UInt32 at = 0; at < kFrames; at += file->GetBufferFrames()) {
            const UInt32 n = std::min(file->GetBufferFrames(), kFrames - at);
            ASSERT_EQ(file->AllocateWriteBuffer(), noErr);
            ASSERT_EQ(file->PrepareWriteBlock(at), noErr);
            std::memcpy(file->GetWriteBuffer(), block.data() + at * frameBytes, n * frameBytes);
            ASSERT_EQ(file->WriteBlock(n, at), noErr);
        }
        ASSERT_EQ(file->Close(), noErr);
        inPath = file->GetPath();
    }
    auto in = Make(inType);
    ASSERT_EQ(in->SetFile(inPath), noErr);
    ASSERT_EQ(in->Open(), noErr);
    ASSERT_EQ(in->GetNumFrames(), kFrames);
    ASSERT_EQ(in->SetBufferFrames(kBlock), noErr);

    // The oracle's input: the blocks the class reads.
    MemorySoundFile memory(channels, SInt16(inBits));
    memory.SetOpenFlag(true);
    ASSERT_EQ(memory.SetBufferFrames(kBlock), noErr);
    std::vector<UInt8> decoded;
    for (UInt32 at = 0; at < kFrames; at += kBlock) {
        ASSERT_EQ(in->ReadBlock(at), noErr);
        const UInt32 n = std::min(kBlock, kFrames - at);
        decoded.insert(decoded.end(), in->GetReadBuffer(), in->GetReadBuffer() + n * memory.FrameBytes());
    }
    memory.SetData(decoded);
    in->FreeBuffers();

    // A range from inside the file to past its end: both copies read the
    // missing frames as silence.
    SampleCopySettings settings;
    settings.needsRedither = dither;
    // Both copies draw the same noise: a fresh table from the first seed,
    // read from near its end so that the index wraps early on.
    const auto freshNoise = [] {
        FreeDitherTable();
        gDitherSeed = 0;
        gDitherIndex = 65000;
        ASSERT_EQ(CreateDitherTable(), 0);
    };
    const UInt32 start = 3;
    const UInt32 end = kFrames + 450;
    auto direct = Create(outType, outBits, channels, "direct");
    auto blocks = Create(outType, outBits, channels, "blocks");
    ASSERT_TRUE(direct && blocks);
    freshNoise();
    EXPECT_EQ(ConvertSampleFormatRange(in.get(), direct.get(), start, end, settings), 0);
    const UInt16 drawn = gDitherIndex;
    freshNoise();
    EXPECT_EQ(ConvertSampleFormatRange(&memory, blocks.get(), start, end, settings), 0);
    EXPECT_EQ(gDitherIndex, drawn);
    FreeDitherTable();
    // No block was needed on the raw path.
    EXPECT_EQ(in->GetReadBuffer(), nullptr);
    EXPECT_EQ(direct->GetWriteBuffer(), nullptr);
    EXPECT_EQ(direct->GetNumFrames(), end - start);
    EXPECT_EQ(direct->Close(), noErr);
    EXPECT_EQ(blocks->Close(), noErr);
    EXPECT_EQ(in->Close(), noErr);

    const std::string made = Bytes(direct->GetPath());
    EXPECT_GT(made.size(), std::size_t(end - start) * channels * std::size_t(outBits / 8));
    EXPECT_TRUE(made == Bytes(blocks->GetPath())) << "the raw copy's file differs from the block path's";
}

std::string CaseName(const ::testing::TestParamInfo<CopyCase>& info)
{
    const auto [types, inBits, outBits, dither] = info.param;
    const auto [inType, outType] = types;
    const auto name = [](OSType type) {
        return type == kWAVE ? std::string("Wave") : type == kAIFF ? std::string("Aiff")
                             : type == kAIFC ? std::string("Aifc") : std::string("Next");
    };
    return name(inType) + std::to_string(inBits) + "To" + name(outType) + std::to_string(outBits) +
           (dither ? "Dithered" : "");
}

INSTANTIATE_TEST_SUITE_P(WordLengthsAndByteOrders, SampleFormatCopyFiles,
                         ::testing::Combine(::testing::Values(TypePair{kWAVE, kAIFF}, TypePair{kAIFF, kWAVE},
                                                              TypePair{kWAVE, kWAVE}, TypePair{kAIFF, kAIFF},
                                                              TypePair{kAIFC, kNeXT}, TypePair{kNeXT, kAIFC}),
                                            ::testing::Values(8, 16, 24, 32), ::testing::Values(8, 16, 24, 32),
                                            ::testing::Bool()),
                         CaseName);

} // namespace
