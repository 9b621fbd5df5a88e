// The pipeline selector: every combination of a conversion's needs picks
// the instance of its treatment and stage set; impossible combinations and
// instances whose passes are missing refuse instead of succeeding.
#include "CConvSpec.h"
#include "ConvSpec.h"
#include "ConvTestFile.h"
#include "PipelineRoutes.h"
#include "PipelineSelector.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

#define ROW(T)                                                                                                \
    {                                                                                                         \
        &ConvertPlain<T>, &ConvertSRC<T>, &ConvertGain<T>, &ConvertSRCGain<T>, &ConvertCompact<T>,            \
            &ConvertCompactSRC<T>, &ConvertCompactGain<T>, &ConvertCompactSRCGain<T>, &ConvertExtract<T>,     \
            &ConvertExtractSRC<T>, &ConvertExtractGain<T>, &ConvertExtractSRCGain<T>                          \
    }
const PipelineFunc kExpected[7][12] = {ROW(NoChannelTreat), ROW(ForceInterleavedStereo), ROW(SplitChannels),
                                       ROW(MixToMono),      ROW(LeftOnly),               ROW(RightOnly),
                                       ROW(OnlyStereoToInterleaved)};
#undef ROW

ConvSpecRef Needs(bool src, bool gain, bool strip, bool extract, bool treat, int treatment, double rate = 44100.0)
{
    ConvSpecRef s = ConvSpec::create();
    s->setNeedsSampleRateConversion(src);
    s->setNeedsGain(gain);
    s->setNeedsStrip(strip);
    s->setNeedsExtraction(extract);
    s->setNeedsChannelTreat(treat);
    s->setChannelTreat(treatment);
    s->setSampleRate(rate);
    return s;
}

} // namespace

TEST(PipelineSelectorTest, EveryCombinationOfNeedsPicksItsInstance)
{
    std::set<PipelineFunc> distinct;
    for (int bits = 0; bits < 16; ++bits) {
        for (int treat = 0; treat < 2; ++treat) {
            for (int t = 0; t < 7; ++t) {
                const bool src = bits & 1, gain = bits & 2, strip = bits & 4, extract = bits & 8;
                CConvSpec spec(Needs(src, gain, strip, extract, treat, t, 48000.0));
                const int index = ComputePipelineIndex(spec, 44100.0);
                const int treatment = treat ? t : 0;
                ASSERT_EQ(index, 16 * treatment + bits);
                if (strip && extract) {
                    EXPECT_FALSE(IsValidPipelineIndex(index));
                    EXPECT_EQ(GetPipelineInstance(index), nullptr);
                    continue;
                }
                EXPECT_EQ(GetPipelineInstance(index), kExpected[treatment][bits]) << index;
                distinct.insert(GetPipelineInstance(index));
            }
        }
    }
    EXPECT_EQ(distinct.size(), 84u);
    EXPECT_STREQ(GetPipelineInstanceName(86), "ConvertCompactGain<RightOnly>");
    EXPECT_STREQ(GetPipelineInstanceName(107), "ConvertExtractSRCGain<OnlyStereoToInterleaved>");
    EXPECT_STREQ(GetPipelineInstanceName(0), "ConvertPlain<NoChannelTreat>");
    EXPECT_STREQ(GetPipelineInstanceName(108), "");
}

TEST(PipelineSelectorTest, TargetRateAlreadyReachedDropsTheRateStage)
{
    CConvSpec plain(Needs(true, false, false, false, false, 0));
    EXPECT_EQ(ComputePipelineIndex(plain, 44100.0), 0);
    EXPECT_EQ(ComputePipelineIndex(plain, 44100.5), 1);
    CConvSpec gain(Needs(true, true, false, false, false, 0));
    EXPECT_EQ(ComputePipelineIndex(gain, 44100.0), 2);
    // The treatment's value counts only when treatment is asked for.
    CConvSpec off(Needs(false, false, false, false, false, 3));
    EXPECT_EQ(ComputePipelineIndex(off, 44100.0), 0);
    CConvSpec top(Needs(true, true, false, true, true, 6, 22050.0));
    EXPECT_EQ(ComputePipelineIndex(top, 44100.0), 107);
}

TEST(PipelineSelectorTest, ImpossibleConversionsRefuseWithMinus50)
{
    ConvTestFile in(FOUR_CHAR_CODE("AIFF"), 2, 16, 44100.0, 1000);
    // Treatments with no pipeline (old records bring 7 and 8), negative ones
    // and ones that would wrap a 16-bit index back into the table.
    for (int t : {7, 8, -1, -16, 4096, 4097, 0x10000}) {
        ConvSpecRef s = Needs(false, false, false, false, true, t);
        s->setHasValidMax(true);
        CConvSpec spec(s);
        EXPECT_FALSE(IsValidPipelineIndex(ComputePipelineIndex(spec, 44100.0))) << t;
        EXPECT_EQ(spec.Run(&in), -50) << t;
        EXPECT_FALSE(s->hasValidMax());
    }
    for (int t = 0; t < 7; ++t) {
        CConvSpec spec(Needs(false, true, true, true, true, t));
        EXPECT_EQ(spec.Run(&in), -50);
    }
    CConvSpec spec(Needs(false, false, false, false, false, 0));
    EXPECT_EQ(SelectAndRunPipeline(nullptr, &spec), -50);
}

TEST(PipelineSelectorTest, InstancesWithoutTheirPassesNeverReportSuccess)
{
    for (int index = 0; index <= kMaxPipelineIndex; ++index) {
        const PipelineFunc pipeline = GetPipelineInstance(index);
        if (!pipeline)
            continue;
        const int stage = index % 16;
        for (SInt32 kind = 0; kind <= 6; ++kind) {
            ConvTestFile in(FOUR_CHAR_CODE("AIFF"), kind == 1 ? 1 : 2, 16, 44100.0, 1000, kind);
            in.AddTestRegion(10, 20);
            CConvSpec spec(Needs(stage & 1, stage & 2, stage & 4, stage & 8, true, index / 16));
            SInt32 owner = 0;
            const PipelineRoute route = ResolvePipelineRoute(index / 16, kind, &owner);
            const SInt16 result = pipeline(&in, &spec);
            if (route.action == RouteAction::NoRoute)
                EXPECT_EQ(result, kIncompatibleChannelsErr) << GetPipelineInstanceName(index) << " kind " << kind;
            else if (!IsStageSetAvailable(stage))
                EXPECT_EQ(result, -50) << GetPipelineInstanceName(index) << " kind " << kind;
            else
                EXPECT_NE(result, 0) << "no input data, yet success: " << GetPipelineInstanceName(index);
        }
    }
}

TEST(PipelineRoutesTest, ChannelKindSwitch)
{
    SInt32 owner = -1;
    // Treatment 6 interleaves split and surround inputs (a pair as 1 does)
    // and leaves the rest as 0 does.
    PipelineRoute r = ResolvePipelineRoute(OnlyStereoToInterleaved, kChannelKindSplitStereo, &owner);
    EXPECT_EQ(owner, ForceInterleavedStereo);
    EXPECT_EQ(r.layout, OutputLayout::Kept);
    EXPECT_EQ(GetPipelineRoute(OnlyStereoToInterleaved, kChannelKindSurround).layout, OutputLayout::Kept);
    r = ResolvePipelineRoute(OnlyStereoToInterleaved, kChannelKindStereo, &owner);
    EXPECT_EQ(owner, NoChannelTreat);
    EXPECT_EQ(r.layout, OutputLayout::Kept);
    // Treatment 0 writes a surround set for split and surround inputs.
    EXPECT_EQ(GetPipelineRoute(NoChannelTreat, kChannelKindSplitStereo).layout, OutputLayout::SurroundSet);
    EXPECT_EQ(GetPipelineRoute(SplitChannels, kChannelKindMultichannel).layout, OutputLayout::SurroundSet);
    EXPECT_EQ(GetPipelineRoute(SplitChannels, kChannelKindStereo).layout, OutputLayout::SplitStereoSet);
    EXPECT_EQ(GetPipelineRoute(ForceInterleavedStereo, kChannelKindMono).pass, ChannelPass::MonoToStereo);
    // Stereo and the down-mixes take one or two channels: neither a
    // multichannel file nor a surround set.
    for (ChannelTreatment t : {ForceInterleavedStereo, MixToMono, LeftOnly, RightOnly}) {
        EXPECT_EQ(GetPipelineRoute(t, kChannelKindMultichannel).action, RouteAction::NoRoute);
        EXPECT_EQ(GetPipelineRoute(t, kChannelKindSurround).action, RouteAction::NoRoute);
        EXPECT_EQ(RouteChannelsPerFile(ResolvePipelineRoute(t, kChannelKindSplitStereo), 2), t == 1 ? 2 : 1);
    }
    EXPECT_EQ(GetPipelineRoute(RightOnly, kChannelKindStereo).pass, ChannelPass::Right);
    EXPECT_EQ(GetPipelineRoute(NoChannelTreat, 0).action, RouteAction::NoRoute);
    EXPECT_EQ(GetPipelineRoute(7, kChannelKindMono).action, RouteAction::NoRoute);
    EXPECT_EQ(RouteChannelsPerFile(GetPipelineRoute(NoChannelTreat, kChannelKindMultichannel), 6), 6);
    EXPECT_EQ(RouteChannelsPerFile(GetPipelineRoute(SplitChannels, kChannelKindStereo), 2), 1);
}
