// What a pipeline instance does on its own route, by stage set: create the
// output under a unique temporary name (".QuillOutFile-" and a tag,
// MakeTemporaryOutputName) in the output folder, post
// the step count, decode the input when its type decodes on open, run the
// passes in the stage set's order, fade, and close (CloseAndDelete with the
// success flag; the result is the first failing step's code, else the
// close's).
//
//   0 plain:      create; steps; decode; "Copying/format change"; copy.
//                 Without channel treatment, a 16-bit Sound Designer II
//                 input going to a coded output type whose encoder reads the
//                 input itself (no fades, no snip) is encoded directly: the
//                 output (which must be a CCodedFile, else -22017) is created
//                 like the input, gets the input's loops, regions, markers
//                 and sampler record when extras are copied, and encodes when
//                 it is closed (one step, no step text); the object is always
//                 closed and destroyed.
//   1 rate:       create (at the conversion's rate); steps; decode;
//                 "Sample rate conversion"; resample; post frames/channels
//   2 gain:       steps; decode; "Scanning file"; scan the input; create;
//                 "Dynamics/gain processing"; gain
//   3 rate+gain:  work file (32 bits, conversion's rate); steps; decode;
//                 resample into it; post its frames/channels; scan it;
//                 create; gain from it.  The work file is removed at every
//                 ending.
//   4 to 7:       the same over the input's region blocks (-20000 for an
//                 input without regions, before anything is made); 7 gains
//                 the (already compacted) work file as a whole.
//   8 to 11:      region extraction: every region of the input becomes a
//                 file of its own, named after the region, in a new folder
//                 named after the input (CConvSpec::LongName) inside the
//                 output folder; the files are written under their final
//                 names.  8 copies, 9 resamples and 10 gains each region's
//                 range of the input (10 after one scan of the whole
//                 input); 11 resamples the input's region blocks into the
//                 work file once, scans it, and gains each region's range
//                 of the work file (whose regions the resampling carried).
//                 The step texts are "Copying/format change" or
//                 "Extracting regions" (8), "Sample rate conversion" (9)
//                 and "Dynamics/gain processing" (10, 11); each region is
//                 posted with PostProgressRegion.  An input without
//                 regions gives -20000 before anything is made; an
//                 existing folder of the input's name gives -48.
//
// The copy passes and fades are the processing kernels; the resampling,
// scanning and gain passes come from the pass table below, whose empty
// slots make their stage sets unavailable (refused with -50).
//
// The output folder is the conversion's GetOutputFolder: an FSSpec whose
// `parent` is the folder's path and whose name is empty, or one naming the
// folder inside its parent.
#pragma once

#include "MacTypes.h"
#include "PipelineRoutes.h"

class CConvSpec;
class CSoundFile;

// A pass from `source` into `destination`; a scan of `source` that stores
// its results (peak, silent stretches) in the conversion.
using PipelinePass = SInt32 (*)(CSoundFile* source, CSoundFile* destination, CConvSpec* spec);
using PipelineScan = SInt32 (*)(CSoundFile* source, CConvSpec* spec);
// A pass over the frames [start, end) of `source`, written into
// `destination` from its frame 0.
using PipelineRangePass = SInt32 (*)(CSoundFile* source, CSoundFile* destination, UInt32 start, UInt32 end,
                                     CConvSpec* spec);
// A scan that examines the channels as the given channel treatment keeps
// them (0 all, 1 channel 0 widened, 3 the mix, 4 left, 5 right) instead of
// the conversion's stored treatment.
using PipelineTreatedScan = SInt32 (*)(CSoundFile* source, SInt16 treatment, CConvSpec* spec);

// Pass variants by ChannelPass: Same, MonoToStereo, MixToMono, Left, Right
// (the channel treatment the pass applies while it reads).
constexpr int kNumPassVariants = 5;

struct PipelinePassTable {
    // [0] whole file, [1] the input's region blocks only.
    PipelinePass resample[2][kNumPassVariants] = {};
    PipelinePass gain[2][kNumPassVariants] = {};
    PipelineScan scan = nullptr;
    // Region extraction: one region's range, by variant.
    PipelineRangePass resampleRange[kNumPassVariants] = {};
    PipelineRangePass gainRange[kNumPassVariants] = {};
    // When set, used in place of `scan` with the treatment of the gain pass
    // that follows (a delegated or interleaving route reads every channel).
    PipelineTreatedScan treatedScan = nullptr;
};

// The passes of this build.
PipelinePassTable DefaultPipelinePasses();
// The table the pipelines use (the default until replaced).  Replace it only
// while no batch runs.
const PipelinePassTable& GetPipelinePasses();
void SetPipelinePasses(const PipelinePassTable& table);

// Whether every pass a stage set can use is in the table.
bool PipelineStageAvailable(int stageSet);

// Runs `route` (an Own route of `owner`'s channel-kind switch) of the stage
// set on `in`; -50 when a pass it needs is missing.
SInt16 RunPipelineStage(int stageSet, ChannelTreatment owner, const PipelineRoute& route, CSoundFile* in,
                        CConvSpec* spec);
