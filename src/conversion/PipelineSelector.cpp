#include "PipelineSelector.h"

#include "CConvSpec.h"
#include "CSoundFile.h"
#include "OutputCapabilities.h"
#include "PipelineFrame.h"
#include "per_type_setting_checks.h"
#include "debug_trace.h"

#include <array>
#include <string>

namespace {

using StageRow = std::array<PipelineFunc, kNumStageSets>;

template <ChannelTreatment T>
constexpr StageRow MakeStageRow()
{
    return {&ConvertPlain<T>,          &ConvertSRC<T>,           &ConvertGain<T>,
            &ConvertSRCGain<T>,        &ConvertCompact<T>,       &ConvertCompactSRC<T>,
            &ConvertCompactGain<T>,    &ConvertCompactSRCGain<T>, &ConvertExtract<T>,
            &ConvertExtractSRC<T>,     &ConvertExtractGain<T>,   &ConvertExtractSRCGain<T>};
}

// Instance at [treatment][stage set].
constexpr std::array<StageRow, kNumChannelTreatments> kPipelines = {
    MakeStageRow<NoChannelTreat>(),         MakeStageRow<ForceInterleavedStereo>(),
    MakeStageRow<SplitChannels>(),          MakeStageRow<MixToMono>(),
    MakeStageRow<LeftOnly>(),               MakeStageRow<RightOnly>(),
    MakeStageRow<OnlyStereoToInterleaved>(),
};

constexpr const char* kFamilyNames[kNumStageSets] = {
    "ConvertPlain",         "ConvertSRC",     "ConvertGain",        "ConvertSRCGain",
    "ConvertCompact",       "ConvertCompactSRC", "ConvertCompactGain", "ConvertCompactSRCGain",
    "ConvertExtract",       "ConvertExtractSRC", "ConvertExtractGain", "ConvertExtractSRCGain",
};
constexpr const char* kTreatmentNames[kNumChannelTreatments] = {
    "NoChannelTreat", "ForceInterleavedStereo", "SplitChannels", "MixToMono",
    "LeftOnly",       "RightOnly",              "OnlyStereoToInterleaved",
};

const std::array<std::string, kNumPipelines>& InstanceNames()
{
    static const std::array<std::string, kNumPipelines> names = [] {
        std::array<std::string, kNumPipelines> n;
        for (int t = 0; t < kNumChannelTreatments; ++t) {
            for (int s = 0; s < kNumStageSets; ++s)
                n[t * kNumStageSets + s] = std::string(kFamilyNames[s]) + "<" + kTreatmentNames[t] + ">";
        }
        return n;
    }();
    return names;
}

} // namespace

int ComputePipelineIndex(const CConvSpec& spec, double inputSampleRate, bool stereoModeOutput)
{
    const ConvSpec* conversion = spec.GetConvSpec();
    int index = (conversion->needsSampleRateConversion() ? 1 : 0) + (conversion->needsGain() ? 2 : 0) +
                (conversion->needsStrip() ? 4 : 0) + (conversion->needsExtraction() ? 8 : 0);
    if (conversion->needsChannelTreat()) {
        SInt32 treatment = conversion->channelTreat();
        if (stereoModeOutput && IsStereoModeTreatment(treatment))
            treatment = ForceInterleavedStereo;
        if (treatment < 0 || treatment >= kNumChannelTreatments)
            return treatment < 0 ? -1 : kMaxPipelineIndex + 1;
        index += 16 * treatment;
    }
    if (conversion->needsSampleRateConversion() && inputSampleRate == conversion->sampleRate())
        index -= 1;
    return index;
}

bool IsValidPipelineIndex(int index)
{
    return index >= 0 && index <= kMaxPipelineIndex && index % 16 < kNumStageSets;
}

PipelineFunc GetPipelineInstance(int index)
{
    if (!IsValidPipelineIndex(index))
        return nullptr;
    return kPipelines[index / 16][index % 16];
}

const char* GetPipelineInstanceName(int index)
{
    if (!IsValidPipelineIndex(index))
        return "";
    return InstanceNames()[(index / 16) * kNumStageSets + index % 16].c_str();
}

bool IsStageSetAvailable(int stageSet)
{
    return PipelineStageAvailable(stageSet);
}

SInt16 SelectAndRunPipeline(CSoundFile* in, CConvSpec* spec)
{
    if (!in || !spec)
        return paramErr;
    spec->SetHasValidMax(false);
    // The stereo modes make interleaved stereo in the mode the type keeps
    // in its block.
    const OSType outputType = spec->NeedsStrictFileType() ? spec->OutputFileType() : in->GetFileType();
    const bool stereoMode = GetOutputCapabilities(outputType).takesStereoMode;
    const SInt32 treatment = spec->NeedsChannelTreat() ? spec->GetConvSpec()->channelTreat() : 0;
    if (stereoMode && IsStereoModeTreatment(treatment))
        StoreStereoMode(spec, treatment == 7 ? kMPEGJointStereoMode : kMPEGSeparateStereoMode);
    const int index = ComputePipelineIndex(*spec, in->GetSampleRate(), stereoMode);
    const PipelineFunc pipeline = GetPipelineInstance(index);
    if (!pipeline) {
        QM_TRACE("Run", "fatal error: calculated non-existing case: " << index);
        return paramErr;
    }
    return pipeline(in, spec);
}

SInt16 RunPipelineFrame(int stageSet, ChannelTreatment treatment, CSoundFile* in, CConvSpec* spec)
{
    if (!in || !spec || stageSet < 0 || stageSet >= kNumStageSets || treatment < 0 ||
        treatment >= kNumChannelTreatments)
        return paramErr;
    const SInt32 kind = in->GetChannelKind();
    const OSType outputType = spec->OutputFileTypeFor(in);
    const PipelineRoute route = GetPipelineRoute(treatment, kind, GetOutputCapabilities(outputType).splitStereoSet);
    switch (route.action) {
    case RouteAction::NoRoute:
        QM_TRACE("Run", kTreatmentNames[treatment] << " cannot take channel kind " << kind);
        return kIncompatibleChannelsErr;
    case RouteAction::Delegate:
        return kPipelines[route.delegate][stageSet](in, spec);
    case RouteAction::Own:
        break;
    }
    // A set written as one interleaved file is the interleaving treatment's
    // work, whichever of the two asked for it.
    const ChannelTreatment owner = treatment == OnlyStereoToInterleaved ? ForceInterleavedStereo : treatment;
    return RunPipelineStage(stageSet, owner, route, in, spec);
}
