// The whole-file, range and strip walks of the copy, the carried extras,
// progress posts, cancel and failures.
#include "ProcTestFile.h"
#include "ProcTestSupport.h"
#include "region_walk.h"
#include "sample_format_copy.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

namespace {

// A mono 32-bit input whose every sample is its own frame number, so an
// output shows which input frames it holds.
std::unique_ptr<ProcTestFile> CountingInput(UInt32 frames, double rate = 44100.0)
{
    auto in = std::make_unique<ProcTestFile>(1, 32, rate);
    std::vector<SInt32> samples(frames);
    std::iota(samples.begin(), samples.end(), 0);
    in->SetSamples(samples);
    return in;
}

void AddRegion(CSoundFile& file, UInt32 start, UInt32 end, UInt32 sync = 0, const char* name = "r")
{
    SFTRegion r;
    r.start = start;
    r.end = end;
    r.syncFrame = sync;
    r.name[0] = UInt8(std::strlen(name));
    std::memcpy(r.name + 1, name, r.name[0]);
    ASSERT_EQ(file.AddRegion(&r), noErr);
}

// The input frames an output of CountingInput holds, as [a, b) runs.
std::vector<std::pair<SInt32, SInt32>> Runs(const ProcTestFile& out)
{
    std::vector<std::pair<SInt32, SInt32>> runs;
    for (SInt32 v : out.Samples()) {
        if (!runs.empty() && runs.back().second == v)
            ++runs.back().second;
        else
            runs.emplace_back(v, v + 1);
    }
    return runs;
}

using Runs_t = std::vector<std::pair<SInt32, SInt32>>;

SampleCopySettings Strip()
{
    SampleCopySettings s;
    s.needsStrip = true;
    return s;
}

} // namespace

TEST(CopyWalks, AllAndRangeStartAtOutputFrameZero)
{
    StopValueGuard guard;
    PositionRecorder posts;
    auto in = CountingInput(30000);
    ProcTestFile all(1, 32), range(1, 32);
    ASSERT_EQ(ConvertSampleFormatAll(in.get(), &all, SampleCopySettings()), 0);
    EXPECT_EQ(all.data, in->data);
    EXPECT_EQ(posts.positions, (std::vector<int64_t>{12288, 24576, 30000}));
    posts.positions.clear();
    ASSERT_EQ(ConvertSampleFormatRange(in.get(), &range, 100, 200, SampleCopySettings()), 0);
    EXPECT_EQ(Runs(range), (Runs_t{{100, 200}}));
    EXPECT_EQ(posts.positions, (std::vector<int64_t>{200}));
}

// The input's read buffer bounds the block, whatever the output takes.
TEST(CopyWalks, BlocksNeverExceedTheInputsReadBuffer)
{
    StopValueGuard guard;
    auto in = CountingInput(10);
    ASSERT_EQ(in->SetBufferFrames(3), noErr);
    ProcTestFile out(1, 16);
    ASSERT_EQ(out.SetBufferFrames(100), noErr);
    ASSERT_EQ(ConvertSampleFormatAll(in.get(), &out, SampleCopySettings()), 0);
    EXPECT_EQ(in->readFrames, (std::vector<UInt32>{0, 3, 6, 9}));
    EXPECT_EQ(out.writes, (std::vector<std::pair<UInt32, UInt32>>{{0, 3}, {3, 3}, {6, 3}, {9, 1}}));
}

TEST(CopyWalks, EmptyRangeCopiesNothingButCarriesExtras)
{
    StopValueGuard guard;
    PositionRecorder posts;
    auto in = CountingInput(100);
    SFTMarker m;
    m.pos = 40;
    ASSERT_EQ(in->AddMarker(&m), noErr);
    ProcTestFile out(1, 32);
    SampleCopySettings s;
    s.copyExtras = true;
    UInt32 pos = 7;
    ASSERT_EQ(ConvertSampleFormat(in.get(), &out, 40, 40, &pos, s), 0);
    EXPECT_EQ(pos, 7u);
    EXPECT_EQ(in->readBlockCalls, 0);
    EXPECT_EQ(out.writeBlockCalls, 0);
    EXPECT_TRUE(posts.positions.empty());
    ASSERT_EQ(out.GetNumMarkers(), 1);
    SFTMarker got;
    ASSERT_EQ(out.GetMarker(0, &got), noErr);
    EXPECT_EQ(got.pos, 7u);
}

// One strip walk over a counting input: its regions and the input frames
// the output holds.
struct StripCase {
    const char* name;
    UInt32 frames;
    double rate;
    std::vector<std::pair<UInt32, UInt32>> regions;
    Runs_t expected;
    UInt32 secondWriteAt = 0;  // where the second block is written (0: not checked)
};

class StripWalk : public ::testing::TestWithParam<StripCase> { };

TEST_P(StripWalk, KeepsTheRegionsWithTheirMargins)
{
    StopValueGuard guard;
    const StripCase& c = GetParam();
    auto in = CountingInput(c.frames, c.rate);
    for (const auto& [start, end] : c.regions)
        AddRegion(*in, start, end);
    ProcTestFile out(1, 32, c.rate);
    ASSERT_EQ(ConvertSampleFormatStrip(in.get(), &out, Strip()), 0);
    EXPECT_EQ(Runs(out), c.expected);
    EXPECT_EQ(out.GetNumFrames(), UInt32(out.Samples().size()));
    if (c.secondWriteAt) {
        ASSERT_EQ(out.writes.size(), 2u);
        EXPECT_EQ(out.writes[1].first, c.secondWriteAt);
    }
}

// Blocks within two margins (44 frames at 44100 Hz) merge; the margin
// follows the output's rate; the file's ends clip; no regions write
// nothing.  Regions of zero length, inverted ones and ones past the end
// never stall the walk; a zero-length region never hides a real one at the
// same start.
INSTANTIATE_TEST_SUITE_P(CopyWalks, StripWalk,
    ::testing::Values(StripCase{"Merged", 10000, 44100.0, {{1000, 2000}, {2050, 3000}}, {{956, 3044}}},
        StripCase{"Apart", 10000, 44100.0, {{1000, 2000}, {2100, 3000}}, {{956, 2044}, {2056, 3044}}, 1088},
        StripCase{"TwoMarginsTouchingOverlapping", 10000, 44100.0,
            {{1000, 2000}, {2088, 2500}, {2500, 2600}, {2550, 3000}}, {{956, 3044}}},
        StripCase{"MarginAt8000Hz", 1000, 8000.0, {{100, 200}, {300, 400}}, {{92, 208}, {292, 408}}},
        StripCase{"ClippedAtBothEnds", 5000, 44100.0, {{10, 100}, {4000, 4995}}, {{0, 144}, {3956, 5000}}},
        StripCase{"WholeFile", 500, 44100.0, {{0, 500}}, {{0, 500}}}, StripCase{"NoRegions", 500, 44100.0, {}, {}},
        StripCase{"ZeroLengthAtABlockEndAndAlone", 10000, 44100.0, {{1000, 2000}, {2000, 2000}, {5000, 5000}},
            {{956, 2044}, {4956, 5044}}},
        StripCase{
            "ZeroLengthBeforeARealOne", 10000, 44100.0, {{3000, 3000}, {3000, 4000}, {3500, 4500}}, {{2956, 4544}}},
        StripCase{"InvertedAndPastTheEnd", 10000, 44100.0, {{1000, 2000}, {6000, 5500}, {20000, 30000}},
            {{956, 2044}, {5956, 6044}}}),
    [](const ::testing::TestParamInfo<StripCase>& info) { return std::string(info.param.name); });

// The walk's parameters: where it starts and where it goes on.
TEST(CopyWalks, RegionWalkParameters)
{
    auto in = CountingInput(10000);
    AddRegion(*in, 100, 200);
    AddRegion(*in, 300, 400);
    std::vector<std::pair<UInt32, UInt32>> spans;
    auto record = [&](UInt32 a, UInt32 b) {
        spans.emplace_back(a, b);
        return SInt32(0);
    };
    RegionWalkParams p;
    p.firstSearch = 0;
    p.margin = 0;
    p.nextSearchOffset = 0;
    ASSERT_EQ(WalkRegionSpans(in.get(), p, record), 0);
    EXPECT_EQ(spans, (std::vector<std::pair<UInt32, UInt32>>{{100, 200}, {300, 400}}));
    spans.clear();
    p.margin = 50;
    ASSERT_EQ(WalkRegionSpans(in.get(), p, record), 0);
    EXPECT_EQ(spans, (std::vector<std::pair<UInt32, UInt32>>{{50, 450}}));
    // A span's failure ends the walk with its code.
    spans.clear();
    p.margin = 0;
    EXPECT_EQ(WalkRegionSpans(in.get(), p, [&](UInt32 a, UInt32 b) { return SInt32(-36); }), -36);
    EXPECT_EQ(MarginFrames(0.001, 44100.0), 44u);
    EXPECT_EQ(MarginFrames(1.0, -5.0), 0u);
}

TEST(CopyWalks, StripCarriesExtrasToTheirCompactedPlaces)
{
    StopValueGuard guard;
    auto in = CountingInput(10000);
    AddRegion(*in, 1000, 2000, 1500, "one");
    AddRegion(*in, 5000, 6000, 5100, "two");
    SFTMarker inGap;
    inGap.markerID = 1;
    inGap.pos = 3000;
    SFTMarker inSecond;
    inSecond.markerID = 2;
    inSecond.pos = 5500;
    ASSERT_EQ(in->AddMarker(&inGap), noErr);
    ASSERT_EQ(in->AddMarker(&inSecond), noErr);
    ProcTestFile out(1, 32);
    SampleCopySettings s = Strip();
    s.copyExtras = true;
    ASSERT_EQ(ConvertSampleFormatStrip(in.get(), &out, s), 0);
    // Spans [956, 2044) at 0 and [4956, 6044) at 1088.
    ASSERT_EQ(out.GetNumRegions(), 2);
    SFTRegion r;
    ASSERT_EQ(out.GetRegion(0, &r), noErr);
    EXPECT_EQ(r.start, 44u);
    EXPECT_EQ(r.end, 1044u);
    EXPECT_EQ(r.syncFrame, 544u);
    ASSERT_EQ(out.GetRegion(1, &r), noErr);
    EXPECT_EQ(r.start, 1088u + 44u);
    EXPECT_EQ(r.end, 1088u + 1044u);
    ASSERT_EQ(out.GetNumMarkers(), 1);
    SFTMarker m;
    ASSERT_EQ(out.GetMarker(0, &m), noErr);
    EXPECT_EQ(m.pos, 1088u + 544u);
}

TEST(CopyWalks, ExtrasOfARange)
{
    StopValueGuard guard;
    auto in = CountingInput(10000);
    SFTLoop kept;
    kept.start = 1000;
    kept.end = 5000;
    SFTLoop dropped;
    dropped.start = 900;
    dropped.end = 1200;
    ASSERT_EQ(in->AddLoop(&kept), noErr);
    ASSERT_EQ(in->AddLoop(&dropped), noErr);
    AddRegion(*in, 2000, 3000, 500);  // sync frame outside the region
    AddRegion(*in, 4000, 6000);       // reaches past the range: dropped
    SFTMarker atEnd;
    atEnd.pos = 5000;
    SFTMarker past;
    past.markerID = 9;
    past.pos = 5001;
    ASSERT_EQ(in->AddMarker(&atEnd), noErr);
    ASSERT_EQ(in->AddMarker(&past), noErr);
    SFTSamplerInfo sampler;
    sampler.baseNote = 48;
    sampler.valid = 1;
    ASSERT_EQ(in->SetSamplerInfo(&sampler), noErr);
    in->SetTimeStampValue(1000000);

    ProcTestFile out(1, 32);
    SampleCopySettings s;
    s.copyExtras = true;
    ASSERT_EQ(ConvertSampleFormatRange(in.get(), &out, 1000, 5000, s), 0);
    ASSERT_EQ(out.GetNumLoops(), 1);
    SFTLoop loop;
    ASSERT_EQ(out.GetLoop(0, &loop), noErr);
    EXPECT_EQ(loop.start, 0u);
    EXPECT_EQ(loop.end, 4000u);
    ASSERT_EQ(out.GetNumRegions(), 1);
    SFTRegion region;
    ASSERT_EQ(out.GetRegion(0, &region), noErr);
    EXPECT_EQ(region.start, 1000u);
    EXPECT_EQ(region.end, 2000u);
    EXPECT_EQ(region.syncFrame, UInt32(500 - 1000));
    ASSERT_EQ(out.GetNumMarkers(), 1);
    SFTMarker m;
    ASSERT_EQ(out.GetMarker(0, &m), noErr);
    EXPECT_EQ(m.pos, 4000u);
    SFTSamplerInfo got;
    ASSERT_EQ(out.GetSamplerInfo(&got), noErr);
    EXPECT_EQ(got.baseNote, 48);
    // The output starts 1000 frames after the input: so does its time stamp.
    ASSERT_TRUE(out.HasTimeStamp());
    EXPECT_EQ(out.GetTimeStamp64(), 1001000u);

    // Nothing when extras are off or the output already took them.
    ProcTestFile off(1, 32);
    ASSERT_EQ(ConvertSampleFormatRange(in.get(), &off, 1000, 5000, SampleCopySettings()), 0);
    EXPECT_EQ(off.GetNumLoops() + off.GetNumRegions() + off.GetNumMarkers(), 0);
    EXPECT_FALSE(off.HasTimeStamp());
    ProcTestFile done(1, 32);
    done.SetOneChannelDone(true);
    ASSERT_EQ(ConvertSampleFormatRange(in.get(), &done, 1000, 5000, s), 0);
    EXPECT_EQ(done.GetNumLoops() + done.GetNumRegions() + done.GetNumMarkers(), 0);
}

namespace {
class LoopRefusingFile : public ProcTestFile {
public:
    using ProcTestFile::ProcTestFile;
    OSErr AddLoop(const SFTLoop*) override { return -22001; }
};
} // namespace

TEST(CopyWalks, AFailingListSkipsTheRestButNotTheTimeStamp)
{
    StopValueGuard guard;
    auto in = CountingInput(100);
    SFTLoop loop;
    loop.start = 10;
    loop.end = 20;
    ASSERT_EQ(in->AddLoop(&loop), noErr);
    AddRegion(*in, 10, 20);
    SFTSamplerInfo sampler;
    sampler.valid = 1;
    ASSERT_EQ(in->SetSamplerInfo(&sampler), noErr);
    in->SetTimeStampValue(77);
    LoopRefusingFile out(1, 32);
    SampleCopySettings s;
    s.copyExtras = true;
    EXPECT_EQ(ConvertSampleFormatAll(in.get(), &out, s), -22001);
    EXPECT_EQ(out.GetNumRegions(), 0);
    SFTSamplerInfo got;
    EXPECT_EQ(out.GetSamplerInfo(&got), kNoValidSamplerInfoErr);
    EXPECT_TRUE(out.HasTimeStamp());
    EXPECT_EQ(out.GetTimeStamp64(), 77u);
}

TEST(CopyWalks, CancelStopsAfterTheBlockJustWritten)
{
    StopValueGuard guard;
    PositionRecorder posts;
    auto in = CountingInput(1000);
    ASSERT_EQ(in->SetBufferFrames(100), noErr);
    AddRegion(*in, 0, 50);
    ProcTestFile out(1, 32);
    SampleCopySettings s;
    s.copyExtras = true;
    ThreadDictionary::current().setLastError(-128);
    EXPECT_EQ(ConvertSampleFormatAll(in.get(), &out, s), -128);
    EXPECT_EQ(out.writes, (std::vector<std::pair<UInt32, UInt32>>{{0, 100}}));
    EXPECT_EQ(posts.positions, (std::vector<int64_t>{100}));
    EXPECT_EQ(out.GetNumRegions(), 0) << "no extras after a cancel";

    // The strip walk stops with it too.
    ProcTestFile strip(1, 32);
    EXPECT_EQ(ConvertSampleFormatStrip(in.get(), &strip, Strip()), -128);
    EXPECT_EQ(strip.writeBlockCalls, 1);
}

TEST(CopyWalks, ReadAndWriteFailuresEndTheCopy)
{
    StopValueGuard guard;
    auto in = CountingInput(1000);
    ASSERT_EQ(in->SetBufferFrames(100), noErr);
    AddRegion(*in, 0, 50);
    SampleCopySettings s;
    s.copyExtras = true;
    in->failReadAt = 2;
    ProcTestFile out(1, 16);
    EXPECT_EQ(ConvertSampleFormatAll(in.get(), &out, s), -36);
    EXPECT_EQ(out.writeBlockCalls, 2);
    EXPECT_EQ(out.GetNumRegions(), 0);

    in->failReadAt = -1;
    ProcTestFile full(1, 16);
    full.failWriteAt = 1;
    EXPECT_EQ(ConvertSampleFormatAll(in.get(), &full, s), -34);
    EXPECT_EQ(full.writeBlockCalls, 2);
    EXPECT_EQ(full.GetNumFrames(), 100u);

    // -22007 from a block counts as success.
    in->failReadAt = 0;
    in->readError = kNoValidSamplerInfoErr;
    ProcTestFile quiet(1, 16);
    EXPECT_EQ(ConvertSampleFormatAll(in.get(), &quiet, s), 0);
}
