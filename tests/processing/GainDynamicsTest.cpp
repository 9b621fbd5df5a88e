// Gain kernels and passes: normalising to a ceiling per channel layout, the
// plain boost, the limiter, the gate, mix to mono, extras, cancel, and a
// cross-check of the normalised result against sox.
#include "ProcTestFile.h"
#include "ProcTestSupport.h"
#include "TestTempDir.h"
#include "gain_dynamics.h"
#include "peak_scan.h"
#include "PeerTools.h"

#include <QFile>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

namespace {

constexpr double k16 = 1.0 / 32768.0;

// A 16-bit input of `frames` frames; channel c of frame i is a sine of
// amplitude amp[c] and period 97 + 10c frames.
std::unique_ptr<ProcTestFile> Sines(UInt32 frames, const std::vector<double>& amp, double rate = 44100.0,
                                    SInt16 bits = 16)
{
    auto in = std::make_unique<ProcTestFile>(UInt16(amp.size()), bits, rate);
    const double full = bits == 16 ? 32767.0 : 2147483647.0;
    std::vector<SInt32> samples;
    for (UInt32 i = 0; i < frames; ++i)
        for (std::size_t c = 0; c < amp.size(); ++c)
            samples.push_back(SInt32(std::lround(amp[c] * full * std::sin(2 * M_PI * i / (97.0 + 10 * c)))));
    in->SetSamples(samples);
    return in;
}

// A 32-bit mono input holding the given fractions.
std::unique_ptr<ProcTestFile> Fractions(const std::vector<double>& x, double rate = 44100.0)
{
    auto in = std::make_unique<ProcTestFile>(1, 32, rate);
    std::vector<SInt32> samples;
    for (double v : x)
        samples.push_back(SInt32(std::lround(v * 2147483647.0)));
    in->SetSamples(samples);
    return in;
}

std::vector<double> AsFractions(const ProcTestFile& f)
{
    std::vector<double> out;
    const double scale = 1.0 / std::pow(2.0, f.GetNumBits() - 1);
    for (SInt32 v : f.Samples())
        out.push_back(v * scale);
    return out;
}

double PeakOf(const ProcTestFile& f)
{
    double peak = 0.0;
    for (double v : AsFractions(f))
        peak = std::max(peak, std::fabs(v));
    return peak;
}

// The peak the scan finds for the treatment, as a valid maximum.
GainSettings Normalising(CSoundFile& in, double ceiling, SInt16 treatment)
{
    ScanSettings scan;
    scan.needsNormalize = true;
    scan.channelTreat = treatment;
    EXPECT_EQ(ScanPeaks(&in, scan), 0);
    GainSettings s;
    s.needsNormalize = true;
    s.ceiling = ceiling;
    s.max = scan.max;
    s.hasValidMax = scan.hasValidMax;
    return s;
}

} // namespace

TEST(GainDynamics, NormalisesToTheCeilingInEveryLayout)
{
    StopValueGuard guard;
    struct Case {
        const char* name;
        SInt16 treatment;
        std::vector<double> amp;
        UInt16 outChannels;
    };
    const std::vector<Case> cases = {
        {"mono", kGainNoChannelTreat, {0.3}, 1},
        {"stereo", kGainNoChannelTreat, {0.2, 0.45}, 2},
        {"three channels", kGainNoChannelTreat, {0.1, 0.05, 0.6}, 3},
        {"mono to stereo", kGainForceInterleavedStereo, {0.25}, 2},
        {"right only", kGainRightOnly, {0.7, 0.2}, 1},
        {"mix to mono", kGainMixToMono, {0.3, 0.2}, 1},
    };
    const double C = DecibelsToGain(-1.0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto in = Sines(20000, c.amp);
        ProcTestFile out(c.outChannels, 16);
        GainSettings s = Normalising(*in, -1.0, c.treatment);
        ASSERT_EQ(GainPass(c.treatment, in.get(), &out, s), 0);
        ASSERT_EQ(out.GetNumFrames(), 20000u);
        const double peak = PeakOf(out);
        EXPECT_LE(peak, C);
        EXPECT_GE(peak, C - k16);
        // The gain is one factor for every sample.
        const std::vector<SInt32> a = in->Samples();
        const std::vector<SInt32> b = out.Samples();
        if (c.outChannels == c.amp.size()) {
            const double gain = 1.0 / s.ceiledMax;
            for (std::size_t i = 0; i < a.size(); i += 37)
                EXPECT_NEAR(b[i], a[i] * gain, 1.0);
        }
    }
}

TEST(GainDynamics, CeilingEdgeCases)
{
    StopValueGuard guard;
    // A peak already within one LSB below the ceiling is copied unchanged.
    {
        const double C = DecibelsToGain(-1.0);
        auto in = std::make_unique<ProcTestFile>(1, 16);
        const SInt32 top = SInt32(std::floor(C * 32768.0));
        in->SetSamples({0, 100, -top, 5000, top - 3});
        ProcTestFile out(1, 16);
        GainSettings s = Normalising(*in, -1.0, 0);
        s.ceiledMax = 7.0;
        EXPECT_EQ(ComputeCeiledMax(&out, s), 0);
        EXPECT_EQ(s.ceiledMax, 7.0);
        ASSERT_EQ(GainPass(0, in.get(), &out, s), 0);
        EXPECT_EQ(out.Samples(), in->Samples());
    }
    // A peak above the ceiling comes down to it (24-bit: a fine LSB).
    {
        auto in = Sines(5000, {0.98}, 44100.0, 32);
        ProcTestFile out(1, 24);
        GainSettings s = Normalising(*in, -6.0, 0);
        ASSERT_EQ(GainPass(0, in.get(), &out, s), 0);
        const double C = DecibelsToGain(-6.0);
        EXPECT_LE(PeakOf(out), C);
        EXPECT_GE(PeakOf(out), C - 1.0 / 8388608.0);
    }
    // Normalising without a valid peak: -20024, nothing read or written.
    {
        auto in = Sines(100, {0.5});
        ProcTestFile out(1, 16);
        GainSettings s;
        s.needsNormalize = true;
        EXPECT_EQ(GainPass(0, in.get(), &out, s), kGainNoValidMaxErr);
        EXPECT_EQ(in->readBlockCalls, 0);
        EXPECT_EQ(out.GetNumFrames(), 0u);
    }
    // A silent input with a valid peak of 0 stays silent.
    {
        auto in = std::make_unique<ProcTestFile>(1, 16);
        in->SetSamples(std::vector<SInt32>(300, 0));
        ProcTestFile out(1, 16);
        GainSettings s = Normalising(*in, -1.0, 0);
        ASSERT_EQ(GainPass(0, in.get(), &out, s), 0);
        EXPECT_EQ(out.Samples(), in->Samples());
    }
}

TEST(GainDynamics, CompressorBoostAndLimiter)
{
    StopValueGuard guard;
    // B x M under the ceiling with a valid peak: a plain boost.
    {
        auto in = Fractions({0.1, -0.2, 0.3});
        ProcTestFile out(1, 32);
        GainSettings s;
        s.needsCompressor = true;
        s.compressionBoost = 6.0;
        s.max = 0.3;
        s.hasValidMax = true;
        ASSERT_EQ(GainPass(0, in.get(), &out, s), 0);
        const double B = DecibelsToGain(6.0);
        const std::vector<double> y = AsFractions(out);
        EXPECT_NEAR(y[1], -0.2 * B, 1e-8);
        EXPECT_NEAR(y[2], 0.3 * B, 1e-8);
    }
    // One spike over the ceiling: it lands on the ceiling, the W - 1 frames
    // before it fade linearly, and the reduction decays to an eighth in
    // half a second.
    for (double rate : {44100.0, 22255.0, 22256.0, 22050.0}) {
        SCOPED_TRACE(rate);
        const UInt32 W = rate > 22255.0 ? 64 : 32;
        const UInt32 spike = 1000;
        const UInt32 half = UInt32(rate * 0.5);
        std::vector<double> x(spike + half + 200, 0.1);
        x[spike] = 0.9;
        auto in = Fractions(x, rate);
        ProcTestFile out(1, 32);
        GainSettings s;
        s.needsCompressor = true;
        s.compressionBoost = 6.0206;  // about x 2
        s.ceiling = -1.0;
        ASSERT_EQ(GainPass(0, in.get(), &out, s), 0);
        const std::vector<double> y = AsFractions(out);
        const double B = DecibelsToGain(6.0206);
        const double C = DecibelsToGain(-1.0);
        EXPECT_NEAR(y[spike - W], 0.1 * B, 1e-7);
        EXPECT_NEAR(y[spike - W + 1], 0.1 * B, 1e-7);        // the ramp starts at 1
        EXPECT_LT(y[spike - W + 2], 0.1 * B - 1e-5);         // then falls
        EXPECT_LT(y[spike - 1], y[spike - W + 2]);
        EXPECT_NEAR(y[spike], C, 1e-8);
        const double r = C / (0.9 * B);
        // After the spike E = 1 - r; half a second later E is an eighth of it.
        EXPECT_NEAR(y[spike + half] / 0.1, B * (1 - (1 - r) / 8), 1e-3);
    }
    // A spike among the first W - 1 frames of a block: no look-back.
    {
        std::vector<double> x(200, 0.1);
        x[10] = 0.9;
        auto in = Fractions(x);
        ProcTestFile out(1, 32);
        GainSettings s;
        s.needsCompressor = true;
        s.compressionBoost = 6.0206;
        ASSERT_EQ(GainPass(0, in.get(), &out, s), 0);
        const std::vector<double> y = AsFractions(out);
        EXPECT_NEAR(y[9], 0.1 * DecibelsToGain(6.0206), 1e-7);
        EXPECT_NEAR(y[10], 1.0, 1e-8);
    }
}

TEST(GainDynamics, GateGlidesDownHoldsAndReturns)
{
    StopValueGuard guard;
    const double A = DecibelsToGain(-12.0);
    EXPECT_NEAR(A, 0.2512, 1e-4);
    // A gap of exactly 2W frames and one that runs to the end.
    auto in = Fractions(std::vector<double>(3000, 0.5));
    ASSERT_EQ(in->AddSplitPair(1000, 1128), 0);
    ASSERT_EQ(in->AddSplitPair(2000, 2500), 0);
    ASSERT_EQ(in->AddSplitPair(2800, 9000), 0);
    ProcTestFile out(1, 32);
    GainSettings s;
    s.gateAttenuation = -12.0;
    ASSERT_EQ(GainPass(0, in.get(), &out, s), 0);
    const std::vector<double> y = AsFractions(out);
    EXPECT_NEAR(y[999], 0.5, 1e-8);
    EXPECT_NEAR(y[1000], 0.5 * (1 - (1 - A) / 64), 1e-8);
    EXPECT_NEAR(y[1063], 0.5 * A, 1e-8);
    EXPECT_NEAR(y[1127], 0.5, 1e-8);
    EXPECT_NEAR(y[1128], 0.5, 1e-8);
    EXPECT_NEAR(y[2200], 0.5 * A, 1e-8);  // held
    EXPECT_NEAR(y[2499], 0.5, 1e-8);
    EXPECT_NEAR(y[2999], 0.5 * A, 1e-8);  // end gap: no way back
    // In a range pass the pairs are clipped to the range.
    ProcTestFile part(1, 32);
    ASSERT_EQ(GainPassRange(0, in.get(), &part, 2100, 2600, s), 0);
    const std::vector<double> z = AsFractions(part);
    ASSERT_EQ(z.size(), 500u);
    EXPECT_NEAR(z[63], 0.5 * A, 1e-8);
    EXPECT_NEAR(z[450], 0.5, 1e-8);
}

TEST(GainDynamics, MixToMono)
{
    StopValueGuard guard;
    // Copy mode: (left + right) x 0.5.
    auto in = std::make_unique<ProcTestFile>(2, 16);
    in->SetSamples({1000, 3000, -200, 600, 32767, -32768});
    ProcTestFile out(1, 16);
    GainSettings s;
    ASSERT_EQ(GainPass(kGainMixToMono, in.get(), &out, s), 0);
    EXPECT_EQ(out.Samples(), (std::vector<SInt32>{2000, 200, 0}));
    // Normalising gives the mix the same level in audible and gated parts.
    auto loud = Sines(4000, {0.3, 0.3});
    ASSERT_EQ(loud->AddSplitPair(1000, 3000), 0);
    GainSettings n = Normalising(*loud, -1.0, kGainMixToMono);
    const double M = n.max;
    ProcTestFile mixed(1, 32);
    ASSERT_EQ(GainPass(kGainMixToMono, loud.get(), &mixed, n), 0);
    EXPECT_EQ(n.max, M);
    EXPECT_LE(PeakOf(mixed), DecibelsToGain(-1.0));
    // The gain on the mix is the same just before the gap and after the
    // glide back.
    const std::vector<double> y = AsFractions(mixed);
    const std::vector<SInt32> x = loud->Samples();
    auto gainAt = [&](std::size_t i) { return y[i] / ((x[2 * i] + x[2 * i + 1]) * 0.5 / 32768.0); };
    EXPECT_NEAR(gainAt(2999), gainAt(999), 1e-3 * gainAt(999));
    EXPECT_NEAR(gainAt(3000), gainAt(999), 1e-3 * gainAt(999));
    // More than two channels: refused, the output untouched.
    auto six = Sines(100, {0.1, 0.1, 0.1, 0.1, 0.1, 0.1});
    ProcTestFile none(1, 16);
    EXPECT_EQ(GainPassRange(kGainMixToMono, six.get(), &none, 0, 100, s), kGainTooManyChannelsErr);
    EXPECT_EQ(none.writeBlockCalls, 0);
    // An output of the wrong shape is refused before anything is written.
    ProcTestFile wrong(2, 16);
    EXPECT_EQ(GainPass(kGainMixToMono, in.get(), &wrong, s), paramErr);
    EXPECT_EQ(wrong.writeBlockCalls, 0);
}

TEST(GainDynamics, ExtrasCancelAndTinyFiles)
{
    StopValueGuard guard;
    auto in = Sines(3000, {0.2});
    SFTMarker m;
    m.pos = 2000;
    ASSERT_EQ(in->AddMarker(&m), 0);
    SFTRegion r;
    r.start = 1500;
    r.end = 2001;
    ASSERT_EQ(in->AddRegion(&r), 0);
    in->SetTimeStampValue(100000);
    GainSettings s;
    s.copyExtras = true;
    // A range ending at the marker keeps it; the region reaching past it is
    // dropped; the time stamp is that of the output's first frame.
    {
        ProcTestFile out(1, 16);
        UInt32 outPos = 10;
        ASSERT_EQ(GainKernelOneChannel(in.get(), &out, 1000, 2000, &outPos, 0, s), 0);
        EXPECT_EQ(outPos, 1010u);
        ASSERT_EQ(out.GetNumMarkers(), 1);
        SFTMarker got;
        ASSERT_EQ(out.GetMarker(0, &got), 0);
        EXPECT_EQ(got.pos, 1010u);
        EXPECT_EQ(out.GetNumRegions(), 0);
        EXPECT_EQ(out.GetTimeStamp64(), 100000u + 1000 - 10);
    }
    // A cancel after the first block: -128, one block written, no extras.
    {
        auto big = Sines(40000, {0.2});
        ASSERT_EQ(big->AddMarker(&m), 0);
        ProcTestFile out(1, 16);
        int posts = 0;
        auto token = NotificationCenter::defaultCenter().addObserver(
            kProgressPositionNotification, nullptr, [&](const Notification&) {
                if (++posts == 2)
                    ThreadDictionary::current().setLastError(-128);
            });
        const SInt32 err = GainPass(0, big.get(), &out, s);
        NotificationCenter::defaultCenter().removeObserver(token);
        EXPECT_EQ(err, -128);
        EXPECT_EQ(out.GetNumFrames(), 6144u);
        EXPECT_EQ(out.GetNumMarkers(), 0);
    }
    ThreadDictionary::current().clearLastError();
    // Read and write failures are returned.
    {
        auto bad = Sines(20000, {0.2});
        bad->failReadAt = 1;
        ProcTestFile out(1, 16);
        EXPECT_EQ(GainPass(0, bad.get(), &out, s), -36);
        ProcTestFile full(1, 16);
        full.failWriteAt = 0;
        auto ok = Sines(100, {0.2});
        EXPECT_EQ(GainPass(0, ok.get(), &full, s), -34);
    }
    // Empty and one-frame inputs.
    {
        auto empty = std::make_unique<ProcTestFile>(2, 16);
        ProcTestFile out(2, 16);
        GainSettings n = Normalising(*empty, -1.0, 0);
        EXPECT_EQ(GainPass(0, empty.get(), &out, n), 0);
        EXPECT_EQ(out.GetNumFrames(), 0u);
        auto one = std::make_unique<ProcTestFile>(2, 16);
        one->SetSamples({-16384, 8192});
        ProcTestFile out1(2, 16);
        GainSettings n1 = Normalising(*one, 0.0, 0);
        ASSERT_EQ(GainPass(0, one.get(), &out1, n1), 0);
        EXPECT_NEAR(out1.Samples()[0], -32767, 1);
        EXPECT_NEAR(out1.Samples()[1], 16384, 1);
    }
}

TEST(GainDynamics, StripPassWritesMarginWidenedSpansBackToBack)
{
    StopValueGuard guard;
    auto in = Fractions(std::vector<double>(20000, 0.25), 44100.0);
    SFTRegion a;
    a.start = 1000;
    a.end = 2000;
    ASSERT_EQ(in->AddRegion(&a), 0);
    SFTRegion b;
    b.start = 2080;  // within two margins (2 x 44): merged
    b.end = 3000;
    ASSERT_EQ(in->AddRegion(&b), 0);
    SFTRegion c;
    c.start = 10000;
    c.end = 10000;  // empty: a span of margins only
    ASSERT_EQ(in->AddRegion(&c), 0);
    ProcTestFile out(1, 32);
    GainSettings s;
    s.needsStrip = true;
    ASSERT_EQ(GainPassStrip(0, in.get(), &out, s), 0);
    EXPECT_EQ(out.GetNumFrames(), (3044u - 956u) + 88u);
    // Without regions: an empty output and 0.
    auto bare = Fractions(std::vector<double>(100, 0.25));
    ProcTestFile none(1, 32);
    EXPECT_EQ(GainPassStrip(0, bare.get(), &none, s), 0);
    EXPECT_EQ(none.GetNumFrames(), 0u);
}

TEST(GainDynamics, NormaliseAgreesWithSox)
{
    StopValueGuard guard;
    QM_REQUIRE_PEER("sox");
    auto in = Sines(8000, {0.4, 0.15});
    const QStringList format = {"-t", "raw", "-r", "44100", "-e", "signed", "-b", "16", "-B", "-c", "2"};
    const QByteArray bytes =
        RunPeerOnRaw("sox", QByteArray(reinterpret_cast<const char*>(in->data.data()), qsizetype(in->data.size())),
                     QStringList{"-D"} + format + QStringList{"%in"} + format + QStringList{"-", "gain", "-n", "-1"});
    ASSERT_EQ(bytes.size(), qsizetype(in->data.size()));

    ProcTestFile out(2, 16);
    GainSettings s = Normalising(*in, -1.0, 0);
    ASSERT_EQ(GainPass(0, in.get(), &out, s), 0);
    const std::vector<SInt32> ours = out.Samples();
    for (std::size_t i = 0; i < ours.size(); ++i) {
        const SInt16 theirs = SInt16((UInt8(bytes[2 * i]) << 8) | UInt8(bytes[2 * i + 1]));
        ASSERT_NEAR(ours[i], theirs, 2) << "sample " << i;
    }
}
