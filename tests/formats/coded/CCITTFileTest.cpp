// The G.72x files against libspandsp: the packed codes of a file we write
// are spandsp's (least significant bits first, its "right" packing) for the
// same samples, the last partial byte is written, and our decode of the
// file is spandsp's (where spandsp's 16-bit result has not wrapped: we
// clamp the reconstructed signal instead).
#include "CCITTFile.h"
#include "CodedTestSupport.h"
#include "TestTempDir.h"

extern "C" {
#include <spandsp.h>
}

using namespace codedtest;

namespace {

OSType Code(const char* text)
{
    return (OSType(UInt8(text[0])) << 24) | (OSType(UInt8(text[1])) << 16) | (OSType(UInt8(text[2])) << 8) |
           OSType(UInt8(text[3]));
}

std::vector<int16_t> Samples(std::size_t n)
{
    std::vector<int16_t> out;
    for (const double v : TestAudio(UInt32(n), 1, 0.9))
        out.push_back(int16_t(std::lround(v * 20000)));
    return out;
}

} // namespace

TEST(CCITTFile, CodesAndDecodeAreSpandsps)
{
    TestTempDir dir;
    for (const auto& [type, bits] : {std::pair{"23-2", 2}, std::pair{"26-3", 3}, std::pair{"21-4", 4},
                                     std::pair{"26-5", 5}}) {
        const std::vector<int16_t> samples = Samples(5001);
        std::vector<double> audio;
        for (int16_t s : samples)
            audio.push_back(s / 32768.0);
        std::string path;
        ASSERT_EQ(WriteFile(Code(type), dir.file(std::string("take") + type), 1, 8000.0, 16, audio, &path),
                  noErr);
        const std::vector<UInt8> bytes = ReadBytes(path);
        // The last partial byte is there, zero above its codes.
        ASSERT_EQ(bytes.size(), (5001u * bits + 7) / 8) << type;

        g726_state_t* s = g726_init(nullptr, bits * 8000, G726_ENCODING_LINEAR, G726_PACKING_RIGHT);
        std::vector<UInt8> theirs(bytes.size() + 8);
        const int n = g726_encode(s, theirs.data(), samples.data(), int(samples.size()));
        g726_free(s);
        ASSERT_GE(n, int(bytes.size()) - 1);
        for (int i = 0; i < n; ++i)
            ASSERT_EQ(bytes[std::size_t(i)], theirs[std::size_t(i)]) << type << " byte " << i;

        OSErr err;
        auto file = OpenFile(Code(type), path, &err);
        ASSERT_EQ(err, noErr);
        EXPECT_EQ(file->GetSampleRate(), 8000.0);
        EXPECT_EQ(file->GetNumFrames(), bytes.size() * 8 / bits);
        const std::vector<int> ours = ReadSamples16(*file);
        s = g726_init(nullptr, bits * 8000, G726_ENCODING_LINEAR, G726_PACKING_RIGHT);
        std::vector<int16_t> decoded(ours.size() + 16);
        const int m = g726_decode(s, decoded.data(), bytes.data(), int(bytes.size()));
        g726_free(s);
        ASSERT_GE(m, 5001);
        std::size_t compared = 0;
        for (std::size_t i = 0; i < 5001; ++i) {
            if (ours[i] > -32768 && ours[i] < 32767) {
                ASSERT_EQ(ours[i], decoded[i]) << type << " sample " << i;
                ++compared;
            }
        }
        EXPECT_GT(compared, 4900u);
    }
}

TEST(CCITTFile, FrameCountsFollowTheCodeWidth)
{
    TestTempDir dir;
    for (const auto& [bits, bytes, frames] : {std::tuple{3, 3000, 8000u}, std::tuple{5, 5, 8u}, std::tuple{2, 1, 4u}}) {
        const std::string path = dir.file("n" + std::to_string(bits));
        WriteBytes(path, std::vector<UInt8>(std::size_t(bytes), 0x5A));
        CCITTFile file(FOUR_CHAR_CODE("26-4"), bits, "x");
        ASSERT_EQ(file.SetFile(path), noErr);
        ASSERT_EQ(file.Open(), noErr);
        EXPECT_EQ(file.GetNumFrames(), frames);
        EXPECT_EQ(file.GetNumChannels(), 1);
        EXPECT_EQ(file.Close(), noErr);
        EXPECT_EQ(file.Close(), -22005);
    }
    // Five 3-bit codes take two bytes once the last one is flushed, and
    // stereo is refused.
    std::string path;
    ASSERT_EQ(WriteFile(FOUR_CHAR_CODE("23-3"), dir.file("five"), 1, 8000.0, 16, TestAudio(5, 1), &path), noErr);
    EXPECT_EQ(ReadBytes(path).size(), 2u);
    CCITTFile stereo(FOUR_CHAR_CODE("23-3"), 3, "x");
    ASSERT_EQ(stereo.SetFile(dir.file("stereo")), noErr);
    EXPECT_EQ(stereo.Create(2, 16, 0, nullptr, nullptr, 8000.0f), -23900);
}
