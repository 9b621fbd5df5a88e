// Dawn AIFF: the untrusted 'MARK' size, the start time in the 'SSND'
// offset, short files, and what we write.
#include "CDawnAIFFFile.h"
#include "SonicTestSupport.h"
#include "SoundFileSwitches.h"
#include "TestTempDir.h"
#include "ieee_extended.h"

#include <gtest/gtest.h>

using namespace aifftest;
using namespace sonictest;

namespace {

// FORM, COMM (mono 16-bit, `frames`, 48000 Hz), a 'MARK' whose size field
// is garbage followed by 34 bytes, then 'SSND' with `offset` and `held`
// frames of samples.
std::vector<UInt8> DawnImage(UInt32 frames, UInt32 offset, const std::vector<UInt8>& held)
{
    ChunkBuilder b;
    b.put_fourcc(FOUR_CHAR_CODE("FORM"));
    b.put_u32(0);
    b.put_fourcc(FOUR_CHAR_CODE("AIFF"));
    b.put_fourcc(FOUR_CHAR_CODE("COMM"));
    b.put_u32(18);
    b.put_u16(1);
    b.put_u32(frames);
    b.put_u16(16);
    UInt8 rate[10];
    ConvertToIeeeExtended(48000.0, rate);
    b.put_bytes(rate, 10);
    b.put_fourcc(FOUR_CHAR_CODE("MARK"));
    b.put_u32(0xFFFF0000u);
    b.put_zeros(34);
    b.put_fourcc(FOUR_CHAR_CODE("SSND"));
    b.put_u32(UInt32(8 + held.size()));
    b.put_u32(offset);
    b.put_u32(0);
    b.put_bytes(held.data(), held.size());
    std::vector<UInt8> d = b.bytes();
    PutBE32(d, 4, UInt32(d.size() - 8));
    return d;
}

class DawnAIFFFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetProcessFileIfNoRegions(false);
        RegisterDawnFileTypes();
    }
    TestTempDir dir;
};

TEST_F(DawnAIFFFileTest, StartTimeBecomesTheRegionTimeStampPastAnUntrustedMARK)
{
    const std::vector<UInt8> held = Bytes(2 * 60);
    WriteAll(dir.file("take.aif"), DawnImage(100, 240, held));
    CDawnAIFFFile in;
    ASSERT_EQ(in.SetFile(dir.file("take.aif")), noErr);
    ASSERT_EQ(in.Open(), noErr);
    EXPECT_EQ(in.GetNumFrames(), 60u);  // cut to the samples present
    EXPECT_EQ(in.GetStartFrames(), 96000u);
    ASSERT_EQ(in.GetNumRegions(), 1);
    SFTRegion region;
    ASSERT_EQ(in.GetRegion(0, &region), noErr);
    EXPECT_EQ(region.start, 0u);
    EXPECT_EQ(region.end, 60u);
    EXPECT_EQ(region.timeStamp, 96000);
    EXPECT_EQ(ReadAllBlocks(in), held);
    EXPECT_EQ(in.GetFormatName(), QStringLiteral("Dawn AIFF"));
    EXPECT_EQ(in.Close(), noErr);
}

TEST_F(DawnAIFFFileTest, DamagedImagesFailCleanly)
{
    std::vector<UInt8> d = DawnImage(10, 120, Bytes(20));
    // A chunk size of zero before 'SSND' is corrupt for this reader.
    std::vector<UInt8> zero = d;
    PutBE32(zero, 4, 0x7FFFFFFF);
    zero.insert(zero.begin() + 38, {'J', 'U', 'N', 'K', 0, 0, 0, 0});
    WriteAll(dir.file("zero.aif"), zero);
    CDawnAIFFFile z;
    ASSERT_EQ(z.SetFile(dir.file("zero.aif")), noErr);
    EXPECT_EQ(z.Open(), -22009);
    z.Close();
    WriteAll(dir.file("full.aif"), d);
    for (std::size_t length = 0; length < d.size(); ++length) {
        const std::string cut = Prefix(dir.file("full.aif"), length, dir.file("cut.aif"));
        CDawnAIFFFile file;
        ASSERT_EQ(file.SetFile(cut), noErr);
        if (file.Open() == noErr) {
            EXPECT_LE(file.GetNumFrames(), 10u);
            EXPECT_LE(ReadAllBlocks(file).size(), length);
        }
        file.Close();
    }
}

TEST_F(DawnAIFFFileTest, WritesPlainAIFFWithoutCHAN)
{
    const std::vector<UInt8> samples = Bytes(2 * 777);
    const std::string path = WriteBlocks<CDawnAIFFFile>(dir.file("out"), 1, 16, 44100.0, 0, samples, [](auto&) {});
    const std::vector<UInt8> d = ReadAll(path);
    EXPECT_EQ(FindChunkIn(d, "CHAN"), -1);
    EXPECT_EQ(FindChunkIn(d, "SSND"), 38);
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), d.begin() + 54));  // the peers: the conformance suite
}

} // namespace
