// The vectorised polyphase filter against a plain reference loop: the
// textbook form of the converters' filter (every tap read from the sinc
// table by its index, the input zero outside the range), over noise, for
// both thinning cases (integer and fractional phase), up and down, every
// channel layout, small blocks and both the baseline and the wide kernels.
// Outputs must agree within one least significant bit at 24 bits.
#include "PolyphaseBank.h"
#include "ProcTestFile.h"
#include "ProcTestSupport.h"
#include "resampling_filter.h"
#include "resampling_passes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

constexpr double kOneLsb24 = 1.0 / 8388608.0;

// The filter as the table defines it, one output frame at a time.
std::vector<double> ReferenceFilter(const std::vector<double>& x, double outRate, double inRate, UInt16 N)
{
    gSRCFilterLength = N;
    UInt32 L = 0, M = 0, d = 1;
    EXPECT_EQ(InitSampleRateFilter(outRate, inRate, &L, &M, &d), 0);
    const UInt64 count = gSincTableCount;
    const double* h = gSincTable;
    const double Ld = double(L) / double(d), Md = double(M) / double(d);
    const UInt64 s = d == 1 ? L : std::max<UInt64>(UInt64(std::llround(Ld)), 1);
    auto at = [&](SInt64 t) { return t >= 0 && t < SInt64(x.size()) ? x[std::size_t(t)] : 0.0; };
    const UInt64 T = ResampledFrames(UInt32(x.size()), L, M);
    std::vector<double> y(T);
    SInt64 j = 0;
    UInt64 q = 0;
    double phi = 0.0;
    for (UInt64 f = 0; f < T; ++f) {
        double acc = 0.0;
        if (d == 1) {
            for (UInt64 k = 0; k < (count - q) / L; ++k)
                acc += h[q + k * L] * at(j - SInt64(k));
            for (UInt64 k = 1; k <= (count - (L - q)) / L; ++k)
                acc += h[k * L - q] * at(j + SInt64(k));
            q += M;
            while (q >= L) {
                q -= L;
                ++j;
            }
        } else {
            const UInt64 p = UInt64(phi);
            for (UInt64 k = 0; p < count && k < (count - p) / s; ++k)
                acc += h[p + k * s] * at(j - SInt64(k));
            const UInt64 fi = UInt64(Ld - double(p));
            for (UInt64 k = 0; fi < count && k < (count - fi) / s; ++k)
                acc += h[fi + k * s] * at(j + 1 + SInt64(k));
            phi += Md;
            while (phi >= Ld) {
                phi -= Ld;
                ++j;
            }
        }
        y[f] = acc;
    }
    FreeSincTable();
    return y;
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

class PolyphaseAgainstReference : public testing::TestWithParam<std::tuple<Case, bool>> {};

TEST_P(PolyphaseAgainstReference, AgreesWithinOneLsbAt24Bits)
{
    const auto [c, wide] = GetParam();
    const bool hadWide = PolyphaseBank::UseWideKernels(wide);
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
    PolyphaseBank::UseWideKernels(hadWide);
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
    {48000, 44100, 3, 32, Route::Joint, 30000, 700},        // down, many small blocks
    {44100, 48000, 1, 64, Route::PerChannel, 9000, 1000},   // automatic: 32-bit words pick 64
    {44100, 22050, 2, 12, Route::Mix, 20000, 512},          // L = 1: one phase
    {11025, 48000, 4, 64, Route::Duplicate, 6000, 4096},    // table thinned once: fractional phase
    {44100.0001, 8000, 2, 12, Route::Joint, 20000, 3000},   // large terms, fractional phase, down
    {8000, 44100.0001, 3, 32, Route::PerChannel, 3000, 800}, // large terms, up
    {96000, 44100, 4, 64, Route::Joint, 17, 64},            // shorter than the filter
};

INSTANTIATE_TEST_SUITE_P(Cases, PolyphaseAgainstReference,
                         testing::Combine(testing::ValuesIn(kCases), testing::Bool()),
                         [](const testing::TestParamInfo<std::tuple<Case, bool>>& info) {
                             const Case& c = std::get<0>(info.param);
                             return "From" + std::to_string(long(c.in)) + "To" + std::to_string(long(c.out)) + "Q" +
                                    std::to_string(c.quality) + "Case" + std::to_string(info.index / 2) +
                                    (std::get<1>(info.param) ? "Wide" : "Baseline");
                         });

} // namespace
