// The AVR format: header layout (stereo word, sign, loop, rate and its
// replay-speed byte, name), unsigned input, the peers in both directions,
// and damaged headers.
#include "CAVRFile.h"
#include "IFF8SVXAVRCDFileTypes.h"
#include "IFF8SVXAVRCDTestSupport.h"
#include "SoundFileRegistry.h"
#include "SoundFileSwitches.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <memory>

using namespace smallpcm;

namespace {

class AVRFileTest : public ::testing::Test {
protected:
    void SetUp() override { SetProcessFileIfNoRegions(false); }
    TestTempDir dir;
};

std::vector<UInt8> Header(UInt16 stereo, UInt16 bits, UInt16 sign, UInt32 rate, UInt32 frames, UInt16 loop = 0,
                          UInt32 loopBegin = 0, UInt32 loopEnd = 0)
{
    std::vector<UInt8> h(128, 0);
    std::memcpy(h.data(), "2BIT", 4);
    h[12] = UInt8(stereo >> 8);
    h[13] = UInt8(stereo);
    h[15] = UInt8(bits);
    h[16] = UInt8(sign >> 8);
    h[17] = UInt8(sign);
    h[18] = UInt8(loop >> 8);
    h[19] = UInt8(loop);
    PutBE32(h, 22, rate);
    PutBE32(h, 26, frames);
    PutBE32(h, 30, loopBegin);
    PutBE32(h, 34, loopEnd);
    return h;
}

} // namespace

TEST_F(AVRFileTest, WrittenHeaderFollowsThePublishedLayout)
{
    const std::vector<SInt32> mono = {-32768, 32767, 1, -2};
    const auto m = ReadAll(WriteSamples<CAVRFile>(dir.file("abcd"), 1, 16, 22050.0f, mono));
    ASSERT_EQ(m.size(), 128u + 8u);
    EXPECT_EQ(std::string(m.begin(), m.begin() + 4), "2BIT");
    EXPECT_EQ(std::string(m.begin() + 4, m.begin() + 12), "abcd.avr");  // 8 characters
    EXPECT_EQ(m[44], 0);
    EXPECT_EQ(BE16(m, 12), 0);        // mono
    EXPECT_EQ(BE16(m, 14), 16);
    EXPECT_EQ(BE16(m, 16), 0xFFFF);   // signed
    EXPECT_EQ(BE16(m, 18), 0);        // no loop
    EXPECT_EQ(BE16(m, 20), 0xFFFF);   // no MIDI note
    EXPECT_EQ(BE32(m, 22), 22050u);   // replay-speed byte 0, then the rate
    EXPECT_EQ(BE32(m, 26), 4u);
    EXPECT_EQ(std::vector<UInt8>(m.begin() + 128, m.end()), BlockBytes(mono, 16));

    const std::vector<SInt32> stereo = {-127, 126, 3, -4};
    CAVRFile file;
    ASSERT_EQ(file.SetFile(dir.file("abcdefgh")), noErr);
    ASSERT_EQ(file.Create(2, 8, 0, nullptr, nullptr, 8000.7f), noErr);
    file.SetDither(false);
    std::vector<double> values = ExactValues(stereo, 8);
    UInt32 count = 2;
    ASSERT_EQ(file.WriteFrames(0, &count, values.data()), noErr);
    SFTLoop loop;
    loop.start = 0;
    loop.end = 2;
    loop.type = 1;
    ASSERT_EQ(file.AddLoop(&loop), noErr);
    ASSERT_EQ(file.Close(), noErr);
    const auto s = ReadAll(file.GetPath());
    ASSERT_EQ(s.size(), 128u + 4u);
    EXPECT_EQ(std::string(s.begin() + 4, s.begin() + 12), "abcdefgh");
    EXPECT_EQ(std::string(s.begin() + 44, s.begin() + 48), ".avr");  // 12 characters
    EXPECT_EQ(s[48], 0);
    EXPECT_EQ(BE16(s, 12), 0xFFFF);   // stereo
    EXPECT_EQ(BE16(s, 14), 8);
    EXPECT_EQ(BE16(s, 18), 0xFFFF);
    EXPECT_EQ(BE32(s, 22), 8000u);
    EXPECT_EQ(BE32(s, 30), 0u);
    EXPECT_EQ(BE32(s, 34), 2u);
    EXPECT_EQ(std::vector<UInt8>(s.begin() + 128, s.end()), BlockBytes(stereo, 8));

    // The loop reads back (shapes and samples: the conformance suite).
    auto back = OpenFile<CAVRFile>(file.GetPath());
    ASSERT_EQ(back->GetNumLoops(), 1);
    SFTLoop read;
    ASSERT_EQ(back->GetLoop(0, &read), noErr);
    EXPECT_EQ(read.start, 0u);
    EXPECT_EQ(read.end, 2u);
    EXPECT_EQ(read.type, 1);
}

TEST_F(AVRFileTest, HeaderWordsAreReadAsPublished)
{
    // Stereo word, sign word (unsigned samples become signed in the block),
    // the replay-speed byte before the rate, a loop.
    struct Case {
        const char* name;
        UInt16 stereo, bits, sign;
        UInt32 rate;
        std::vector<UInt8> data;
        UInt16 channels;
        std::vector<UInt8> block;
        SInt16 format;
    } cases[] = {
        {"u8", 0, 8, 0, 0xFF00AC44, {0x80, 0xFF, 0x00, 0x81}, 1, {0x00, 0x7F, 0x80, 0x01}, kSampleFormatUnsigned8},
        {"s8", 0xFFFF, 8, 0xFFFF, 0x0300AC44, {0x80, 0xFF, 0x00, 0x81}, 2, {0x80, 0xFF, 0x00, 0x81},
         kSampleFormatBigEndian},
        {"u16", 0xFFFF, 16, 0, 44100, {0x80, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x12, 0x34}, 2,
         {0x00, 0x00, 0x7F, 0xFF, 0x80, 0x00, 0x92, 0x34}, kSampleFormatUnsigned8},
        {"s16", 0, 16, 1, 44100, {0x80, 0x00, 0x12, 0x34}, 1, {0x80, 0x00, 0x12, 0x34}, kSampleFormatBigEndian},
    };
    for (const Case& c : cases) {
        const UInt32 frames = UInt32(c.data.size() / (c.bits / 8) / c.channels);
        auto bytes = Header(c.stereo, c.bits, c.sign, c.rate, frames, 0xFFFF, 1, frames);
        bytes.insert(bytes.end(), c.data.begin(), c.data.end());
        WriteAll(dir.file(c.name), bytes);
        auto file = OpenFile<CAVRFile>(dir.file(c.name));
        EXPECT_EQ(file->GetNumChannels(), c.channels) << c.name;
        EXPECT_EQ(file->GetNumBits(), c.bits) << c.name;
        EXPECT_EQ(file->GetSampleRate(), 44100.0) << c.name;
        EXPECT_EQ(file->GetState(), c.format) << c.name;
        EXPECT_EQ(file->GetNumFrames(), frames) << c.name;
        EXPECT_EQ(ReadAllBlocks(*file), c.block) << c.name;
        // The block after the data is silence for the signed block.
        ASSERT_EQ(file->ReadBlock(0), noErr);
        EXPECT_EQ(file->GetReadBuffer()[c.data.size()], 0) << c.name;
        ASSERT_EQ(file->GetNumLoops(), 1) << c.name;
        SFTLoop loop;
        ASSERT_EQ(file->GetLoop(0, &loop), noErr);
        EXPECT_EQ(loop.start, 1u);
        EXPECT_EQ(loop.end, frames);
    }
}

TEST_F(AVRFileTest, DamagedHeadersAreRefusedOrClamped)
{
    // (Cut files, damaged magic or word lengths: the conformance suite.)
    // A loop beyond the data is cut; a reversed one is dropped.
    auto loops = Header(0, 16, 0xFFFF, 8000, 0xFFFFFFFF, 0xFFFF, 1, 0xFFFFFF00);
    loops.insert(loops.end(), {0, 1, 0, 2, 0, 3});
    WriteAll(dir.file("loop"), loops);
    auto file = OpenFile<CAVRFile>(dir.file("loop"));
    EXPECT_EQ(file->GetNumFrames(), 3u);
    SFTLoop loop;
    ASSERT_EQ(file->GetLoop(0, &loop), noErr);
    EXPECT_EQ(loop.end, 3u);
    PutBE32(loops, 30, 3);
    PutBE32(loops, 34, 2);
    WriteAll(dir.file("reversed"), loops);
    EXPECT_EQ(OpenFile<CAVRFile>(dir.file("reversed"))->GetNumLoops(), 0);
}

