// Peak scan and silence finder: peak scales per word size, the treatment
// paths, thresholds and margins of the silence finder, region spans of the
// pre-scan, the decision table, cancel and empty files.
#include "ProcTestFile.h"
#include "ProcTestSupport.h"
#include "peak_scan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

std::unique_ptr<ProcTestFile> File(UInt16 channels, SInt16 bits, const std::vector<SInt32>& samples,
                                   double rate = 44100.0, SInt16 state = 0)
{
    auto f = std::make_unique<ProcTestFile>(channels, bits, rate, state);
    f->SetSamples(samples);
    return f;
}

std::vector<std::pair<UInt32, UInt32>> Pairs(const CSoundFile& f)
{
    std::vector<std::pair<UInt32, UInt32>> pairs;
    UInt32 a = 0;
    UInt32 b = 0;
    for (UInt16 i = 0; f.GetSplitPair(i, &a, &b) == 0; ++i)
        pairs.emplace_back(a, b);
    return pairs;
}

double PeakOf(CSoundFile& f, SInt16 treatment = 0)
{
    ScanSettings s;
    s.channelTreat = treatment;
    EXPECT_EQ(ScanPeaks(&f, s), 0);
    EXPECT_TRUE(s.hasValidMax);
    return s.max;
}

using PairList = std::vector<std::pair<UInt32, UInt32>>;

} // namespace

TEST(PeakScan, PeakScalesAndPaths)
{
    StopValueGuard guard;
    EXPECT_EQ(PeakOf(*File(1, 16, {5, -32768, 100})), 32768 * 3.051758e-05);
    EXPECT_EQ(PeakOf(*File(1, 8, {5, -100, 127})), 127 * 0.0078125);
    EXPECT_EQ(PeakOf(*File(1, 32, {5, INT32_MIN, 100})), 2147483648.0 * 4.65661287308e-10);
    EXPECT_NEAR(PeakOf(*File(1, 24, {5, -4194304, 100})), 0.5, 1e-12);
    // 32-bit words with 24-bit samples in their low bytes.
    EXPECT_NEAR(PeakOf(*File(1, 32, {0x00C00000, 5}, 44100.0, 146)), 0.5, 1e-9);
    // Mix: |left + right| of a frame, up to twice full scale.
    auto mix = File(2, 16, {30000, 30000, -100, 200});
    EXPECT_NEAR(PeakOf(*mix, 3), 60000 * 3.051758e-05, 1e-12);
    EXPECT_NEAR(PeakOf(*File(2, 24, {4194304, 4194304, 0, 0}), 3), 1.0, 1e-12);
    // Left only reads channel 0, right only channel 1; mono input all.
    auto lr = File(2, 16, {1000, -20000, 3000, 50});
    EXPECT_NEAR(PeakOf(*lr, 4), 3000 * 3.051758e-05, 1e-12);
    EXPECT_NEAR(PeakOf(*lr, 5), 20000 * 3.051758e-05, 1e-12);
    EXPECT_NEAR(PeakOf(*lr, 6), 20000 * 3.051758e-05, 1e-12);
    EXPECT_NEAR(PeakOf(*File(1, 16, {1000, -2000}), 5), 2000 * 3.051758e-05, 1e-12);
    // The 16-bit average level of the all-samples path.
    auto avg = File(1, 16, {32767, 0, 0, 32767});
    PeakOf(*avg);
    EXPECT_NEAR(avg->GetAverageLevel(), 0.5, 1e-12);
    // ScanPeakRange only raises the peak.
    ScanSettings s;
    s.max = 0.9;
    ASSERT_EQ(ScanPeakRange(avg.get(), 1, 3, s), 0);
    EXPECT_EQ(s.max, 0.9);
}

TEST(PeakScan, PreScanOfRegionSpans)
{
    StopValueGuard guard;
    // 44100 Hz, strip on: one second of margin around each span.
    std::vector<SInt32> samples(200000, 0);
    auto f = File(1, 16, {});
    SFTRegion r;
    r.start = 100;
    r.end = 1100;
    samples[1100 + 44100 - 1] = 20000;  // last frame of the widened span
    samples[1100 + 44100] = 30000;      // just past it
    samples[0] = 1000;
    f->SetSamples(samples);
    ASSERT_EQ(f->AddRegion(&r), 0);
    ScanSettings s;
    s.needsStrip = true;
    ASSERT_EQ(ScanPeaks(f.get(), s), 0);
    EXPECT_NEAR(s.max, 20000 * 3.051758e-05, 1e-12);
    EXPECT_EQ(f->readFrames.front(), 0u);
    // A second region two seconds after the first merges into one span.
    SFTRegion r2;
    r2.start = 1100 + 88200;
    r2.end = r2.start + 10;
    ASSERT_EQ(f->AddRegion(&r2), 0);
    ScanSettings t;
    t.needsStrip = true;
    ASSERT_EQ(ScanPeaks(f.get(), t), 0);
    EXPECT_NEAR(t.max, 30000 * 3.051758e-05, 1e-12);
    // Extraction alone: no margin.
    ScanSettings e;
    e.needsExtraction = true;
    ASSERT_EQ(ScanPeaks(f.get(), e), 0);
    EXPECT_EQ(e.max, 0.0);
}

TEST(PeakScan, SilenceFinderThresholdsAndMargins)
{
    StopValueGuard guard;
    ScanSettings s;  // -30 dB, 0.2 s
    EXPECT_EQ(std::trunc(DecibelsToGain(-30.0) * 32767.0), 1036.0);
    const UInt32 N = 40000;
    // Sound, a quiet stretch [10000, 25000) of 1035s, sound again.
    std::vector<SInt32> samples(N, 1036);
    for (UInt32 i = 10000; i < 25000; ++i)
        samples[i] = (i & 1) ? 1035 : -1035;
    auto f = File(1, 16, samples);
    ASSERT_EQ(FindSilenceSplits(f.get(), s), 0);
    EXPECT_EQ(Pairs(*f), (PairList{{10000 + 1323, 25000 - 1323}}));
    // Too short once the margins are off: 8820 + 2 x 1323 frames exactly.
    std::vector<SInt32> shortGap(N, 2000);
    for (UInt32 i = 10000; i < 10000 + 8820 + 2646; ++i)
        shortGap[i] = 0;
    auto g = File(1, 16, shortGap);
    ASSERT_EQ(FindSilenceSplits(g.get(), s), 0);
    EXPECT_TRUE(Pairs(*g).empty());
    shortGap[10000 + 8820 + 2646] = 0;
    auto g2 = File(1, 16, shortGap);
    ASSERT_EQ(FindSilenceSplits(g2.get(), s), 0);
    EXPECT_EQ(Pairs(*g2).size(), 1u);
    // Quiet at the start and at the end; one loud sample in one channel
    // ends a stretch.
    std::vector<SInt32> st(2 * N, 0);
    for (UInt32 i = 15000; i < 16000; ++i)
        st[2 * i] = 5000;
    st[2 * 30000 + 1] = -5000;
    auto h = File(2, 16, st);
    ASSERT_EQ(FindSilenceSplits(h.get(), s), 0);
    // (The quiet right channel of the last loud frame starts the silence.)
    EXPECT_EQ(Pairs(*h), (PairList{{0, 15000 - 1323}, {15999 + 1323, 30000 - 1323}}));
    // Entirely quiet: one pair from the lead margin to the end.
    auto q = File(1, 16, std::vector<SInt32>(N, 0));
    ASSERT_EQ(FindSilenceSplits(q.get(), s), 0);
    EXPECT_EQ(Pairs(*q), (PairList{{1323, N}}));
    // The silence finder examines both channels even for left only, and the
    // mix compares the frame sum with twice the threshold.
    std::vector<SInt32> lr(2 * N, 0);
    for (UInt32 i = 0; i < N; ++i)
        lr[2 * i + 1] = 3000;
    auto l = File(2, 16, lr);
    ScanSettings left;
    left.channelTreat = 4;
    ASSERT_EQ(FindSilenceSplitsAndPeak(l.get(), left), 0);
    EXPECT_TRUE(Pairs(*l).empty());
    EXPECT_NEAR(left.max, 3000 * 3.051758e-05, 1e-12);
    EXPECT_TRUE(left.hasValidMax);
    std::vector<SInt32> sum(2 * N, 1000);  // 2000 per frame < 2 x 1036
    auto m = File(2, 16, sum);
    ScanSettings mix;
    mix.channelTreat = 3;
    ASSERT_EQ(FindSilenceSplits(m.get(), mix), 0);
    EXPECT_EQ(Pairs(*m), (PairList{{1323, N}}));
    // 24-bit samples against the left-justified threshold; a threshold
    // above full scale still works in the mix's doubled form.
    auto d = File(1, 24, std::vector<SInt32>(N, 8388607 / 2));
    ScanSettings loud;
    loud.gateThreshold = 0.0;
    ASSERT_EQ(FindSilenceSplits(d.get(), loud), 0);
    EXPECT_EQ(Pairs(*d), (PairList{{1323, N}}));
    auto d2 = File(2, 32, std::vector<SInt32>(2 * N, INT32_MAX));
    ScanSettings mix32;
    mix32.channelTreat = 3;
    mix32.gateThreshold = 3.0;
    ASSERT_EQ(FindSilenceSplits(d2.get(), mix32), 0);
    EXPECT_EQ(Pairs(*d2), (PairList{{1323, N}}));
}

TEST(PeakScan, DecisionsCancelAndEmptyFiles)
{
    StopValueGuard guard;
    auto f = File(1, 16, std::vector<SInt32>(50000, 100));
    ScanSettings none;
    none.needsNormalize = true;
    none.hasValidMax = true;
    none.max = 0.5;
    EXPECT_EQ(ProcessGateAndNormalize(f.get(), none), 0);
    ScanSettings off;
    EXPECT_EQ(ProcessGateAndNormalize(f.get(), off), 0);
    EXPECT_EQ(f->readBlockCalls, 0);
    EXPECT_EQ(none.max, 0.5);
    // Gate with a valid peak: pairs, the peak kept.
    ScanSettings gate;
    gate.needsGate = true;
    gate.needsNormalize = true;
    gate.hasValidMax = true;
    gate.max = 0.7;
    EXPECT_EQ(ProcessGateAndNormalize(f.get(), gate), 0);
    EXPECT_EQ(gate.max, 0.7);
    EXPECT_EQ(Pairs(*f).size(), 1u);
    ScanSettings both;
    both.needsGate = true;
    both.needsNormalize = true;
    EXPECT_EQ(ProcessGateAndNormalize(f.get(), both), 0);
    EXPECT_NEAR(both.max, 100 * 3.051758e-05, 1e-12);
    EXPECT_TRUE(both.hasValidMax);

    // A cancel: the code, a peak of 1.0 and a valid flag.
    PositionRecorder rec;
    ThreadDictionary::current().setLastError(-128);
    ScanSettings scan;
    scan.needsNormalize = true;
    EXPECT_EQ(ProcessGateAndNormalize(f.get(), scan), -128);
    EXPECT_EQ(scan.max, 1.0);
    EXPECT_TRUE(scan.hasValidMax);
    ScanSettings sp;
    EXPECT_EQ(FindSilenceSplitsAndPeak(f.get(), sp), -128);
    EXPECT_EQ(sp.max, 1.0);
    ThreadDictionary::current().clearLastError();
    // A read failure in the second block.
    auto bad = File(1, 16, std::vector<SInt32>(50000, 100));
    bad->failReadAt = 1;
    ScanSettings rs;
    EXPECT_EQ(ScanPeaks(bad.get(), rs), -36);
    EXPECT_EQ(rs.max, 1.0);
    EXPECT_EQ(bad->readFrames, (std::vector<UInt32>{0, 12288}));

    // Empty input: nothing appended, a valid peak of 0.
    auto empty = File(2, 16, {});
    ScanSettings es;
    EXPECT_EQ(FindSilenceSplitsAndPeak(empty.get(), es), 0);
    EXPECT_TRUE(Pairs(*empty).empty());
    EXPECT_EQ(es.max, 0.0);
    EXPECT_TRUE(es.hasValidMax);
    EXPECT_EQ(PeakOf(*empty), 0.0);
    EXPECT_EQ(empty->GetAverageLevel(), 0.0);
}
