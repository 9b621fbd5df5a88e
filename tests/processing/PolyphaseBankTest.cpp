// The converters' filters against plain reference loops: the textbook form
// of each stage (every tap read from its table by its index, the input zero
// outside the range), one stage over the whole ratio or the chain of stages
// a conversion down runs, each stage computed over all the frames its
// input reaches, over noise: both thinning cases (integer and fractional
// phase), up and down, every kind of chain, every channel layout, small
// blocks, inputs shorter than the filter, and every kernel level.  Outputs
// must agree within one least significant bit at 24 bits.  And a chain
// against the one filter stage it stands for.
#include "ProcTestFile.h"
#include "ProcTestSupport.h"
#include "resampling_filter.h"
#include "resampling_passes.h"
#include "wide_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

constexpr double kOneLsb24 = 1.0 / 8388608.0;

// Frames from index `first` on; zero before and after.
struct Signal {
    SInt64 first = 0;
    std::vector<double> x;
    double At(SInt64 t) const
    {
        return t >= first && t - first < SInt64(x.size()) ? x[std::size_t(t - first)] : 0.0;
    }
    SInt64 End() const { return first + SInt64(x.size()); }
};

SInt64 FloorDiv(SInt64 a, SInt64 b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// A polyphase stage on table h (count entries, terms L, M, thinning d), its
// output frames [from, to); frame f stands on input frame f M / L with the
// phase of the remainder (the running fractional phase when d > 1, which
// the converters use only from frame 0).
Signal PolyphaseStage(const Signal& in, const double* h, UInt64 count, UInt32 L, UInt32 M, UInt32 d, SInt64 from,
                      SInt64 to)
{
    Signal out{from, std::vector<double>(std::size_t(to - from))};
    const double Ld = double(L) / double(d), Md = double(M) / double(d);
    const UInt64 s = d == 1 ? L : std::max<UInt64>(UInt64(std::llround(Ld)), 1);
    double phi = 0.0;
    SInt64 jd = 0;
    for (SInt64 f = from; f < to; ++f) {
        double acc = 0.0;
        if (d == 1) {
            const SInt64 j = FloorDiv(f * SInt64(M), SInt64(L));
            const UInt64 q = UInt64(f * SInt64(M) - j * SInt64(L));
            for (UInt64 k = 0; k < (count - q) / L; ++k)
                acc += h[q + k * L] * in.At(j - SInt64(k));
            for (UInt64 k = 1; k <= (count - (L - q)) / L; ++k)
                acc += h[k * L - q] * in.At(j + SInt64(k));
        } else {
            const UInt64 p = UInt64(phi);
            for (UInt64 k = 0; p < count && k < (count - p) / s; ++k)
                acc += h[p + k * s] * in.At(jd - SInt64(k));
            const UInt64 fi = UInt64(Ld - double(p));
            for (UInt64 k = 0; fi < count && k < (count - fi) / s; ++k)
                acc += h[fi + k * s] * in.At(jd + 1 + SInt64(k));
            phi += Md;
            while (phi >= Ld) {
                phi -= Ld;
                ++jd;
            }
        }
        out.x[std::size_t(f - from)] = acc;
    }
    return out;
}

// A half-band decimator (the centre tap, then the odd ones), its output
// frames [from, to): y[k] = c x[2k] + sum a[i] (x[2k - 1 - 2i] + x[2k + 1 + 2i]).
Signal HalfBandStage(const Signal& in, const std::vector<double>& taps, SInt64 from, SInt64 to)
{
    Signal out{from, std::vector<double>(std::size_t(to - from))};
    for (SInt64 k = from; k < to; ++k) {
        double acc = taps[0] * in.At(2 * k);
        for (std::size_t i = 1; i < taps.size(); ++i)
            acc += taps[i] * (in.At(2 * k - 2 * SInt64(i) + 1) + in.At(2 * k + 2 * SInt64(i) - 1));
        out.x[std::size_t(k - from)] = acc;
    }
    return out;
}

// One filter stage over the whole ratio, on the table.
std::vector<double> OneStageFilter(const std::vector<double>& x, double outRate, double inRate, UInt16 N)
{
    UInt32 L = 0, M = 0, d = 1;
    gSRCFilterLength = N;
    EXPECT_EQ(InitSampleRateFilter(outRate, inRate, &L, &M, &d), 0);
    const UInt64 T = ResampledFrames(UInt32(x.size()), L, M);
    std::vector<double> y = PolyphaseStage(Signal{0, x}, gSincTable, gSincTableCount, L, M, d, 0, SInt64(T)).x;
    FreeSincTable();
    return y;
}

// The filter as the tables define it: the stages of the chain a conversion
// down runs (each over every frame its input reaches), or one stage.
std::vector<double> ReferenceFilter(const std::vector<double>& x, double outRate, double inRate, UInt16 N)
{
    UInt32 L = 0, M = 0;
    EXPECT_EQ(ReduceRateRatio(outRate, inRate, &L, &M), 0);
    const UInt64 T = ResampledFrames(UInt32(x.size()), L, M);
    Signal signal{0, x};
    const std::vector<ResampleStageDesign> chain = DesignResampleChain(L, M, N);
    if (chain.empty())
        return OneStageFilter(x, outRate, inRate, N);
    for (std::size_t i = 0; i < chain.size(); ++i) {
        const ResampleStageDesign& stage = chain[i];
        const bool last = i + 1 == chain.size();
        // Every output the input reaches: the reach in input frames either
        // side, scaled to output frames.
        const SInt64 reach = stage.halfBand ? SInt64(2 * stage.taps.size()) : SInt64(stage.taps.size() / stage.L + 2);
        const SInt64 from = last ? 0 : FloorDiv((signal.first - reach) * SInt64(stage.L), SInt64(stage.M)) - 1;
        const SInt64 to = last ? SInt64(T) : FloorDiv((signal.End() + reach) * SInt64(stage.L), SInt64(stage.M)) + 2;
        signal = stage.halfBand ? HalfBandStage(signal, stage.taps, from, to)
                                : PolyphaseStage(signal, stage.taps.data(), stage.taps.size(), stage.L, stage.M, 1,
                                                 from, to);
    }
    return signal.x;
}

enum class Route { Joint, PerChannel, Mix, Duplicate };

struct Case {
    double in, out;
    SInt16 quality;
    UInt16 N;  // the length the quality picks for these files
    Route route;
    UInt32 frames, bufferFrames;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.in << " -> " << c.out << " q" << c.quality; }

class FilterAgainstReference : public testing::TestWithParam<std::tuple<Case, KernelLevel>> {};

TEST_P(FilterAgainstReference, AgreesWithinOneLsbAt24Bits)
{
    const auto [c, level] = GetParam();
    const KernelLevel hadLevel = LimitKernels(level);
    StopValueGuard guard;
    const UInt16 inChannels = c.route == Route::Duplicate ? 1 : c.route == Route::PerChannel ? 3 : 2;
    const UInt16 outChannels = c.route == Route::Mix ? 1 : c.route == Route::PerChannel ? 3 : 2;

    std::mt19937 rng(unsigned(c.frames + c.quality));
    std::uniform_int_distribution<SInt32> noise(-(1 << 30), 1 << 30);  // half scale
    ProcTestFile in(inChannels, 32, c.in);
    std::vector<SInt32> samples(std::size_t(c.frames) * inChannels);
    for (SInt32& v : samples)
        v = noise(rng);
    in.SetSamples(samples);
    ASSERT_EQ(in.SetBufferFrames(c.bufferFrames), noErr);
    ProcTestFile out(outChannels, 32, c.out);
    ASSERT_EQ(out.SetBufferFrames(c.bufferFrames), noErr);

    ResampleSettings s;
    s.targetRate = c.out;
    s.quality = c.quality;
    SInt32 result = 0;
    switch (c.route) {
    case Route::Joint:
    case Route::PerChannel:
        result = SRCPass(&in, &out, s);
        break;
    case Route::Mix:
        result = SRCPassMixToMono(&in, &out, s);
        break;
    case Route::Duplicate:
        result = SRCPassMonoToStereo(&in, &out, s);
        break;
    }
    LimitKernels(hadLevel);
    ASSERT_EQ(result, 0);

    auto channel = [&](int ch) {
        std::vector<double> x;
        for (std::size_t i = std::size_t(ch); i < samples.size(); i += inChannels)
            x.push_back(samples[i] / 2147483648.0);
        return x;
    };
    const std::vector<SInt32> got = out.Samples();
    double peak = 0.0;
    for (UInt16 oc = 0; oc < outChannels; ++oc) {
        std::vector<double> x;
        if (c.route == Route::Mix) {
            const std::vector<double> l = channel(0), r = channel(1);
            for (std::size_t i = 0; i < l.size(); ++i)
                x.push_back((l[i] + r[i]) * 0.5);
        } else {
            x = channel(c.route == Route::Duplicate ? 0 : oc);
        }
        const std::vector<double> expected = ReferenceFilter(x, c.out, c.in, c.N);
        ASSERT_EQ(got.size(), expected.size() * outChannels);
        double worst = 0.0;
        for (std::size_t f = 0; f < expected.size(); ++f) {
            worst = std::max(worst, std::fabs(got[f * outChannels + oc] / 2147483648.0 - expected[f]));
            peak = std::max(peak, std::fabs(expected[f]));
        }
        EXPECT_LE(worst, kOneLsb24) << "channel " << oc;
    }
    EXPECT_NEAR(s.max, peak, kOneLsb24);
}

const Case kCases[] = {
    {44100, 48000, 4, 64, Route::Joint, 30000, 12288},      // integer phase, up, 2 x 128 taps
    {48000, 44100, 3, 32, Route::Joint, 30000, 700},        // down: up to 88.2 kHz, then halved; small blocks
    {44100, 48000, 1, 64, Route::PerChannel, 9000, 1000},   // automatic: 32-bit words pick 64
    {44100, 22050, 2, 12, Route::Mix, 20000, 512},          // halved only
    {11025, 192000, 4, 64, Route::Duplicate, 3000, 4096},   // table thinned once: fractional phase
    {44100.0001, 8000, 2, 12, Route::Joint, 20000, 3000},   // large terms: one stage, fractional phase, down
    {8000, 44100.0001, 3, 32, Route::PerChannel, 3000, 800}, // large terms, up
    {96000, 44100, 4, 64, Route::Joint, 17, 64},            // shorter than the filter
    {96000, 48000, 4, 64, Route::Joint, 30000, 12288},      // halved only, 2 x 128 taps
    {192000, 48000, 1, 64, Route::PerChannel, 40000, 333},  // halved twice
    {96000, 44100, 3, 32, Route::Mix, 30000, 2000},         // down to 88.2 kHz, then halved
    {88200, 48000, 4, 64, Route::Duplicate, 20000, 12288},  // up to 96 kHz, then halved
    {192000, 44100, 2, 12, Route::Joint, 40000, 100},       // halved, down to 88.2 kHz, halved
    {192000, 8000, 4, 64, Route::Joint, 3000, 12288},       // halved thrice, then a polyphase stage
};

INSTANTIATE_TEST_SUITE_P(Cases, FilterAgainstReference,
                         testing::Combine(testing::ValuesIn(kCases),
                                          testing::Values(KernelLevel::Baseline, KernelLevel::Wide,
                                                          KernelLevel::WideManyRegisters)),
                         [](const testing::TestParamInfo<std::tuple<Case, KernelLevel>>& info) {
                             const Case& c = std::get<0>(info.param);
                             const KernelLevel level = std::get<1>(info.param);
                             return "From" + std::to_string(long(c.in)) + "To" + std::to_string(long(c.out)) + "Q" +
                                    std::to_string(c.quality) + "Case" + std::to_string(info.index / 3) +
                                    (level == KernelLevel::Baseline ? "Baseline"
                                     : level == KernelLevel::Wide   ? "Wide"
                                                                    : "WideManyRegisters");
                         });

} // namespace

// A chain follows the one filter stage it stands for: aligned with its
// input the same way (a frame's delay would be far off), the same frames
// at the start and the end, and away from the pass band's edge the same
// values, to the difference of their stop bands: over a signal of tones in
// the pass band that starts and stops abruptly.
TEST(FilterChains, FollowTheOneStageFilterToTheEnds)
{
    StopValueGuard guard;
    struct Pair {
        double in, out;
        UInt16 N;
        double tolerance;
    } pairs[] = {{96000, 48000, 64, 2e-7}, {96000, 44100, 64, 2e-7}, {192000, 48000, 64, 2e-7},
                 {48000, 44100, 32, 5e-6}, {88200, 48000, 32, 5e-6}, {192000, 44100, 12, 1e-4},
                 {44100, 8000, 64, 2e-7}};
    for (const Pair& p : pairs) {
        SCOPED_TRACE(testing::Message() << p.in << " -> " << p.out << " N " << p.N);
        const std::size_t frames = std::size_t(p.in / 10);
        std::vector<double> x(frames);
        for (std::size_t i = 0; i < frames; ++i)
            for (double f : {0.05, 0.21, 0.47, 0.73})
                x[i] += 0.2 * std::sin(6.283185307179586 * f * p.out / 2 * double(i) / p.in + f);
        ProcTestFile in(1, 32, p.in);
        std::vector<SInt32> words(frames);
        for (std::size_t i = 0; i < frames; ++i) {
            words[i] = SInt32(std::lround(x[i] * 2147483648.0));
            x[i] = words[i] / 2147483648.0;
        }
        in.SetSamples(words);
        ProcTestFile out(1, 32, p.out);
        ResampleSettings s;
        s.targetRate = p.out;
        s.quality = p.N == 64 ? 4 : p.N == 32 ? 3 : 2;
        ASSERT_EQ(SRCPass(&in, &out, s), 0);
        const std::vector<double> one = OneStageFilter(x, p.out, p.in, p.N);
        const std::vector<SInt32> got = out.Samples();
        ASSERT_EQ(got.size(), one.size());
        double worst = 0.0;
        for (std::size_t f = 0; f < one.size(); ++f)
            worst = std::max(worst, std::fabs(got[f] / 2147483648.0 - one[f]));
        EXPECT_LT(worst, p.tolerance);
        EXPECT_NEAR(got.front() / 2147483648.0, one.front(), p.tolerance);
        EXPECT_NEAR(got.back() / 2147483648.0, one.back(), p.tolerance);
    }
}
