#include "PipelineRoutes.h"

namespace {

constexpr PipelineRoute Own(OutputLayout layout, ChannelPass pass)
{
    return PipelineRoute{RouteAction::Own, NoChannelTreat, layout, pass};
}
constexpr PipelineRoute To(ChannelTreatment treatment)
{
    return PipelineRoute{RouteAction::Delegate, treatment, OutputLayout::None, ChannelPass::None};
}
constexpr PipelineRoute None()
{
    return PipelineRoute{};
}

constexpr PipelineRoute kKept = Own(OutputLayout::Kept, ChannelPass::Same);
constexpr PipelineRoute kSurround = Own(OutputLayout::SurroundSet, ChannelPass::Same);

// Columns: mono, stereo, interleaved multichannel, split stereo, surround.
// A treatment that names what it makes (interleaved stereo, one mono
// channel) takes one or two channels: a multichannel input (interleaved or
// a set) has no route, never its channels written unchanged.  Only a split
// stereo set to interleaved (6) writes a surround set as one interleaved
// file of its channels, as the interleaving treatment does a pair.
constexpr PipelineRoute kRoutes[kNumChannelTreatments][5] = {
    // NoChannelTreat
    {kKept, kKept, kKept, kSurround, kSurround},
    // ForceInterleavedStereo
    {Own(OutputLayout::Stereo, ChannelPass::MonoToStereo), To(NoChannelTreat), None(), kKept, None()},
    // SplitChannels
    {To(NoChannelTreat), Own(OutputLayout::SplitStereoSet, ChannelPass::Same), kSurround, To(NoChannelTreat),
     To(NoChannelTreat)},
    // MixToMono
    {To(NoChannelTreat), Own(OutputLayout::Mono, ChannelPass::MixToMono), None(),
     Own(OutputLayout::Mono, ChannelPass::MixToMono), None()},
    // LeftOnly
    {To(NoChannelTreat), Own(OutputLayout::Mono, ChannelPass::Left), None(),
     Own(OutputLayout::Mono, ChannelPass::Left), None()},
    // RightOnly
    {To(NoChannelTreat), Own(OutputLayout::Mono, ChannelPass::Right), None(),
     Own(OutputLayout::Mono, ChannelPass::Right), None()},
    // OnlyStereoToInterleaved
    {To(NoChannelTreat), To(NoChannelTreat), To(NoChannelTreat), To(ForceInterleavedStereo), kKept},
};

} // namespace

PipelineRoute GetPipelineRoute(SInt32 treatment, SInt32 channelKind, bool splitSetOutput)
{
    if (treatment < 0 || treatment >= kNumChannelTreatments || channelKind < kChannelKindMono ||
        channelKind > kChannelKindSurround)
        return None();
    const PipelineRoute route = kRoutes[treatment][channelKind - 1];
    if (splitSetOutput && route.layout == OutputLayout::SplitStereoSet)
        return To(NoChannelTreat);
    if (splitSetOutput && route.layout == OutputLayout::SurroundSet && channelKind == kChannelKindSplitStereo)
        return To(ForceInterleavedStereo);
    return route;
}

PipelineRoute ResolvePipelineRoute(SInt32 treatment, SInt32 channelKind, SInt32* owner, bool splitSetOutput)
{
    PipelineRoute route = GetPipelineRoute(treatment, channelKind, splitSetOutput);
    // Delegation goes to lower treatments, and a set kept for a split-set
    // type to interleaved stereo, which makes its own file: this ends.
    for (int hops = 0; route.action == RouteAction::Delegate && hops < kNumChannelTreatments; ++hops) {
        treatment = route.delegate;
        route = GetPipelineRoute(treatment, channelKind, splitSetOutput);
    }
    if (owner)
        *owner = treatment;
    return route;
}

UInt16 RouteChannelsPerFile(const PipelineRoute& route, UInt16 inputChannels)
{
    switch (route.layout) {
    case OutputLayout::Kept:
        return inputChannels;
    case OutputLayout::Stereo:
        return 2;
    case OutputLayout::Mono:
    case OutputLayout::SplitStereoSet:
    case OutputLayout::SurroundSet:
        return 1;
    case OutputLayout::None:
        break;
    }
    return 0;
}
