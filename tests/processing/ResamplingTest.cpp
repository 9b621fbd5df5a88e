// Sample-rate conversion: the filter table, the converters' lengths,
// frequency, pass band and stop band, a comparison with sox, extras mapped
// to the new rate, the passes' walks, cancel, and inputs at the edges.
#include "ProcTestFile.h"
#include "ProcTestSupport.h"
#include "TestTempDir.h"
#include "resampling_filter.h"
#include "resampling_passes.h"
#include "PeerTools.h"

#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <random>

namespace {

constexpr double kTwoPi = 6.283185307179586;

std::unique_ptr<ProcTestFile> SineInput(UInt16 channels, UInt32 frames, double rate, double freq,
                                        double amplitude = 0.5)
{
    auto in = std::make_unique<ProcTestFile>(channels, 32, rate);
    std::vector<SInt32> s;
    s.reserve(std::size_t(frames) * channels);
    for (UInt32 i = 0; i < frames; ++i)
        for (UInt16 c = 0; c < channels; ++c)
            s.push_back(SInt32(std::lround(amplitude * (c + 1) / channels * 2147483647.0 *
                                           std::sin(kTwoPi * freq * i / rate))));
    in->SetSamples(s);
    return in;
}

std::vector<double> Channel(const ProcTestFile& f, int channel)
{
    const std::vector<SInt32> s = f.Samples();
    std::vector<double> out;
    for (std::size_t i = channel; i < s.size(); i += f.GetNumChannels())
        out.push_back(s[i] / 2147483648.0);
    return out;
}

// Amplitude of a tone over the middle of a signal (the RMS of whole cycles is
// close to amplitude / sqrt 2), ignoring `skip` frames at either end.
double Amplitude(const std::vector<double>& x, std::size_t skip)
{
    double sum = 0.0;
    std::size_t n = 0;
    for (std::size_t i = skip; i + skip < x.size(); ++i, ++n)
        sum += x[i] * x[i];
    return n ? std::sqrt(2.0 * sum / double(n)) : 0.0;
}

// Frequency from the rising zero crossings between the first and the last.
double Frequency(const std::vector<double>& x, double rate, std::size_t skip)
{
    double first = -1, last = -1;
    int crossings = 0;
    for (std::size_t i = skip + 1; i + skip < x.size(); ++i)
        if (x[i - 1] < 0.0 && x[i] >= 0.0) {
            const double t = double(i - 1) + x[i - 1] / (x[i - 1] - x[i]);
            if (first < 0)
                first = t;
            last = t;
            ++crossings;
        }
    return crossings > 1 ? (crossings - 1) * rate / (last - first) : 0.0;
}

// The tone at `freq` in the middle of a signal by a least-squares fit of a
// sine and a cosine (exact for any number of cycles): x[i] ~ s sin + c cos.
struct ToneFit {
    double s = 0.0, c = 0.0;
    double Amplitude() const { return std::hypot(s, c); }
};

ToneFit FitTone(const std::vector<double>& x, double rate, double freq, std::size_t skip)
{
    double ss = 0, cc = 0, sc = 0, xs = 0, xc = 0;
    for (std::size_t i = skip; i + skip < x.size(); ++i) {
        const double sn = std::sin(kTwoPi * freq * i / rate), cs = std::cos(kTwoPi * freq * i / rate);
        ss += sn * sn;
        cc += cs * cs;
        sc += sn * cs;
        xs += x[i] * sn;
        xc += x[i] * cs;
    }
    const double det = ss * cc - sc * sc;
    if (det == 0.0)
        return {};
    return {(xs * cc - xc * sc) / det, (xc * ss - xs * sc) / det};
}

double FitAmplitude(const std::vector<double>& x, double rate, double freq, std::size_t skip)
{
    return FitTone(x, rate, freq, skip).Amplitude();
}

double Db(double ratio) { return 20.0 * std::log10(ratio); }

ResampleSettings Settings(double target, SInt16 quality = 3)
{
    ResampleSettings s;
    s.targetRate = target;
    s.quality = quality;
    return s;
}

void AddRegion(CSoundFile& file, UInt32 start, UInt32 end, UInt32 sync = 0)
{
    SFTRegion r;
    r.start = start;
    r.end = end;
    r.syncFrame = sync;
    r.timeStamp = 44100;
    r.name[0] = 1;
    r.name[1] = 'r';
    ASSERT_EQ(file.AddRegion(&r), noErr);
}

void AddMarker(CSoundFile& file, UInt32 pos)
{
    SFTMarker m;
    m.markerID = SInt32(pos);
    m.pos = pos;
    ASSERT_EQ(file.AddMarker(&m), noErr);
}

} // namespace

// ------------------------------------------------------------------ table
TEST(ResamplingFilter, TableSizesRatiosAndRelease)
{
    struct Case {
        double out, in;
        UInt16 n;
        UInt32 L, M, count, d;
    } cases[] = {
        {48000, 44100, 64, 160, 147, 20480, 1},
        {44100, 48000, 32, 147, 160, 10240, 1},
        {48000, 11025, 64, 640, 147, 81920, 1},
        {192000, 11025, 64, 2560, 147, 163840, 2},
        {22050, 44100, 12, 1, 2, 48, 1},
        {44100, 44100, 32, 1, 1, 64, 1},
    };
    for (const Case& c : cases) {
        gSRCFilterLength = c.n;
        UInt32 L = 0, M = 0, d = 0;
        ASSERT_EQ(InitSampleRateFilter(c.out, c.in, &L, &M, &d), 0);
        EXPECT_EQ(L, c.L);
        EXPECT_EQ(M, c.M);
        EXPECT_EQ(gSincTableCount, c.count);
        EXPECT_EQ(d, c.d);
        EXPECT_EQ(gSincTableFreed, 0);
        EXPECT_DOUBLE_EQ(gSincTable[0], L < M ? double(L) / M : 1.0);
        // Zero crossings every P / d entries.
        const UInt32 P = std::max(L, M) / d;
        if (P < gSincTableCount) {
            EXPECT_NEAR(gSincTable[P], 0.0, 1e-12);
        }
        FreeSincTable();
        EXPECT_EQ(gSincTableFreed, 1);
        FreeSincTable();  // a second release does nothing
        EXPECT_EQ(gSincTable, nullptr);
    }
    // Every rate from 1 Hz to 768 kHz (terms past 32 bits before reduction),
    // a held table reused for the same ratio, and no filter length.
    UInt32 L, M, d;
    gSRCFilterLength = 32;
    ASSERT_EQ(InitSampleRateFilter(44100.0, 384000.0, &L, &M, &d), 0);
    EXPECT_EQ(L, 147u);
    EXPECT_EQ(M, 1280u);
    FreeSincTable();
    ASSERT_EQ(InitSampleRateFilter(768000.0, 1.0, &L, &M, &d), 0);
    EXPECT_EQ(L, 768000u);
    EXPECT_EQ(M, 1u);
    FreeSincTable();
    HoldSincTable(true);
    ASSERT_EQ(InitSampleRateFilter(48000.0, 352800.0, &L, &M, &d), 0);
    const double* held = gSincTable;
    FreeSincTable();
    ASSERT_EQ(InitSampleRateFilter(48000.0, 352800.0, &L, &M, &d), 0);
    EXPECT_EQ(gSincTable, held);
    HoldSincTable(false);
    EXPECT_EQ(gSincTableFreed, 1);
    EXPECT_EQ(InitSampleRateFilter(0.0, 44100.0, &L, &M, &d), paramErr);
    gSRCFilterLength = 0;
    EXPECT_EQ(InitSampleRateFilter(48000.0, 44100.0, &L, &M, &d), paramErr);
    EXPECT_EQ(gSincTableFreed, 1);
    gSRCFilterLength = 12;
}

TEST(ResamplingFilter, LengthRuleAndWindowSeries)
{
    EXPECT_EQ(GetSRCFilterLength(1, 44100, 16, 48000, 16), 32);
    EXPECT_EQ(GetSRCFilterLength(1, 96000, 24, 48000, 16), 64);   // input above 48 kHz
    EXPECT_EQ(GetSRCFilterLength(1, 44100, 24, 48000.5, 16), 64); // output above 48 kHz
    EXPECT_EQ(GetSRCFilterLength(1, 44100, 24, 48000, 16), 32);
    EXPECT_EQ(GetSRCFilterLength(1, 192000, 32, 48000, 8), 12);   // 8-bit output first
    EXPECT_EQ(GetSRCFilterLength(1, 96000.5, 16, 48000, 16), 64);
    EXPECT_EQ(GetSRCFilterLength(2, 1, 1, 1, 1), 12);
    EXPECT_EQ(GetSRCFilterLength(3, 1, 1, 1, 1), 32);
    EXPECT_EQ(GetSRCFilterLength(4, 1, 1, 1, 1), 64);
    EXPECT_EQ(GetSRCFilterLength(7, 1, 1, 1, 1), 0);
    // The series stops after 14 terms: at beta 12 it is short of I0(12).
    EXPECT_DOUBLE_EQ(SincWindowBessel(0.0), 1.0);
    const double missing = std::cyl_bessel_i(0.0, 12.0) - SincWindowBessel(12.0);
    EXPECT_GT(missing, 0.1);
    EXPECT_LT(missing, 0.2);
    EXPECT_NEAR(SincWindowBessel(6.0), std::cyl_bessel_i(0.0, 6.0), 1e-6);
}

// ------------------------------------------------------------ converters
TEST(Resamplers, LengthsAndFrequencyBetweenCommonRates)
{
    StopValueGuard guard;
    struct Case {
        double in, out;
        UInt32 frames, expected;
        SInt16 quality;
    } cases[] = {
        {44100, 48000, 44100, 48000, 3}, {48000, 44100, 48000, 44100, 3}, {48000, 16000, 48000, 16000, 4},
        {8000, 44100, 8000, 44100, 2},   {44100, 44100, 4410, 4410, 3},   {48000, 44100, 48000, 44100, 0},
        {44100, 48000, 44100, 48000, 0}, {11025, 48000, 11025, 48000, 4}, {44100, 22050, 44100, 22050, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.in << " -> " << c.out << " q" << c.quality);
        auto in = SineInput(1, c.frames, c.in, 997.0);
        ProcTestFile out(1, 32, c.out);
        ResampleSettings s = Settings(c.out, c.quality);
        ASSERT_EQ(SRCPass(in.get(), &out, s), 0);
        EXPECT_EQ(out.GetNumFrames(), c.expected);
        const std::vector<double> y = Channel(out, 0);
        EXPECT_NEAR(Frequency(y, c.out, 200), 997.0, 0.05);
        EXPECT_NEAR(Db(FitAmplitude(y, c.out, 997.0, 200) / 0.5), 0.0, c.quality ? 0.01 : 0.1);
        EXPECT_TRUE(s.hasValidMax);
        EXPECT_NEAR(s.max, 0.5, 0.01);
        EXPECT_EQ(gSincTableFreed, 1);
    }
}

// Every converter path gives round(frames x ratio) frames, the ratio taken
// exactly, for any rates, length and quality: 0.5 s at 44100 Hz make 24000
// frames at 48000 Hz and 3000 at 6000 Hz, as sox makes them.
TEST(Resamplers, OutputHoldsTheInputLengthTimesTheRatioRounded)
{
    StopValueGuard guard;
    const UInt32 rates[] = {6000, 8000, 11025, 16000, 22050, 32000, 37800, 44100, 48000, 88200, 96000, 192000};
    struct Case {
        UInt32 in, out, frames;
    };
    std::vector<Case> cases{{44100, 48000, 22050}, {44100, 6000, 22050}, {48000, 44100, 9600}, {8000, 44100, 1},
                            {44100, 22050, 1},     {22050, 44100, 3}};
    std::mt19937 rng(1234);
    for (int i = 0; i < 24; ++i) {
        const UInt32 in = rates[rng() % std::size(rates)], out = rates[rng() % std::size(rates)];
        if (in != out)
            cases.push_back({in, out, UInt32(i % 3 == 0 ? rng() % 50 + 1 : rng() % 4000 + 1)});
    }
    for (const Case& c : cases) {
        const UInt64 scaled = UInt64(c.frames) * c.out;
        const UInt64 expected = scaled / c.in + (2 * (scaled % c.in) >= c.in ? 1 : 0);
        for (SInt16 q = 0; q <= 4; ++q) {
            const UInt16 channels = UInt16(1 + (c.frames + q) % 2);
            SCOPED_TRACE(testing::Message() << c.frames << " frames " << c.in << " -> " << c.out << " q" << q << ", "
                                            << channels << " channels");
            auto input = SineInput(channels, c.frames, c.in, 441.0);
            ProcTestFile output(channels, 32, c.out);
            ResampleSettings s = Settings(c.out, q);
            ASSERT_EQ(SRCPass(input.get(), &output, s), 0);
            EXPECT_EQ(output.GetNumFrames(), expected);
        }
    }
}

TEST(Resamplers, EqualRatesGiveTheInputBack)
{
    auto in = SineInput(2, 3000, 44100, 1234.0);
    ProcTestFile out(2, 32, 44100);
    ResampleSettings s = Settings(44100, 4);
    ASSERT_EQ(SRCPass(in.get(), &out, s), 0);
    const std::vector<SInt32> a = in->Samples(), b = out.Samples();
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        ASSERT_NEAR(a[i], b[i], 2) << i;
}

// (A conversion down runs as a chain of stages; its first frames are held
// to the chain's textbook form in FilterAgainstReference.)
TEST(Resamplers, FirstFrameIsTheFilterOnFrameZeroWithoutHistory)
{
    auto in = SineInput(1, 2000, 44100, 3000.0);
    ProcTestFile out(1, 32, 48000);
    ResampleSettings s = Settings(48000, 3);
    ASSERT_EQ(SRCPass(in.get(), &out, s), 0);

    gSRCFilterLength = 32;
    UInt32 L, M, d;
    ASSERT_EQ(InitSampleRateFilter(48000, 44100, &L, &M, &d), 0);
    const std::vector<double> x = Channel(*in, 0);
    // Phase 0 on frame 0: the centre tap, nothing before, the forward half.
    double expected = gSincTable[0] * x[0];
    for (UInt32 k = 1; k <= (gSincTableCount - L) / L; ++k)
        expected += gSincTable[k * L] * x[k];
    // Frame 1 stands M / L of a frame later: phase q = M on frame 0.
    const UInt32 q = M;
    double second = gSincTable[q] * x[0];
    for (UInt32 k = 1; k <= (gSincTableCount - (L - q)) / L; ++k)
        second += gSincTable[k * L - q] * x[k];
    FreeSincTable();
    // Within the 32-bit output's truncation.
    const std::vector<double> y = Channel(out, 0);
    EXPECT_NEAR(y[0], expected, 2.0 / 2147483648.0);
    EXPECT_NEAR(y[1], second, 2.0 / 2147483648.0);
}

TEST(Resamplers, PassBandFlatAndStopBandRejected)
{
    StopValueGuard guard;
    // Pass band of 44100 -> 48000 and 48000 -> 44100, every filter length.
    for (SInt16 q : {2, 3, 4}) {
        for (double f : {100.0, 1000.0, 5000.0, 10000.0, 15000.0}) {
            SCOPED_TRACE(testing::Message() << "q" << q << " " << f << " Hz");
            for (auto [a, b] : {std::pair{44100.0, 48000.0}, std::pair{48000.0, 44100.0}}) {
                auto in = SineInput(1, 8000, a, f);
                ProcTestFile out(1, 32, b);
                ResampleSettings s = Settings(b, q);
                ASSERT_EQ(SRCPass(in.get(), &out, s), 0);
                EXPECT_NEAR(Db(FitAmplitude(Channel(out, 0), b, f, 600) / 0.5), 0.0, q == 2 ? 0.1 : 0.01);
            }
        }
    }
    // A tone above the new Nyquist frequency is removed.
    struct Stop {
        double in, out, f;
        SInt16 q;
        double floorDb;
    } stops[] = {{48000, 16000, 12000, 3, -80}, {48000, 16000, 20000, 4, -100},
                 {44100, 22050, 15000, 3, -80}, {48000, 8000, 6000, 2, -45}};
    for (const Stop& c : stops) {
        SCOPED_TRACE(testing::Message() << c.in << " -> " << c.out << " " << c.f << " Hz");
        auto in = SineInput(1, 24000, c.in, c.f);
        ProcTestFile out(1, 32, c.out);
        ResampleSettings s = Settings(c.out, c.q);
        ASSERT_EQ(SRCPass(in.get(), &out, s), 0);
        EXPECT_LT(Db(Amplitude(Channel(out, 0), 500) / 0.5), c.floorDb);
    }
}

TEST(Resamplers, LevelAgreesWithSox)
{
    QM_REQUIRE_PEER("sox");
    for (auto [a, b] : {std::pair{44100, 48000}, std::pair{48000, 16000}, std::pair{8000, 44100},
                        std::pair{96000, 44100}, std::pair{192000, 44100}}) {
        SCOPED_TRACE(testing::Message() << a << " -> " << b);
        const UInt32 frames = UInt32(a);  // one second
        auto in = SineInput(1, frames, a, 440.0);
        const std::vector<SInt32> samples = in->Samples();
        const QByteArray bytes = RunPeerOnRaw(
            "sox", QByteArray(reinterpret_cast<const char*>(samples.data()), qsizetype(samples.size() * 4)),
            {"-t", "raw", "-r", QString::number(a), "-e", "signed", "-b", "32", "-c", "1", "%in", "-t", "raw", "-e",
             "floating-point", "-b", "64", "-", "rate", "-v", QString::number(b)});
        ASSERT_FALSE(bytes.isEmpty());
        std::vector<double> ref(std::size_t(bytes.size()) / 8);
        std::memcpy(ref.data(), bytes.data(), ref.size() * 8);

        ProcTestFile out(1, 32, b);
        ResampleSettings s = Settings(b, 4);
        ASSERT_EQ(SRCPass(in.get(), &out, s), 0);
        const std::vector<double> ours = Channel(out, 0);
        // Both are linear-phase and time-aligned with the input: the same
        // length to a frame, and sample for sample close away from the ends
        // (each filter's pass-band ripple at 440 Hz is far below 1e-4).
        EXPECT_NEAR(double(ours.size()), double(ref.size()), 1.0);
        const std::size_t n = std::min(ours.size(), ref.size());
        double worst = 0.0;
        for (std::size_t i = n / 10; i < n - n / 10; ++i)
            worst = std::max(worst, std::fabs(ours[i] - ref[i]));
        EXPECT_LT(worst, 1e-4);
        const std::vector<double> oursMid(ours.begin(), ours.begin() + n), refMid(ref.begin(), ref.begin() + n);
        EXPECT_NEAR(Db(Amplitude(oursMid, n / 10) / Amplitude(refMid, n / 10)), 0.0, 0.001);
    }
}

TEST(Resamplers, ChannelLayouts)
{
    auto stereo = SineInput(2, 4410, 44100, 1000.0);  // right at twice the left's level
    ResampleSettings s = Settings(48000);
    {
        ProcTestFile out(1, 32, 48000);
        ASSERT_EQ(SRCPassRight(stereo.get(), &out, s), 0);
        EXPECT_NEAR(Amplitude(Channel(out, 0), 300), 0.5, 0.001);
        ProcTestFile left(1, 32, 48000);
        ASSERT_EQ(SRCPassLeft(stereo.get(), &left, s), 0);
        EXPECT_NEAR(Amplitude(Channel(left, 0), 300), 0.25, 0.001);
        ProcTestFile mix(1, 32, 48000);
        ASSERT_EQ(SRCPassMixToMono(stereo.get(), &mix, s), 0);
        EXPECT_NEAR(Amplitude(Channel(mix, 0), 300), 0.375, 0.001);
        EXPECT_NEAR(s.max, 0.375, 0.005);
    }
    auto mono = SineInput(1, 4410, 44100, 1000.0);
    for (SInt16 q : {0, 3}) {
        ProcTestFile out(2, 32, 48000);
        ResampleSettings sq = Settings(48000, q);
        ASSERT_EQ(SRCPassMonoToStereo(mono.get(), &out, sq), 0);
        EXPECT_EQ(Channel(out, 0), Channel(out, 1));
        EXPECT_NEAR(Amplitude(Channel(out, 0), 300), 0.5, 0.002);
    }
    // A four-channel input goes channel by channel, announcing each.
    auto quad = SineInput(4, 2000, 44100, 1000.0);
    ProcTestFile out(4, 32, 48000);
    std::vector<QVariant> announced;
    const auto token = NotificationCenter::defaultCenter().addObserver(
        kProgressChannelNotification, nullptr, [&](const Notification& n) { announced.push_back(n.object); });
    ASSERT_EQ(SRCPass(quad.get(), &out, s), 0);
    NotificationCenter::defaultCenter().removeObserver(token);
    ASSERT_EQ(announced.size(), 4u);
    EXPECT_EQ(announced[3].toList().at(0).toInt(), 4);
    for (int c = 0; c < 4; ++c)
        EXPECT_NEAR(Amplitude(Channel(out, c), 300), 0.5 * (c + 1) / 4, 0.002);
    EXPECT_TRUE(out.IsOneChannelDone());
}

// ---------------------------------------------------------------- extras
TEST(Resamplers, RegionsAndMarkersScaledToTheNewRate)
{
    auto in = SineInput(1, 44100, 44100, 440.0);
    AddRegion(*in, 4410, 8820, 6615);
    AddRegion(*in, 0, 44100);
    AddMarker(*in, 22050);
    AddMarker(*in, 44100);  // at the end: kept
    in->SetTimeStampValue(441);
    ResampleSettings s = Settings(48000);
    s.copyExtras = true;
    ProcTestFile out(1, 32, 48000);
    ASSERT_EQ(SRCPass(in.get(), &out, s), 0);
    ASSERT_EQ(out.GetNumRegions(), 2);
    SFTRegion r;
    ASSERT_EQ(out.GetRegion(1, &r), 0);
    EXPECT_EQ(r.start, 4800u);
    EXPECT_EQ(r.end, 9600u);
    EXPECT_EQ(r.syncFrame, 7200u);
    EXPECT_EQ(r.timeStamp, 48000);
    ASSERT_EQ(out.GetNumMarkers(), 2);
    SFTMarker m;
    ASSERT_EQ(out.GetMarker(0, &m), 0);
    EXPECT_EQ(m.pos, 24000u);
    EXPECT_EQ(out.GetTimeStamp64(), 480u);

    // A range from frame 4410: the region at its start lands at 0, the one
    // straddling the start is left out, the stamp is that of frame 4410.
    ProcTestFile range(1, 32, 48000);
    ASSERT_EQ(SRCPassRange(in.get(), &range, 4410, 44100, s), 0);
    ASSERT_EQ(range.GetNumRegions(), 1);
    ASSERT_EQ(range.GetRegion(0, &r), 0);
    EXPECT_EQ(r.start, 0u);
    EXPECT_EQ(r.end, 4800u);
    EXPECT_EQ(range.GetTimeStamp64(), 5280u);

    // Without copy-extras nothing is carried.
    ProcTestFile plain(1, 32, 48000);
    s.copyExtras = false;
    ASSERT_EQ(SRCPass(in.get(), &plain, s), 0);
    EXPECT_EQ(plain.GetNumRegions(), 0);
    EXPECT_FALSE(plain.HasTimeStamp());
}

TEST(ResamplingPasses, StripJoinsSegmentsAndCarriesTheirRegions)
{
    StopValueGuard guard;
    auto in = SineInput(1, 44100, 44100, 440.0);
    AddRegion(*in, 1000, 2000);
    AddRegion(*in, 2044, 3000);    // 44 frames later: merges
    AddRegion(*in, 10000, 11000);  // far: a segment of its own
    ResampleSettings s = Settings(48000);
    s.needsStrip = true;  // margin 44 frames
    ProcTestFile out(1, 32, 48000);
    ASSERT_EQ(SRCPassStrip(in.get(), &out, s), 0);
    EXPECT_FALSE(s.copyExtras) << "the forced setting is put back";
    // Segments [956, 3044) and [9956, 11044): 2088 and 1088 input frames.
    const UInt32 first = UInt32(std::lround(48000.0 / 44100.0 * 2088));
    const UInt32 second = UInt32(std::lround(48000.0 / 44100.0 * 1088));
    EXPECT_EQ(out.GetNumFrames(), first + second);
    ASSERT_EQ(out.GetNumRegions(), 3);
    SFTRegion r;
    ASSERT_EQ(out.GetRegion(2, &r), 0);
    EXPECT_EQ(r.start, UInt32(std::trunc((first / 48000.0 + (10000 - 9956) / 44100.0) * 48000.0)));
    EXPECT_TRUE(out.IsOneChannelDone());

    // Without regions: nothing written, success.
    auto bare = SineInput(1, 1000, 44100, 440.0);
    ProcTestFile empty(1, 32, 48000);
    EXPECT_EQ(SRCPassStripMixToMono(bare.get(), &empty, s), 0);
    EXPECT_EQ(SRCPassStripLeft(bare.get(), &empty, s), 0);
    EXPECT_EQ(empty.GetNumFrames(), 0u);
}

TEST(ResamplingPasses, MixRangeContinuesAtTheCallersPosition)
{
    auto in = SineInput(2, 4410, 44100, 440.0);
    ResampleSettings s = Settings(22050, 0);
    ProcTestFile out(1, 32, 22050);
    UInt32 pos = 100;
    ASSERT_EQ(SRCPassRangeMixToMono(in.get(), &out, 0, 4410, s, &pos), 0);
    EXPECT_EQ(pos, 100u + 2205u);
    EXPECT_EQ(out.writes.front().first, 100u);
}

// --------------------------------------------------- cancel and failures
TEST(ResamplingPasses, CancelMidPassStopsAfterTheBlock)
{
    // One filter stage up, a chain of stages down, and the linear path.
    for (auto [rate, q] : {std::pair{48000.0, 0}, std::pair{48000.0, 3}, std::pair{22050.0, 3}}) {
        SCOPED_TRACE(testing::Message() << rate << " q" << q);
        StopValueGuard guard;
        auto in = SineInput(2, 100000, 44100, 440.0);
        AddRegion(*in, 0, 100000);
        ProcTestFile out(2, 32, rate);
        int posts = 0;
        const auto token = NotificationCenter::defaultCenter().addObserver(
            kProgressPositionNotification, nullptr, [&](const Notification&) {
                if (++posts == 2)
                    ThreadDictionary::current().setLastError(-128);
            });
        ResampleSettings s = Settings(rate, SInt16(q));
        s.copyExtras = true;
        const SInt32 result = SRCPass(in.get(), &out, s);
        NotificationCenter::defaultCenter().removeObserver(token);
        EXPECT_EQ(result, -128);
        EXPECT_EQ(posts, 2);
        EXPECT_LT(out.GetNumFrames(), UInt32(100000 * rate / 44100));
        EXPECT_EQ(out.GetNumRegions(), 0) << "no extras after a cancel";
        EXPECT_EQ(gSincTableFreed, 1);
        // Uncancelled, the posts climb (the filter's to the end of the
        // input it has read, the linear path's to the start of its last
        // read).
        ThreadDictionary::current().clearLastError();
        PositionRecorder recorder;
        ProcTestFile whole(2, 32, rate);
        ASSERT_EQ(SRCPass(in.get(), &whole, s), 0);
        ASSERT_FALSE(recorder.positions.empty());
        EXPECT_TRUE(std::is_sorted(recorder.positions.begin(), recorder.positions.end()));
        if (q != 0) {
            EXPECT_EQ(recorder.positions.back(), 100000);
        }
    }
}

TEST(Resamplers, ReadAndWriteFailuresAreReturned)
{
    // One filter stage up, a chain of stages down.
    for (double rate : {48000.0, 11025.0}) {
        SCOPED_TRACE(rate);
        StopValueGuard guard;
        auto in = SineInput(1, 50000, 44100, 440.0);
        ASSERT_EQ(in->SetBufferFrames(1000), noErr);
        in->failReadAt = 3;
        ProcTestFile out(1, 32, rate);
        ResampleSettings s = Settings(rate);
        EXPECT_EQ(SRCPass(in.get(), &out, s), -36);
        auto good = SineInput(1, 50000, 44100, 440.0);
        ProcTestFile bad(1, 32, rate);
        bad.failWriteAt = 1;
        EXPECT_EQ(SRCPass(good.get(), &bad, s), -34);
    }
}

// --------------------------------------------------------------- edges
TEST(Resamplers, TinyInputsAndExtremeRatiosNeverCrash)
{
    StopValueGuard guard;
    for (UInt32 frames : {0u, 1u, 2u, 5u}) {
        for (SInt16 q : {0, 1, 2, 3, 4, 9}) {
            for (double target : {8000.0, 44100.0, 48000.0, 192000.0}) {
                SCOPED_TRACE(testing::Message() << frames << " frames q" << q << " -> " << target);
                auto in = SineInput(2, frames, 44100, 440.0);
                ProcTestFile out(2, 32, target);
                ResampleSettings s = Settings(target, q);
                ASSERT_EQ(SRCPass(in.get(), &out, s), 0);
                EXPECT_EQ(out.GetNumFrames(), UInt32(std::floor(target / 44100.0 * frames + 0.5)));
            }
        }
    }
    // Ratios up to 256 either way run; beyond, and unusable rates, are refused.
    for (auto [a, b] : {std::pair{1000.0, 192000.0}, std::pair{192000.0, 1000.0}, std::pair{44100.0001, 8000.0},
                        std::pair{7.0, 1000.0}}) {
        for (SInt16 q : {0, 4}) {
            SCOPED_TRACE(testing::Message() << a << " -> " << b << " q" << q);
            auto in = SineInput(1, 3000, a, a / 20.0);
            ASSERT_EQ(in->SetBufferFrames(64), noErr);
            ProcTestFile out(1, 32, b);
            ASSERT_EQ(out.SetBufferFrames(64), noErr);
            ResampleSettings s = Settings(b, q);
            ASSERT_EQ(SRCPass(in.get(), &out, s), 0);
            EXPECT_NEAR(double(out.GetNumFrames()), 3000.0 * b / a, 1.0);
            if (b / a < 1.0 / 50 || a / 20.0 > b / 2)
                continue;
            EXPECT_NEAR(Amplitude(Channel(out, 0), out.GetNumFrames() / 5), 0.5, q ? 0.01 : 0.05);
        }
    }
    for (auto [a, b] : {std::pair{1.0, 192000.0}, std::pair{44100.0, 0.0}, std::pair{0.0, 44100.0},
                        std::pair{44100.0, std::nan("")}}) {
        auto in = SineInput(1, 100, a, 10.0);
        ProcTestFile out(1, 32, 44100);
        ResampleSettings s = Settings(b);
        EXPECT_EQ(SRCPass(in.get(), &out, s), paramErr);
        EXPECT_EQ(out.GetNumFrames(), 0u);
    }
    // A range past the end of the file reads silence there.
    auto in = SineInput(1, 100, 44100, 440.0);
    ProcTestFile out(1, 32, 48000);
    ResampleSettings s = Settings(48000);
    ASSERT_EQ(SRCPassRangeLeft(in.get(), &out, 50, 5000, s), 0);
    const std::vector<double> y = Channel(out, 0);
    ASSERT_EQ(y.size(), std::size_t(std::lround(48000.0 / 44100.0 * 4950)));
    for (std::size_t i = 200; i < y.size(); ++i)
        ASSERT_EQ(y[i], 0.0);
}

namespace {

// --------------------------------------------------------------- quality
// What each quality achieves at the common rate pairs, measured with pure
// tones through the whole pass: the level of a 1 kHz tone, the ripple over
// the pass band (tones up to 0.9 of the lower Nyquist frequency), the
// spurious output beside a pass-band tone (images when upsampling, noise
// and distortion otherwise), the worst level of a tone above the new
// Nyquist frequency (up to 0.98 of the input's), and the level of a tone
// just above it (1.03 of the new Nyquist frequency), all in dB relative to
// the input tone.  The bounds are what the filter achieved when they were
// set, with a small margin (a stop band's lobes, met by a few tones, move
// by a dB or two with the rate a filter runs at): no change of the
// converters may do worse.
struct QualityFigures {
    double level, ripple, spurious, stop, edge;
};

struct QualityCase {
    double in, out;
    SInt16 quality;
    QualityFigures bound;
};

void PrintTo(const QualityCase& c, std::ostream* os) { *os << c.in << " -> " << c.out << " q" << c.quality; }

// The output of `frames` frames of a tone of `freq` Hz at amplitude 0.5.
std::vector<double> ResampledTone(const QualityCase& c, double freq, std::size_t frames)
{
    auto in = SineInput(1, UInt32(std::ceil(double(frames) * c.in / c.out)), c.in, freq);
    ProcTestFile out(1, 32, c.out);
    ResampleSettings s = Settings(c.out, c.quality);
    EXPECT_EQ(SRCPass(in.get(), &out, s), 0);
    return Channel(out, 0);
}

// The amplitude of the tone at `freq` and of what remains beside it, over
// the middle of the signal.
std::pair<double, double> ToneAndRest(const std::vector<double>& x, double rate, double freq, std::size_t skip)
{
    const ToneFit fit = FitTone(x, rate, freq, skip);
    std::vector<double> rest(x.size(), 0.0);
    for (std::size_t i = skip; i + skip < x.size(); ++i)
        rest[i] = x[i] - fit.s * std::sin(kTwoPi * freq * i / rate) - fit.c * std::cos(kTwoPi * freq * i / rate);
    return {fit.Amplitude(), Amplitude(rest, skip)};
}

QualityFigures MeasureQuality(const QualityCase& c)
{
    constexpr std::size_t kSkip = 600, kFrames = 8000 + 2 * kSkip;
    const double lowNyquist = std::min(c.in, c.out) / 2.0;
    QualityFigures f{};
    f.level = Db(FitAmplitude(ResampledTone(c, 1000.0, kFrames), c.out, 1000.0, kSkip) / 0.5);
    f.spurious = -400.0;
    for (double fraction : {0.02, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9}) {
        const double freq = fraction * lowNyquist;
        const auto [tone, rest] = ToneAndRest(ResampledTone(c, freq, kFrames), c.out, freq, kSkip);
        f.ripple = std::max(f.ripple, std::fabs(Db(tone / 0.5)));
        f.spurious = std::max(f.spurious, Db(std::max(rest, 1e-20) / 0.5));
    }
    f.stop = f.edge = -400.0;
    if (c.out < c.in) {
        const double top = 0.98 * c.in / 2.0, bottom = 1.1 * c.out / 2.0;
        for (int k = 0; k < 8; ++k) {
            const double freq = bottom + (top - bottom) * k / 7.0;
            f.stop = std::max(f.stop, Db(std::max(Amplitude(ResampledTone(c, freq, kFrames), kSkip), 1e-20) / 0.5));
        }
        f.edge = Db(std::max(Amplitude(ResampledTone(c, 1.03 * c.out / 2.0, kFrames), kSkip), 1e-20) / 0.5);
    }
    return f;
}

class ResamplingQuality : public testing::TestWithParam<QualityCase> {};

TEST_P(ResamplingQuality, NoWorseThanItsBounds)
{
    StopValueGuard guard;
    const QualityCase& c = GetParam();
    const QualityFigures f = MeasureQuality(c);
    const QualityFigures& b = c.bound;
    EXPECT_LE(std::fabs(f.level), std::fabs(b.level) + 0.001);
    EXPECT_LE(f.ripple, b.ripple + 0.001);
    // Below -150 dB is the arithmetic's floor, not the filter's.
    EXPECT_LE(f.spurious, std::max(b.spurious, -150.0) + 3.0);
    if (c.out < c.in) {
        EXPECT_LE(f.stop, b.stop + 2.0);
        EXPECT_LE(f.edge, b.edge + 1.0);
    }
}

// {in, out, quality, {level, ripple, spurious, stop, edge}}
const QualityCase kQualityCases[] = {
    {96000, 48000, 0, {0.0000, 0.0000, -183.3, 0.0, 0.0}},
    {96000, 48000, 1, {0.0000, 0.0000, -183.3, -129.7, -128.7}},
    {96000, 48000, 2, {0.0008, 0.0018, -184.0, -71.2, -14.9}},
    {96000, 48000, 3, {0.0000, 0.0000, -184.6, -112.5, -32.5}},
    {96000, 48000, 4, {0.0000, 0.0000, -183.3, -129.7, -128.7}},
    {96000, 44100, 0, {-0.0031, 1.2387, -23.6, -1.8, -1.6}},
    {96000, 44100, 1, {0.0000, 0.0000, -148.2, -129.0, -128.9}},
    {96000, 44100, 2, {-0.0001, 0.0018, -83.8, -72.8, -14.9}},
    {96000, 44100, 3, {0.0000, 0.0000, -124.7, -113.0, -32.5}},
    {96000, 44100, 4, {0.0000, 0.0000, -148.2, -129.0, -128.9}},
    {192000, 48000, 0, {0.0000, 0.0000, -183.3, 0.0, 0.0}},
    {192000, 48000, 1, {0.0000, 0.0000, -185.0, -129.3, -129.0}},
    {192000, 48000, 2, {0.0010, 0.0019, -184.7, -76.3, -14.9}},
    {192000, 48000, 3, {0.0000, 0.0000, -185.8, -120.3, -32.5}},
    {192000, 48000, 4, {0.0000, 0.0000, -185.0, -129.3, -129.0}},
    {48000, 44100, 0, {-0.0124, 5.1939, -11.0, -4.7, -4.7}},
    {48000, 44100, 1, {0.0000, 0.0000, -133.1, -121.9, -129.3}},
    {48000, 44100, 2, {-0.0020, 0.0030, -68.9, -38.9, -14.9}},
    {48000, 44100, 3, {0.0000, 0.0000, -111.0, -101.9, -32.5}},
    {48000, 44100, 4, {0.0000, 0.0000, -133.1, -121.9, -129.3}},
    {44100, 48000, 0, {-0.0147, 6.2299, -9.5, 0.0, 0.0}},
    {44100, 48000, 1, {0.0000, 0.0000, -126.5, 0.0, 0.0}},
    {44100, 48000, 2, {-0.0021, 0.0031, -68.9, 0.0, 0.0}},
    {44100, 48000, 3, {0.0000, 0.0000, -110.0, 0.0, 0.0}},
    {44100, 48000, 4, {0.0000, 0.0000, -126.5, 0.0, 0.0}},
    {48000, 96000, 0, {-0.0093, 4.7582, -7.5, 0.0, 0.0}},
    {48000, 96000, 1, {0.0000, 0.0000, -127.0, 0.0, 0.0}},
    {48000, 96000, 2, {-0.0016, 0.0029, -69.6, 0.0, 0.0}},
    {48000, 96000, 3, {0.0000, 0.0000, -110.6, 0.0, 0.0}},
    {48000, 96000, 4, {0.0000, 0.0000, -127.0, 0.0, 0.0}},
    {88200, 48000, 0, {-0.0037, 1.7499, -20.5, -2.5, -2.2}},
    {88200, 48000, 1, {0.0000, 0.0000, -145.4, -128.5, -129.3}},
    {88200, 48000, 2, {-0.0005, 0.0022, -81.8, -70.3, -14.9}},
    {88200, 48000, 3, {0.0000, 0.0000, -122.7, -111.1, -32.5}},
    {88200, 48000, 4, {0.0000, 0.0000, -145.4, -128.5, -129.3}},
    {176400, 48000, 0, {-0.0009, 0.4315, -33.0, -0.6, -0.6}},
    {176400, 48000, 1, {0.0000, 0.0000, -156.7, -129.5, -128.8}},
    {176400, 48000, 2, {0.0006, 0.0018, -92.4, -78.4, -14.9}},
    {176400, 48000, 3, {0.0000, 0.0000, -133.3, -116.8, -32.5}},
    {176400, 48000, 4, {0.0000, 0.0000, -156.7, -129.5, -128.8}},
    {192000, 44100, 0, {-0.0008, 0.3063, -35.9, -0.5, -0.4}},
    {192000, 44100, 1, {0.0000, 0.0000, -155.2, -129.7, -128.7}},
    {192000, 44100, 2, {0.0007, 0.0018, -94.0, -77.7, -14.9}},
    {192000, 44100, 3, {0.0000, 0.0000, -137.3, -120.1, -32.5}},
    {192000, 44100, 4, {0.0000, 0.0000, -155.2, -129.7, -128.7}},
    {22050, 96000, 3, {0.0000, 0.0000, -110.0, 0.0, 0.0}},
    {22050, 96000, 4, {0.0000, 0.0000, -126.5, 0.0, 0.0}},
};

INSTANTIATE_TEST_SUITE_P(Pairs, ResamplingQuality, testing::ValuesIn(kQualityCases),
                         [](const testing::TestParamInfo<QualityCase>& info) {
                             const QualityCase& c = info.param;
                             return "From" + std::to_string(long(c.in)) + "To" + std::to_string(long(c.out)) + "Q" +
                                    std::to_string(c.quality);
                         });

} // namespace
