// The four copy cores at every word-length pair, with rounding and with
// dither, against a plain model of the arithmetic and against hand-worked
// values.
#include "ProcTestFile.h"
#include "ProcTestSupport.h"
#include "sample_format_copy.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

enum class Core { Keep, MonoToStereo, MixToMono, Left, Right };

const char* CoreName(Core core)
{
    switch (core) {
    case Core::Keep:
        return "keep";
    case Core::MonoToStereo:
        return "mono-to-stereo";
    case Core::MixToMono:
        return "mix";
    case Core::Left:
        return "left";
    case Core::Right:
        return "right";
    }
    return "?";
}

SInt16 BitsOf(int kind)
{
    return kind == 146 ? 32 : SInt16(kind);
}

SInt16 StateOf(int kind)
{
    return kind == 146 ? kSampleFormat24In32 : 0;
}

SInt32 RunCore(Core core, CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, UInt32* pos,
               const SampleCopySettings& s)
{
    switch (core) {
    case Core::Keep:
        return ConvertSampleFormat(in, out, start, end, pos, s);
    case Core::MonoToStereo:
        return ConvertSampleFormatMonoToStereo(in, out, start, end, pos, s);
    case Core::MixToMono:
        return ConvertSampleFormatMixToMono(in, out, start, end, pos, s);
    case Core::Left:
        return ConvertSampleFormatOneChannel(in, out, start, end, pos, 0, s);
    case Core::Right:
        return ConvertSampleFormatOneChannel(in, out, start, end, pos, 1, s);
    }
    return -1;
}

// Samples that exercise the extremes, the rounding guards and everything in
// between, for a word of `kind`.
std::vector<SInt32> TestSamples(int kind, std::size_t count, std::mt19937& rng)
{
    const int bits = kind == 146 ? 24 : kind;
    const int64_t max = (int64_t(1) << (bits - 1)) - 1;
    const int64_t min = -(int64_t(1) << (bits - 1));
    std::vector<SInt32> special = {SInt32(max), SInt32(min), 0, -1, 1, SInt32(max - 1), SInt32(min + 1)};
    if (bits >= 16) {
        // Values at the 16-bit guard (0x7FFEFFFF) and the 8-bit guards.
        const int shift = 32 - bits;
        for (int64_t v : {int64_t(0x7FFEFFFF), int64_t(0x7FFF0000), int64_t(0x7F7FFFFE), int64_t(0x7F800000),
                          int64_t(0x7EFFFFFF), int64_t(0x7F000000), int64_t(0x12348000), int64_t(-0x12348000)})
            special.push_back(SInt32(v >> shift));
    } else {
        for (SInt32 v : {0x7F, 0x7E, -0x80})
            special.push_back(v);
    }
    std::uniform_int_distribution<int64_t> any(min, max);
    std::vector<SInt32> samples;
    for (std::size_t i = 0; i < count; ++i)
        samples.push_back(i < special.size() ? special[i] : SInt32(any(rng)));
    if (kind == 146) {
        // Junk in the unused top byte must not matter.
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = SInt32((UInt32(samples[i]) & 0xFFFFFFu) | (UInt32(i * 37 & 0xFF) << 24));
    }
    return samples;
}

struct Shape {
    UInt16 inChannels;
    UInt16 outChannels;
};

Shape ShapeOf(Core core)
{
    switch (core) {
    case Core::Keep:
        return {2, 2};
    case Core::MonoToStereo:
        return {1, 2};
    default:
        return {2, 1};
    }
}

// The expected output of a whole copy, drawing from the table as the copy does.
std::vector<SInt32> ModelCopy(Core core, int inKind, int outKind, const std::vector<SInt32>& input, bool redither,
                              UInt16& index)
{
    const Shape shape = ShapeOf(core);
    const std::size_t frames = input.size() / shape.inChannels;
    const bool dither = redither && BitsOf(inKind) > BitsOf(outKind) && (outKind == 8 || outKind == 16);
    const bool halfUp = core == Core::Keep;
    std::vector<SInt32> out;
    for (std::size_t j = 0; j < frames; ++j) {
        switch (core) {
        case Core::Keep:
            for (UInt16 c = 0; c < shape.inChannels; ++c)
                out.push_back(ModelQuantize(outKind, ModelJustify(inKind, input[j * 2 + c]), dither, halfUp, index));
            break;
        case Core::MonoToStereo: {
            const SInt32 v = ModelQuantize(outKind, ModelJustify(inKind, input[j]), dither, halfUp, index);
            out.push_back(v);
            out.push_back(v);
            break;
        }
        case Core::MixToMono: {
            const int64_t l = ModelJustify(inKind, input[2 * j]);
            const int64_t r = ModelJustify(inKind, input[2 * j + 1]);
            const int bits = BitsOf(inKind);
            const int64_t mixed = bits <= 16 ? (l + r) / 2 : FloorShift(l, 1) + FloorShift(r, 1);
            out.push_back(ModelQuantize(outKind, mixed, dither, halfUp, index));
            break;
        }
        case Core::Left:
        case Core::Right:
            out.push_back(ModelQuantize(outKind, ModelJustify(inKind, input[2 * j + (core == Core::Right ? 1 : 0)]),
                                        dither, halfUp, index));
            break;
        }
    }
    return out;
}

} // namespace

// Every core, every input kind (8, 16, 24, 32 and 24-in-32), every output
// kind, with rounding and with redither; blocks of uneven sizes (the input
// supplies 7 frames per read, the output takes 5).
TEST(CopyCores, EveryWordLengthPairMatchesTheModel)
{
    StopValueGuard guard;
    FreshDitherTable();
    std::mt19937 rng(20261207);
    const int kinds[] = {8, 16, 24, 32, 146};
    for (Core core : {Core::Keep, Core::MonoToStereo, Core::MixToMono, Core::Left, Core::Right}) {
        for (int inKind : kinds) {
            for (int outKind : kinds) {
                for (bool redither : {false, true}) {
                    SCOPED_TRACE(std::string(CoreName(core)) + " " + std::to_string(inKind) + " -> " +
                                 std::to_string(outKind) + (redither ? " dither" : " round"));
                    const Shape shape = ShapeOf(core);
                    ProcTestFile in(shape.inChannels, BitsOf(inKind), 44100.0, StateOf(inKind));
                    ProcTestFile out(shape.outChannels, BitsOf(outKind), 44100.0, StateOf(outKind));
                    ASSERT_EQ(in.SetBufferFrames(7), noErr);
                    ASSERT_EQ(out.SetBufferFrames(5), noErr);
                    const std::vector<SInt32> input = TestSamples(inKind, 62, rng);
                    in.SetSamples(input);
                    ASSERT_EQ(in.GetNumFrames(), 62u / shape.inChannels);

                    UInt16 index = gDitherIndex;
                    const std::vector<SInt32> expected = ModelCopy(core, inKind, outKind, input, redither, index);
                    UInt32 pos = 0;
                    SampleCopySettings s;
                    s.needsRedither = redither;
                    ASSERT_EQ(RunCore(core, &in, &out, 0, in.GetNumFrames(), &pos, s), 0);
                    EXPECT_EQ(pos, in.GetNumFrames());
                    if (core == Core::Keep && inKind == outKind)
                        EXPECT_EQ(out.data, in.data) << "same words are copied as they are";
                    else
                        EXPECT_EQ(out.Samples(), expected);
                    EXPECT_EQ(gDitherIndex, index) << "draws from the table";
                    EXPECT_EQ(out.GetDither(), redither);
                    for (const auto& w : out.writes)
                        EXPECT_LE(w.second, 5u);
                }
            }
        }
    }
}

// Long blocks (the loads and stores that go several samples at a time, and
// their tails) against the same model.
TEST(CopyCores, LongBlocksMatchTheModel)
{
    StopValueGuard guard;
    std::mt19937 rng(7);
    for (int inKind : {16, 24}) {
        for (int outKind : {24, 16}) {
            for (UInt32 frames : {4093u, 4096u, 10001u}) {
                SCOPED_TRACE(std::to_string(inKind) + " -> " + std::to_string(outKind) + ", " +
                             std::to_string(frames) + " frames");
                ProcTestFile in(2, BitsOf(inKind), 44100.0, StateOf(inKind));
                ProcTestFile out(2, BitsOf(outKind), 44100.0, StateOf(outKind));
                ASSERT_EQ(in.SetBufferFrames(4096), noErr);
                ASSERT_EQ(out.SetBufferFrames(3001), noErr);
                const std::vector<SInt32> input = TestSamples(inKind, std::size_t(frames) * 2, rng);
                in.SetSamples(input);
                UInt16 index = gDitherIndex;
                const std::vector<SInt32> expected = ModelCopy(Core::Keep, inKind, outKind, input, false, index);
                UInt32 pos = 0;
                ASSERT_EQ(RunCore(Core::Keep, &in, &out, 0, frames, &pos, SampleCopySettings{}), 0);
                EXPECT_EQ(out.Samples(), expected);
            }
        }
    }
}

TEST(CopyCores, RoundingExamples)
{
    StopValueGuard guard;
    SampleCopySettings round;
    UInt32 pos = 0;
    {   // 24 -> 16: halves up through the keep-layout core, down through one channel.
        ProcTestFile in(2, 24), keep(2, 16), one(1, 16);
        in.SetSamples({0x123480, 0x123480});
        ASSERT_EQ(ConvertSampleFormat(&in, &keep, 0, 1, &pos, round), 0);
        EXPECT_EQ(keep.Samples(), (std::vector<SInt32>{0x1235, 0x1235}));
        pos = 0;
        ASSERT_EQ(ConvertSampleFormatOneChannel(&in, &one, 0, 1, &pos, 0, round), 0);
        EXPECT_EQ(one.Samples(), (std::vector<SInt32>{0x1234}));
    }
    {   // 16 -> 8 at the top of the range: 0x7F80 is truncated, 0x7F7F rounds to 0x7F.
        ProcTestFile in(1, 16), out(1, 8);
        in.SetSamples({0x7F80, 0x7F7F, 0x1280, -0x8000, 0x7FFF});
        pos = 0;
        ASSERT_EQ(ConvertSampleFormat(&in, &out, 0, 5, &pos, round), 0);
        EXPECT_EQ(out.Samples(), (std::vector<SInt32>{0x7F, 0x7F, 0x13, -0x80, 0x7F}));
    }
    {   // Mix of 32767 and -32768 is half a step below zero: -1.
        ProcTestFile in(2, 16), out(1, 16);
        in.SetSamples({32767, -32768, -32768, -32768, 32767, 32767});
        pos = 0;
        ASSERT_EQ(ConvertSampleFormatMixToMono(&in, &out, 0, 3, &pos, round), 0);
        EXPECT_EQ(out.Samples(), (std::vector<SInt32>{-1, -32768, 32767}));
    }
    {   // 32-bit full scale on both sides mixes without overflow.
        ProcTestFile in(2, 32), out(1, 32);
        in.SetSamples({0x7FFFFFFF, 0x7FFFFFFF, SInt32(0x80000000), SInt32(0x80000000)});
        pos = 0;
        ASSERT_EQ(ConvertSampleFormatMixToMono(&in, &out, 0, 2, &pos, round), 0);
        EXPECT_EQ(out.Samples(), (std::vector<SInt32>{0x7FFFFFFE, SInt32(0x80000000)}));
    }
    {   // 24-bit output drops the low byte of the intermediate.
        ProcTestFile in(1, 32), out(1, 24);
        in.SetSamples({0x123456FF});
        pos = 0;
        ASSERT_EQ(ConvertSampleFormat(&in, &out, 0, 1, &pos, round), 0);
        EXPECT_EQ(out.data, (std::vector<UInt8>{0x12, 0x34, 0x56}));
    }
    {   // 8-bit samples are signed when mixed.
        ProcTestFile in(2, 8), out(1, 8);
        in.SetSamples({-128, -128, 127, -128, 100, 50});
        pos = 0;
        ASSERT_EQ(ConvertSampleFormatMixToMono(&in, &out, 0, 3, &pos, round), 0);
        EXPECT_EQ(out.Samples(), (std::vector<SInt32>{-128, -1, 75}));
    }
}

TEST(CopyCores, DitherDrawsTheTableInSequence)
{
    StopValueGuard guard;
    FreshDitherTable();
    ASSERT_EQ(std::vector<UInt16>(gDitherTable, gDitherTable + 5), (std::vector<UInt16>{77, 141, 122, 13, 117}));
    SampleCopySettings dither;
    dither.needsRedither = true;
    // 24 -> 16, every sample 0xA0 below one step: noise 141, 122, 13, 117
    // (the first draw is entry 1) decides the rounding.
    ProcTestFile in(1, 24), out(1, 16);
    in.SetSamples({0xA0, 0xA0, 0xA0, 0xA0});
    UInt32 pos = 0;
    ASSERT_EQ(ConvertSampleFormat(&in, &out, 0, 4, &pos, dither), 0);
    EXPECT_EQ(out.Samples(), (std::vector<SInt32>{1, 1, 0, 1}));
    EXPECT_EQ(gDitherIndex, 4);

    // The top step takes no noise and draws nothing.
    ProcTestFile top(1, 24), top16(1, 16);
    top.SetSamples({0x7FFF80, 0x7FFFFF});
    pos = 0;
    ASSERT_EQ(ConvertSampleFormat(&top, &top16, 0, 2, &pos, dither), 0);
    EXPECT_EQ(top16.Samples(), (std::vector<SInt32>{0x7FFF, 0x7FFF}));
    EXPECT_EQ(gDitherIndex, 4);
    ProcTestFile top8in(1, 16), top8(1, 8);
    top8in.SetSamples({0x7F10, 0x7EFF});
    pos = 0;
    ASSERT_EQ(ConvertSampleFormat(&top8in, &top8, 0, 2, &pos, dither), 0);
    EXPECT_EQ(gDitherIndex, 5) << "only 0x7EFF takes noise";
    EXPECT_EQ(top8.Samples()[0], 0x7F);

    // Mono to stereo: one draw per frame, the same word in both channels.
    ProcTestFile mono(1, 24), stereo(2, 16);
    mono.SetSamples({0x80, 0x80, 0x80});
    pos = 0;
    ASSERT_EQ(ConvertSampleFormatMonoToStereo(&mono, &stereo, 0, 3, &pos, dither), 0);
    EXPECT_EQ(gDitherIndex, 8);
    const auto s = stereo.Samples();
    for (std::size_t j = 0; j < 3; ++j)
        EXPECT_EQ(s[2 * j], s[2 * j + 1]);

    // The running index wraps at the end of the table.
    gDitherIndex = 65535;
    ProcTestFile wrapIn(1, 24), wrapOut(1, 16);
    wrapIn.SetSamples({0xA0, 0xA0});
    pos = 0;
    ASSERT_EQ(ConvertSampleFormat(&wrapIn, &wrapOut, 0, 2, &pos, dither), 0);
    EXPECT_EQ(gDitherIndex, 1);
    EXPECT_EQ(wrapOut.Samples(), (std::vector<SInt32>{(0xA000 + 77 * 256) >> 16, (0xA000 + 141 * 256) >> 16}));
}

// Noise is added only where the words get shorter; equal or longer words
// are exact, whatever the redither setting, and draw nothing.
TEST(CopyCores, NoNoiseUnlessTheWordShrinks)
{
    StopValueGuard guard;
    FreshDitherTable();
    SampleCopySettings dither;
    dither.needsRedither = true;
    UInt32 pos = 0;
    ProcTestFile in16(2, 16), one16(1, 16);
    in16.SetSamples({0x1234, 0x7FFF, -0x8000, 5});
    ASSERT_EQ(ConvertSampleFormatOneChannel(&in16, &one16, 0, 2, &pos, 0, dither), 0);
    EXPECT_EQ(one16.Samples(), (std::vector<SInt32>{0x1234, -0x8000}));
    ProcTestFile in8(2, 8), one16b(1, 16), keep16(2, 16);
    in8.SetSamples({0x12, -0x80, 0x7F, 1});
    pos = 0;
    ASSERT_EQ(ConvertSampleFormatOneChannel(&in8, &one16b, 0, 2, &pos, 1, dither), 0);
    EXPECT_EQ(one16b.Samples(), (std::vector<SInt32>{-0x8000, 0x100}));
    pos = 0;
    ASSERT_EQ(ConvertSampleFormat(&in8, &keep16, 0, 2, &pos, dither), 0);
    EXPECT_EQ(keep16.Samples(), (std::vector<SInt32>{0x1200, -0x8000, 0x7F00, 0x100}));
    EXPECT_EQ(gDitherIndex, 0);

    // Equal words through the keep-layout core: byte for byte.
    ProcTestFile a(2, 16), b(2, 16);
    a.SetSamples({1, -2, 0x7FFF, -0x8000});
    pos = 0;
    ASSERT_EQ(ConvertSampleFormat(&a, &b, 0, 2, &pos, dither), 0);
    EXPECT_EQ(a.data, b.data);
    EXPECT_EQ(gDitherIndex, 0);

    // Without a table redither cannot add noise and falls back to rounding.
    FreeDitherTable();
    ProcTestFile c(1, 24), d(1, 16);
    c.SetSamples({0x123480});
    pos = 0;
    ASSERT_EQ(ConvertSampleFormat(&c, &d, 0, 1, &pos, dither), 0);
    EXPECT_EQ(d.Samples(), (std::vector<SInt32>{0x1235}));
}

TEST(CopyCores, TwentyFourInThirtyTwoIsShiftedOnEveryPath)
{
    StopValueGuard guard;
    SampleCopySettings round;
    UInt32 pos = 0;
    ProcTestFile in(1, 32, 44100.0, kSampleFormat24In32);
    in.SetSamples({0x00123456, SInt32(0xABFFFFFE)});
    ProcTestFile plain32(1, 32);
    ASSERT_EQ(ConvertSampleFormat(&in, &plain32, 0, 2, &pos, round), 0);
    EXPECT_EQ(plain32.Samples(), (std::vector<SInt32>{0x12345600, -512}));

    ProcTestFile again(1, 32, 44100.0, kSampleFormat24In32);
    pos = 0;
    ASSERT_EQ(ConvertSampleFormat(&in, &again, 0, 2, &pos, round), 0);
    EXPECT_EQ(again.data, in.data) << "the same kind of file is copied as it is";

    ProcTestFile back(1, 32, 44100.0, kSampleFormat24In32);
    ProcTestFile full(1, 32);
    full.SetSamples({0x12345678, SInt32(0x80000000)});
    pos = 0;
    ASSERT_EQ(ConvertSampleFormat(&full, &back, 0, 2, &pos, round), 0);
    EXPECT_EQ(back.Samples(), (std::vector<SInt32>{0x00123456, SInt32(0xFF800000)}));

    ProcTestFile out16(1, 16);
    pos = 0;
    ASSERT_EQ(ConvertSampleFormat(&in, &out16, 0, 2, &pos, round), 0);
    EXPECT_EQ(out16.Samples(), (std::vector<SInt32>{0x1234, 0}));
}

TEST(CopyCores, LayoutsAndChannelCounts)
{
    StopValueGuard guard;
    SampleCopySettings round;
    UInt32 pos = 0;
    // Three channels keep their order.
    ProcTestFile in3(3, 16), out3(3, 24);
    in3.SetSamples({1, 2, 3, -1, -2, -3});
    ASSERT_EQ(ConvertSampleFormat(&in3, &out3, 0, 2, &pos, round), 0);
    EXPECT_EQ(out3.Samples(), (std::vector<SInt32>{256, 512, 768, -256, -512, -768}));
    // Mono to stereo at equal words: each sample twice.
    ProcTestFile mono(1, 16), stereo(2, 16);
    mono.SetSamples({7, -9});
    pos = 0;
    ASSERT_EQ(ConvertSampleFormatMonoToStereo(&mono, &stereo, 0, 2, &pos, round), 0);
    EXPECT_EQ(stereo.Samples(), (std::vector<SInt32>{7, 7, -9, -9}));

    // Shapes that do not fit the core are refused before anything happens.
    ProcTestFile stereo2(2, 16), mono2(1, 16), odd(1, 12);
    stereo2.SetSamples({1, 2});
    pos = 0;
    EXPECT_EQ(ConvertSampleFormat(&stereo2, &mono2, 0, 1, &pos, round), paramErr);
    EXPECT_EQ(ConvertSampleFormatMonoToStereo(&stereo2, &stereo, 0, 1, &pos, round), paramErr);
    EXPECT_EQ(ConvertSampleFormatMixToMono(&mono, &mono2, 0, 1, &pos, round), paramErr);
    EXPECT_EQ(ConvertSampleFormatOneChannel(&stereo2, &mono2, 0, 1, &pos, 2, round), paramErr);
    EXPECT_EQ(ConvertSampleFormat(&mono2, &odd, 0, 1, &pos, round), paramErr);
    EXPECT_EQ(ConvertSampleFormat(&mono2, &mono2, 0, 1, &pos, round), paramErr);
    EXPECT_EQ(mono2.writeBlockCalls + odd.writeBlockCalls, 0);
    EXPECT_EQ(pos, 0u);
}
