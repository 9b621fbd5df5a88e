// Sound Designer I: the written header and damaged headers (round trips
// are in the conformance suite).
#include "CSD1File.h"
#include "SonicTestSupport.h"
#include "SoundFileSwitches.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

using namespace aifftest;
using namespace sonictest;

namespace {

class SD1FileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetProcessFileIfNoRegions(false);
        RegisterSD1FileTypes();
    }
    TestTempDir dir;
};

TEST_F(SD1FileTest, WritesThePublishedHeader)
{
    const std::vector<UInt8> samples = Bytes(2 * 30001);
    const std::string path = WriteBlocks<CSD1File>(dir.file("take"), 1, 16, 44100.0, 0, samples, [](auto&) {});
    const std::vector<UInt8> d = ReadAll(path);
    ASSERT_EQ(d.size(), 1336u + samples.size());
    EXPECT_EQ(BE16(d, 0), 1336);
    EXPECT_EQ(BE16(d, 2), 32);
    EXPECT_EQ(BE16(d, 56), 0xFF00);
    EXPECT_EQ(BE32(d, 62), 327u);
    EXPECT_EQ(std::string(d.begin() + 70, d.begin() + 77), "\x06%scale");
    EXPECT_EQ(std::string(d.begin() + 112, d.begin() + 116), "\x03sec");
    EXPECT_EQ(BE32(d, 188), samples.size());
    EXPECT_EQ(d[358 + 40 * 9], 1);
    EXPECT_EQ(BE32(d, 762), 0xFFFFFFFFu);
    EXPECT_EQ(std::string(d.begin() + 773, d.begin() + 781), "\x07" "Corvane");
    EXPECT_EQ(BE32(d, 1030), 44100u);
    EXPECT_EQ(BE32(d, 1034), 22u);
    EXPECT_EQ(BE16(d, 1038), 16);
    EXPECT_EQ(std::string(d.begin() + 1040, d.begin() + 1047), "\x06Linear");
    EXPECT_EQ(BE16(d, 1334), 0xFFFF);
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), d.begin() + 1336));

    EXPECT_EQ(CSD1File().GetFormatName(), QStringLiteral("SoundDesigner I"));
}

TEST_F(SD1FileTest, EightBitSizesAndProbe)
{
    const std::vector<UInt8> samples = Bytes(1000, 3);
    const std::string path = WriteBlocks<CSD1File>(dir.file("eight"), 1, 8, 22050.0, 0, samples, [](auto&) {});
    const std::vector<UInt8> d = ReadAll(path);
    EXPECT_EQ(d.size(), 2336u);
    EXPECT_EQ(BE32(d, 188), 1000u);
    CSD1File probe;
    ASSERT_EQ(probe.SetFile(path), noErr);
    SInt16 result = -1;
    EXPECT_EQ(probe.ProbeHeader(&result), noErr);
    EXPECT_EQ(probe.GetNumFrames(), 1000u);
    EXPECT_EQ(probe.GetNumBits(), 8);
    EXPECT_FALSE(probe.IsOpen());
}

TEST_F(SD1FileTest, DamagedHeadersAreClampedOrRefused)
{
    const std::string path = WriteBlocks<CSD1File>(dir.file("src"), 1, 16, 48000.0, 0, Bytes(400), [](auto&) {});
    std::vector<UInt8> d = ReadAll(path);
    // A data size beyond the file: the frame count is what the file holds.
    PutBE32(d, 188, 0xFFFFFFF0u);
    WriteAll(dir.file("big"), d);
    CSD1File big;
    ASSERT_EQ(big.SetFile(dir.file("big")), noErr);
    ASSERT_EQ(big.Open(), noErr);
    EXPECT_EQ(big.GetNumFrames(), 200u);
    EXPECT_EQ(ReadAllBlocks(big).size(), 400u);
    big.Close();
    // Every cut of the header and a 12-bit word length are refused: the
    // conformance suite.
}

} // namespace
