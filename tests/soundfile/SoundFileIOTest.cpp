// Buffered sample I/O of CSoundFile: read scales, clipping, dither, the
// channel add-writer and the block loop, driven through MemorySoundFile.
#include "DitherTable.h"
#include "MemorySoundFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

// Keeps the process-wide dither state of one test from leaking into others.
class DitherStateGuard {
public:
    DitherStateGuard() : index_(gDitherIndex), seed_(gDitherSeed) {}
    ~DitherStateGuard()
    {
        FreeDitherTable();
        gDitherIndex = index_;
        gDitherSeed = seed_;
    }

private:
    UInt16 index_;
    UInt32 seed_;
};

std::vector<UInt8> Bytes(std::initializer_list<int> values)
{
    std::vector<UInt8> out;
    for (int v : values)
        out.push_back(UInt8(v));
    return out;
}

SInt32 Word16(const std::vector<UInt8>& data, std::size_t index)
{
    return SInt16(UInt16((data[2 * index] << 8) | data[2 * index + 1]));
}

// Mono frames of `bits` bits read as doubles.
std::vector<double> ReadMono(SInt16 bits, const std::vector<UInt8>& bytes)
{
    MemorySoundFile f(1, bits);
    f.SetData(bytes);
    std::vector<double> out(bytes.size() / std::size_t(bits / 8));
    UInt32 count = UInt32(out.size());
    EXPECT_EQ(f.ReadFrames(0, &count, out.data()), 0);
    EXPECT_EQ(count, out.size());
    return out;
}

} // namespace

TEST(SoundFileIO, FreshObjectDefaults)
{
    MemorySoundFile f;
    EXPECT_EQ(f.GetNumBits(), 16);
    EXPECT_EQ(f.GetNumChannels(), 0);
    EXPECT_EQ(f.GetNumFrames(), 0u);
    EXPECT_EQ(f.GetBufferFrames(), 12288u);
    EXPECT_TRUE(f.GetDither());
    SFTSamplerInfo info;
    EXPECT_EQ(f.GetSamplerInfo(&info), -22007);
    EXPECT_EQ(info.baseNote, 60);
    EXPECT_EQ(info.highNote, 127);
    EXPECT_EQ(info.highVelocity, 127);
    EXPECT_EQ(f.GetReadBuffer(), nullptr);
    EXPECT_EQ(f.GetWriteBuffer(), nullptr);
}

TEST(SoundFileIO, ReadScalesAreTheDecimalConstants)
{
    // 8 bits: 1/128.
    EXPECT_EQ(ReadMono(8, Bytes({0x80, 0x7F, 0x01})), (std::vector<double>{-1.0, 127 * 0.0078125, 0.0078125}));
    // 16 bits: 3.051758e-5, which is not 1/32768.
    const std::vector<double> sixteen = ReadMono(16, Bytes({0x00, 0x01, 0x80, 0x00, 0x7F, 0xFF}));
    EXPECT_EQ(sixteen, (std::vector<double>{3.051758e-5, -32768 * 3.051758e-5, 32767 * 3.051758e-5}));
    EXPECT_NE(sixteen[0], 1.0 / 32768.0);
    // 24 bits: the three bytes at the top of a 32-bit word, times 4.65661287308e-10.
    const std::vector<double> deep = ReadMono(24, Bytes({0x00, 0x00, 0x01, 0x80, 0x00, 0x00}));
    EXPECT_EQ(deep, (std::vector<double>{256 * 4.65661287308e-10, -2147483648.0 * 4.65661287308e-10}));
    EXPECT_NE(deep[0], 256.0 / 2147483648.0);
    // 32 bits, and 24-in-32 (code 146) shifted left by 8 first.
    {
        MemorySoundFile f(1, 32);
        f.SetData(Bytes({0x00, 0x00, 0x00, 0x01, 0x00, 0x80, 0x00, 0x00}));
        double out[2] = {};
        UInt32 count = 2;
        ASSERT_EQ(f.ReadFrames(0, &count, out), 0);
        EXPECT_EQ(out[0], 4.65661287308e-10);
        EXPECT_EQ(out[1], 8388608 * 4.65661287308e-10);

        f.SetSampleFormat(kSampleFormat24In32);
        count = 2;
        ASSERT_EQ(f.ReadFrames(0, &count, out), 0);
        EXPECT_EQ(out[0], 256 * 4.65661287308e-10);
        EXPECT_EQ(out[1], -2147483648.0 * 4.65661287308e-10);
        float fl[2] = {};
        count = 2;
        ASSERT_EQ(f.ReadFrames(0, &count, fl), 0);
        EXPECT_EQ(fl[1], float(-2147483648.0 * 4.65661287308e-10));
    }
}

TEST(SoundFileIO, FloatReadersRoundAsSpecifiedAndRefuseOddWordLengths)
{
    MemorySoundFile f(2, 16);
    f.SetData(Bytes({0x7F, 0xFF, 0x80, 0x00, 0x12, 0x34, 0xED, 0xCC}));
    float inter[4] = {};
    UInt32 count = 2;
    ASSERT_EQ(f.ReadFrames(0, &count, inter), 0);
    EXPECT_EQ(inter[0], float(32767.0 * 3.051758e-5));
    EXPECT_EQ(inter[3], float(double(SInt16(0xEDCC)) * 3.051758e-5));

    float left[2] = {}, right[2] = {};
    count = 2;
    ASSERT_EQ(f.ReadFrames(0, &count, left, right), 0);
    EXPECT_EQ(left[1], inter[2]);
    EXPECT_EQ(right[1], inter[3]);

    float ch0[2] = {}, ch1[2] = {};
    float* arrays[2] = {ch0, ch1};
    count = 2;
    ASSERT_EQ(f.ReadFrames(0, &count, arrays), 0);
    EXPECT_EQ(ch1[0], inter[1]);
    float one[2] = {};
    count = 2;
    ASSERT_EQ(f.ReadChannelFrames(1, 0, &count, one), 0);
    EXPECT_EQ(one[1], inter[3]);

    // A 12-bit file: the float readers refuse it; the double and stereo
    // float readers read it as 8-bit.
    MemorySoundFile t(1, 12);
    t.SetData(Bytes({0x40, 0xC0}));
    count = 2;
    EXPECT_EQ(t.ReadFrames(0, &count, inter), -50);
    count = 2;
    EXPECT_EQ(t.ReadChannelFrames(0, 0, &count, one), -50);
    double d[2] = {};
    count = 2;
    ASSERT_EQ(t.ReadFrames(0, &count, d), 0);
    EXPECT_EQ(d[0], 0.5);
    EXPECT_EQ(d[1], -0.5);
    count = 2;
    ASSERT_EQ(t.ReadFrames(0, &count, left, right), 0);
    EXPECT_EQ(left[1], -0.5f);
}

TEST(SoundFileIO, ReadingAtOrPastTheEndAndAcrossBlocks)
{
    MemorySoundFile f(2, 16);
    std::vector<UInt8> bytes;
    for (int i = 0; i < 20; ++i) {  // 10 frames; sample value = index
        bytes.push_back(0);
        bytes.push_back(UInt8(i));
    }
    f.SetData(bytes);
    ASSERT_EQ(f.SetBufferFrames(4), 0);

    double out[40] = {};
    UInt32 count = 5;
    EXPECT_EQ(f.ReadFrames(10, &count, out), 0);
    EXPECT_EQ(count, 0u);
    count = 5;
    EXPECT_EQ(f.ReadFrames(12, &count, out), 0);
    EXPECT_EQ(count, 0u);

    count = 20;  // more than the file holds: stops at the frame count
    ASSERT_EQ(f.ReadFrames(1, &count, out), 0);
    EXPECT_EQ(count, 9u);
    for (int i = 0; i < 18; ++i)
        EXPECT_EQ(out[i], (i + 2) * 3.051758e-5) << i;

    // The interleaved float reader continues after each block too.
    float fl[20] = {};
    count = 10;
    ASSERT_EQ(f.ReadFrames(0, &count, fl), 0);
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(fl[19], float(19 * 3.051758e-5));

    // A block failure stops the loop and reports the frames done.
    f.readBlockResult = -36;
    count = 10;
    EXPECT_EQ(f.ReadFrames(0, &count, out), -36);
    EXPECT_EQ(count, 0u);
}

TEST(SoundFileIO, ReadBlockIsSkippedOnlyWhenTheBufferStartsAtTheFrame)
{
    MemorySoundFile f(1, 16);
    std::vector<UInt8> bytes(2 * 16);
    for (int i = 0; i < 16; ++i)
        bytes[2 * i + 1] = UInt8(i);
    f.SetData(bytes);
    ASSERT_EQ(f.SetBufferFrames(8), 0);

    double out[16] = {};
    UInt32 count = 4;
    ASSERT_EQ(f.ReadFrames(0, &count, out), 0);
    EXPECT_EQ(f.readBlockCalls, 1);
    count = 4;
    ASSERT_EQ(f.ReadFrames(0, &count, out), 0);
    EXPECT_EQ(f.readBlockCalls, 1);  // same block, same start
    // Frame 2 lies in the buffer, but the buffer does not start there.
    count = 2;
    ASSERT_EQ(f.ReadFrames(2, &count, out), 0);
    EXPECT_EQ(f.readBlockCalls, 2);
    EXPECT_EQ(out[0], 2 * 3.051758e-5);
    EXPECT_EQ(out[1], 3 * 3.051758e-5);
    // A direct ReadBlock elsewhere (as the kernels do) is noticed.
    ASSERT_EQ(f.ReadBlock(8), 0);
    count = 1;
    ASSERT_EQ(f.ReadFrames(2, &count, out), 0);
    EXPECT_EQ(out[0], 2 * 3.051758e-5);

    // A format that does not keep the read-buffer start is always asked.
    struct Untracked : MemorySoundFile {
        using MemorySoundFile::MemorySoundFile;
        OSErr ReadBlock(UInt32 frame) override
        {
            const UInt32 before = m_readBufferStart;
            const OSErr err = MemorySoundFile::ReadBlock(frame);
            m_readBufferStart = before;  // leaves the field alone
            return err;
        }
    };
    Untracked u(1, 16);
    u.SetData(bytes);
    count = 4;
    ASSERT_EQ(u.ReadFrames(0, &count, out), 0);
    count = 4;
    ASSERT_EQ(u.ReadFrames(0, &count, out), 0);
    EXPECT_EQ(u.readBlockCalls, 2);
}

TEST(SoundFileIO, StereoReadersOnAMonoFileRepeatChannelZero)
{
    // Exactly three frames of data and a three-frame block, so reading a
    // second sample past the last frame would leave the block (ASan).
    MemorySoundFile f(1, 16);
    f.SetData(Bytes({0x40, 0x00, 0xC0, 0x00, 0x20, 0x00}));
    ASSERT_EQ(f.SetBufferFrames(3), 0);
    double l[3] = {}, r[3] = {};
    UInt32 count = 3;
    ASSERT_EQ(f.ReadStereoFrames(0, &count, l, r), 0);
    EXPECT_EQ(count, 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(l[i], r[i]);
    EXPECT_EQ(l[2], 0x2000 * 3.051758e-5);
    float fl[3] = {}, fr[3] = {};
    count = 3;
    ASSERT_EQ(f.ReadFrames(0, &count, fl, fr), 0);
    EXPECT_EQ(fl[1], fr[1]);
    EXPECT_EQ(fl[1], float(-16384 * 3.051758e-5));
}

TEST(SoundFileIO, WriterClipsInPlaceAtEveryWordLength)
{
    DitherStateGuard guard;
    FreeDitherTable();
    struct Case {
        SInt16 bits;
        std::vector<double> in;
        std::vector<UInt8> written;
        std::vector<std::pair<int, double>> clipped;  // what the caller's array holds after
    };
    const Case cases[] = {
        // 16 bits without dither.
        {16, {1.0, -1.0, 2.0, 0.5}, Bytes({0x7F, 0xFF, 0x80, 0x00, 0x7F, 0xFF, 0x40, 0x00}),
            {{0, 0.99996954386}, {2, 0.99996954386}}},
        // 8 bits without dither: the low byte of int(x * 127).
        {8, {1.0, -1.0, -0.5}, Bytes({126, 0x81, UInt8(SInt8(-63))}), {{0, 0.9921875}}},
        // 24 bits: 1.0 gives 7F FF FF; 1.5 first becomes 1.0 in the caller's array.
        {24, {1.0, 1.5, -3.0}, Bytes({0x7F, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0x80, 0x00, 0x00}), {{1, 1.0}, {2, -1.0}}},
        // 32 bits, with a not-a-number written as silence.
        {32, {1.0, -1.0, std::nan("")}, Bytes({0x7F, 0xFF, 0xFF, 0xFF, 0x80, 0x00, 0x00, 0x01, 0, 0, 0, 0}), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        MemorySoundFile f(1, c.bits);
        if (c.bits <= 16)
            f.SetDither(false);  // (24 and 32 bits keep the default)
        std::vector<double> in = c.in;
        UInt32 count = UInt32(in.size());
        ASSERT_EQ(f.WriteFrames(0, &count, in.data()), 0);
        EXPECT_EQ(count, in.size());
        EXPECT_EQ(f.data, c.written);
        for (const auto& [index, value] : c.clipped)
            EXPECT_EQ(in[std::size_t(index)], value) << index;
    }
}

TEST(SoundFileIO, DitherTableSequenceAndRunningIndex)
{
    DitherStateGuard guard;
    gDitherSeed = 0;
    ASSERT_EQ(CreateDitherTable(), 0);
    ASSERT_TRUE(DitherTableExists());
    EXPECT_EQ(gDitherTableLength, 65536);
    const UInt16 expected[] = {77, 141, 122, 13, 117};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(gDitherTable[i], expected[i]) << i;
    for (int i = 0; i < 65536; ++i)
        ASSERT_LE(gDitherTable[i], 255);

    // A second build continues the sequence rather than repeating it.
    const UInt32 seedAfterFirst = gDitherSeed;
    ASSERT_EQ(CreateDitherTable(), 0);
    const UInt32 next = (4096u * seedAfterFirst + 150889u) % 714025u;
    EXPECT_EQ(gDitherTable[0], (next >> 8) & 255);

    // The index moves before it is used and wraps at 65536.
    gDitherIndex = 65535;
    EXPECT_EQ(NextDitherValue(), gDitherTable[0]);
    EXPECT_EQ(gDitherIndex, 0);
    EXPECT_EQ(NextDitherValue(), gDitherTable[1]);
}

TEST(SoundFileIO, DitheredSixteenAndEightBitPaths)
{
    DitherStateGuard guard;
    gDitherSeed = 0;
    ASSERT_EQ(CreateDitherTable(), 0);

    const double in16[] = {0.25, -0.3, 0.99999, 0.0};
    {
        MemorySoundFile f(1, 16);
        gDitherIndex = 0;
        double in[4];
        std::copy(std::begin(in16), std::end(in16), in);
        UInt32 count = 4;
        ASSERT_EQ(f.WriteFrames(0, &count, in), 0);
        // 0.25: entry 1 (141)
        EXPECT_EQ(Word16(f.data, 0), (SInt32(0.25 * 2147483647.0) + (141 << 8)) >> 16);
        // -0.3: entry 2 (122), arithmetic shift of a negative sum
        EXPECT_EQ(Word16(f.data, 1), (SInt32(-0.3 * 2147483647.0) + (122 << 8)) >> 16);
        // near full scale: above 0x7FFEFFFF, no value drawn
        EXPECT_EQ(Word16(f.data, 2), 32767);
        // 0.0: entry 3 (13): (0 + 13 * 256) >> 16 = 0
        EXPECT_EQ(Word16(f.data, 3), 0);
        EXPECT_EQ(gDitherIndex, 3);
    }
    {
        MemorySoundFile f(1, 8);
        gDitherIndex = 0;
        double in[3] = {0.5, -0.5, 1.0};
        UInt32 count = 3;
        ASSERT_EQ(f.WriteFrames(0, &count, in), 0);
        const SInt32 y0 = SInt16(SInt32(0.5 * 32767.0));
        const SInt32 y1 = SInt16(SInt32(-0.5 * 32767.0));
        const SInt32 y2 = SInt16(SInt32(0.9921875 * 32767.0));
        EXPECT_EQ(SInt8(f.data[0]), (y0 + 141) >> 8);
        EXPECT_EQ(SInt8(f.data[1]), (y1 + 122) >> 8);
        EXPECT_EQ(SInt8(f.data[2]), (y2 + 13) >> 8);
        EXPECT_EQ(gDitherIndex, 3);
    }
    // Dither off, or no table: the undithered words, and the index stays.
    {
        MemorySoundFile f(1, 16);
        f.SetDither(false);
        gDitherIndex = 7;
        double in[1] = {0.25};
        UInt32 count = 1;
        ASSERT_EQ(f.WriteFrames(0, &count, in), 0);
        EXPECT_EQ(Word16(f.data, 0), 8192);
        EXPECT_EQ(gDitherIndex, 7);
    }
    FreeDitherTable();
    {
        MemorySoundFile f(1, 8);
        ASSERT_TRUE(f.GetDither());
        double in[1] = {0.5};
        UInt32 count = 1;
        ASSERT_EQ(f.WriteFrames(0, &count, in), 0);
        EXPECT_EQ(SInt8(f.data[0]), 63);
    }
}

// The 16-bit writer goes four samples at a time where all four take the
// same way; every run of samples, wherever it starts in a group, the running
// index anywhere in the table (wrapping at 65536 or at a shorter length),
// with and without dither, gives the words and clipped values of the rule:
// clip to [-1, 0.99996954386] (not a number to 0); with dither truncate to
// 32 bits and, below 0x7FFEFFFF, add the next table value shifted up 8; else
// scale by 32768; keep the top 16 bits.
TEST(SoundFileIO, SixteenBitWordsFollowTheRuleInEveryRun)
{
    DitherStateGuard guard;
    gDitherSeed = 0;
    ASSERT_EQ(CreateDitherTable(), 0);
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> any(-1.2, 1.2);
    const double specials[] = {std::nan(""), HUGE_VAL, -HUGE_VAL, -0.0, 0.99999, 0.99996954386, -1.0, 1.0, 0.5};
    for (bool dither : {false, true}) {
        for (auto [start, length] : {std::pair{0, 65536}, std::pair{65531, 65536}, std::pair{993, 997}}) {
            for (std::size_t n : {1u, 3u, 4u, 5u, 9u, 64u, 203u}) {
                SCOPED_TRACE(testing::Message() << dither << " " << start << "/" << length << " " << n);
                gDitherTableLength = length;
                std::vector<double> in(n);
                for (std::size_t i = 0; i < n; ++i)
                    in[i] = rng() % 5 == 0 ? specials[rng() % std::size(specials)] : any(rng);
                // The rule.
                std::vector<double> clipped = in;
                std::vector<SInt32> words(n);
                UInt32 index = UInt32(start);
                for (std::size_t i = 0; i < n; ++i) {
                    double& x = clipped[i];
                    x = std::isnan(x) ? 0.0 : std::min(std::max(x, -1.0), 0.99996954386);
                    if (dither) {
                        const SInt32 v = SInt32(x * 2147483647.0);
                        if (v > 0x7FFEFFFF) {
                            words[i] = 32767;
                        } else {
                            index = (index + 1) % 65536 % UInt32(length);
                            words[i] = (v + SInt32(gDitherTable[index] << 8)) >> 16;
                        }
                    } else {
                        words[i] = std::min(SInt32(x * 32768.0), 32767);
                    }
                }
                MemorySoundFile f(1, 16);
                f.SetDither(dither);
                gDitherIndex = UInt16(start);
                UInt32 count = UInt32(n);
                ASSERT_EQ(f.WriteFrames(0, &count, in.data()), 0);
                for (std::size_t i = 0; i < n; ++i) {
                    ASSERT_EQ(Word16(f.data, i), words[i]) << i << ": " << clipped[i];
                    ASSERT_EQ(std::signbit(in[i]), std::signbit(clipped[i])) << i;
                    ASSERT_EQ(in[i], clipped[i]) << i;
                }
                EXPECT_EQ(gDitherIndex, dither ? index : UInt32(start));
            }
        }
    }
}

TEST(SoundFileIO, ChannelAddWriterSaturatesAtEveryWordLength)
{
    // 16 bits, two channels written one after the other into the same blocks.
    {
        MemorySoundFile f(2, 16);
        ASSERT_EQ(f.SetBufferFrames(2), 0);
        const double left[3] = {0.75, -0.75, 0.5};
        const double right[3] = {-0.25, 0.25, -1.0};
        UInt32 count = 3;
        ASSERT_EQ(f.WriteChannelFrames(0, 0, &count, left), 0);
        EXPECT_EQ(count, 3u);
        count = 3;
        ASSERT_EQ(f.WriteChannelFrames(1, 0, &count, right), 0);
        EXPECT_EQ(Word16(f.data, 0), 24576);
        EXPECT_EQ(Word16(f.data, 1), -8192);
        EXPECT_EQ(Word16(f.data, 5), -32768);
        // Adding the left channel again saturates instead of wrapping.
        count = 3;
        ASSERT_EQ(f.WriteChannelFrames(0, 0, &count, left), 0);
        EXPECT_EQ(Word16(f.data, 0), 32767);
        EXPECT_EQ(Word16(f.data, 2), -32768);
        EXPECT_EQ(Word16(f.data, 4), 32767);
        EXPECT_EQ(Word16(f.data, 1), -8192);  // the other channel untouched
    }
    // 8, 24 and 32 bits: the same values added twice saturate.
    const std::pair<SInt16, std::vector<UInt8>> saturated[] = {
        {8, Bytes({0x7F, 0x80})},
        {24, Bytes({0x7F, 0xFF, 0xFF, 0x80, 0x00, 0x00})},
        {32, Bytes({0x7F, 0xFF, 0xFF, 0xFF, 0x80, 0x00, 0x00, 0x00})},
    };
    for (const auto& [bits, expected] : saturated) {
        SCOPED_TRACE(bits);
        MemorySoundFile f(1, bits);
        const double x[2] = {bits == 8 ? 0.9 : 0.75, bits == 8 ? -0.9 : -0.75};
        for (int pass = 0; pass < 2; ++pass) {
            UInt32 count = 2;
            ASSERT_EQ(f.WriteChannelFrames(0, 0, &count, x), 0);
        }
        EXPECT_EQ(f.data, expected);
    }
    // A channel the file does not have.
    {
        MemorySoundFile f(1, 16);
        const double x[1] = {0.5};
        UInt32 count = 1;
        EXPECT_EQ(f.WriteChannelFrames(1, 0, &count, x), -50);
        EXPECT_EQ(count, 0u);
    }
}

TEST(SoundFileIO, PerChannelWriterAndBlockLoop)
{
    MemorySoundFile f(2, 16);
    f.SetDither(false);
    ASSERT_EQ(f.SetBufferFrames(4), 0);
    std::vector<double> l(10), r(10);
    for (int i = 0; i < 10; ++i) {
        l[i] = i / 32768.0;
        r[i] = -i / 32768.0;
    }
    double* arrays[2] = {l.data(), r.data()};
    UInt32 count = 10;
    ASSERT_EQ(f.WriteFrames(0, &count, arrays), 0);
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(f.writeBlockCalls, 3);  // 4 + 4 + 2
    EXPECT_EQ(f.GetNumFrames(), 10u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(Word16(f.data, 2 * i), i);
        EXPECT_EQ(Word16(f.data, 2 * i + 1), -i);
    }
    // A failing WriteBlock stops the loop; only written frames count.
    f.writeBlockResult = -34;
    count = 10;
    EXPECT_EQ(f.WriteFrames(0, &count, arrays), -34);
    EXPECT_EQ(count, 0u);
}

TEST(SoundFileIO, BlockChangesRoleOnDemand)
{
    MemorySoundFile f(1, 16);
    ASSERT_EQ(f.AllocateWriteBuffer(), 0);
    UInt8* block = f.GetWriteBuffer();
    ASSERT_NE(block, nullptr);
    block[0] = 0x12;
    ASSERT_EQ(f.AllocateReadBuffer(), 0);  // handed over, kept
    EXPECT_EQ(f.GetReadBuffer(), block);
    EXPECT_EQ(f.GetWriteBuffer(), nullptr);
    EXPECT_EQ(f.GetReadBuffer()[0], 0x12);
    ASSERT_EQ(f.AllocateWriteBuffer(), 0);  // handed back, cleared
    EXPECT_EQ(f.GetWriteBuffer(), block);
    EXPECT_EQ(f.GetWriteBuffer()[0], 0);
    ASSERT_EQ(f.SetBufferFrames(100), 0);   // a new size frees the block
    EXPECT_EQ(f.GetWriteBuffer(), nullptr);
    EXPECT_EQ(f.SetBufferFrames(0), -50);
    EXPECT_EQ(f.GetBufferFrames(), 100u);

    ASSERT_EQ(f.AllocateReadBuffer(), 0);
    EXPECT_FALSE(f.IsFrameInReadBuffer(100));
    f.SetData(std::vector<UInt8>(400));
    ASSERT_EQ(f.ReadBlock(50), 0);
    EXPECT_TRUE(f.IsFrameInReadBuffer(50));
    EXPECT_TRUE(f.IsFrameInReadBuffer(149));
    EXPECT_FALSE(f.IsFrameInReadBuffer(150));
    EXPECT_FALSE(f.IsFrameInReadBuffer(49));
}

TEST(SoundFileIO, PeakFindersAndTwentyFourBitHelpers)
{
    MemorySoundFile f(2, 16);
    const std::vector<UInt8> block = Bytes({0x00, 0x10, 0xFF, 0xF0, 0x7F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00});
    SInt32 mn[2] = {0, 0}, mx[2] = {0, 0};
    EXPECT_EQ(f.FindPeaks16(block.data(), 3, mn, mx), 2u);
    EXPECT_EQ(mx[0], 0x7F00);
    EXPECT_EQ(mn[1], -32768);
    EXPECT_EQ(mn[0], 0);
    EXPECT_EQ(mx[1], 0);

    MemorySoundFile g(1, 24);
    const std::vector<UInt8> b24 = Bytes({0x00, 0x00, 0x01, 0xFF, 0xFF, 0xFF});
    SInt32 mn1 = 0, mx1 = 0;
    EXPECT_EQ(g.FindPeaks24(b24.data(), 2, &mn1, &mx1), 1u);
    EXPECT_EQ(mx1, 256);
    EXPECT_EQ(mn1, -256);

    UInt8 three[3];
    DoubleToInt24(1.0, three);
    EXPECT_EQ(Bytes({three[0], three[1], three[2]}), Bytes({0x7F, 0xFF, 0xFF}));
    DoubleToInt24(-5.0, three);
    EXPECT_EQ(Bytes({three[0], three[1], three[2]}), Bytes({0x80, 0x00, 0x00}));
    DoubleToInt24(std::nan(""), three);
    EXPECT_EQ(Bytes({three[0], three[1], three[2]}), Bytes({0x80, 0x00, 0x00}));
    const UInt8 half[3] = {0x40, 0x00, 0x00};
    EXPECT_EQ(Int24ToDouble(half), 1073741824.0 * 4.65661287308e-10);
    EXPECT_EQ(Int24ToFloat(half), float(1073741824.0 * 4.65661287308e-10));
    EXPECT_EQ(UInt24ToUInt32(half), 0x40000000u);
    EXPECT_EQ(BitsToBytes(24), 3);
}
