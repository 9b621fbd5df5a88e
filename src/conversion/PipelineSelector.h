// The pipeline selector: one conversion's needs pick one of 84 pipeline
// instances, which then runs on one open input file.
//
// Index = 16 x channel treatment + stage set, the stage set's bits being
// sample-rate conversion (1), gain (2), compacting (4) and region
// extraction (8).  Compacting together with extraction (stage sets 12 to 15)
// and treatments outside 0 to 6 have no instance: -50.
//
// Each instance is a template over the channel treatment (ConvertPlain<T>,
// ConvertSRC<T> ... ConvertExtractSRCGain<T>); all of them run the same
// frame, which routes the input by its channel kind through the route table
// of PipelineRoutes.h.  A stage set whose passes are not in this build
// refuses with -50, never reporting success for a file it did not write.
#pragma once

#include "MacTypes.h"
#include "PipelineRoutes.h"

class CConvSpec;
class CSoundFile;

using PipelineFunc = SInt16 (*)(CSoundFile* in, CConvSpec* spec);

enum StageSet : SInt16 {
    kStagePlain = 0,
    kStageSRC = 1,
    kStageGain = 2,
    kStageSRCGain = 3,
    kStageCompact = 4,
    kStageCompactSRC = 5,
    kStageCompactGain = 6,
    kStageCompactSRCGain = 7,
    kStageExtract = 8,
    kStageExtractSRC = 9,
    kStageExtractGain = 10,
    kStageExtractSRCGain = 11,
};
constexpr int kNumStageSets = 12;
constexpr int kNumPipelines = kNumChannelTreatments * kNumStageSets;  // 84
constexpr int kMaxPipelineIndex = 16 * (kNumChannelTreatments - 1) + kNumStageSets - 1;  // 107

// The selector index of `spec` for an input at `inputSampleRate`: the sum of
// the needs, less the sample-rate stage when the input has the target rate
// already.  Computed without wrapping: a treatment outside 0 to 6 gives an
// index outside 0 to 107, except that for an output type that takes a stereo
// mode (`stereoModeOutput`) the stereo modes 7 and 8 make interleaved stereo
// (treatment 1).
int ComputePipelineIndex(const CConvSpec& spec, double inputSampleRate, bool stereoModeOutput = false);

// Whether an index names an instance (0 to 107, stage set 0 to 11).
bool IsValidPipelineIndex(int index);

// The instance at `index`; null when the index names none.
PipelineFunc GetPipelineInstance(int index);

// The instance's name, "ConvertCompactGain<RightOnly>"; empty for none.
const char* GetPipelineInstanceName(int index);

// Whether the passes of a stage set are in this build (an instance of a
// stage set that is not refuses with -50 when it would make an output).
bool IsStageSetAvailable(int stageSet);

// What CConvSpec::Run does: clears the conversion's stored peak, computes the
// index, runs the instance and returns its result; -50 when the index
// names no instance.
SInt16 SelectAndRunPipeline(CSoundFile* in, CConvSpec* spec);

// The frame every instance runs: routes `in` by its channel kind for
// `treatment`, delegating to the instance of another treatment of the same
// stage set where the route table says so.
SInt16 RunPipelineFrame(int stageSet, ChannelTreatment treatment, CSoundFile* in, CConvSpec* spec);

// ----------------------------------------------------------- instances
#define QM_PIPELINE_FAMILY(Family, stage)                                        \
    template <ChannelTreatment T>                                                \
    SInt16 Family(CSoundFile* in, CConvSpec* spec)                               \
    {                                                                            \
        return RunPipelineFrame(stage, T, in, spec);                             \
    }

QM_PIPELINE_FAMILY(ConvertPlain, kStagePlain)
QM_PIPELINE_FAMILY(ConvertSRC, kStageSRC)
QM_PIPELINE_FAMILY(ConvertGain, kStageGain)
QM_PIPELINE_FAMILY(ConvertSRCGain, kStageSRCGain)
QM_PIPELINE_FAMILY(ConvertCompact, kStageCompact)
QM_PIPELINE_FAMILY(ConvertCompactSRC, kStageCompactSRC)
QM_PIPELINE_FAMILY(ConvertCompactGain, kStageCompactGain)
QM_PIPELINE_FAMILY(ConvertCompactSRCGain, kStageCompactSRCGain)
QM_PIPELINE_FAMILY(ConvertExtract, kStageExtract)
QM_PIPELINE_FAMILY(ConvertExtractSRC, kStageExtractSRC)
QM_PIPELINE_FAMILY(ConvertExtractGain, kStageExtractGain)
QM_PIPELINE_FAMILY(ConvertExtractSRCGain, kStageExtractSRCGain)

#undef QM_PIPELINE_FAMILY
