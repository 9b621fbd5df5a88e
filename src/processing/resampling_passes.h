// Resampling passes: what the pipelines call to change a file's sample rate.
// The whole-file passes convert [0, frames); the range passes one range
// (a region that becomes a file of its own); the strip passes walk the
// input's region blocks (merged when at most two margins apart, widened by
// one margin of 1 ms of input when compacting, clipped to the file) and join
// the converted segments back to back into one output.
//
// The variants follow the channel pass: Same (stereo jointly, other channel
// counts channel by channel into the same channel), MonoToStereo, MixToMono,
// Left (input channel 0) and Right (input channel 1) into a mono output.
//
// Each pass returns 0 or the first failing code (a cancel's -128 included).
// Passes that reset the peak set settings.max to 0.0 before converting; all
// of them leave the peak of what they wrote in settings.max (valid flag set).
// The strip passes of Same, MixToMono, Left and Right carry the extras of
// every kept segment whatever settings.copyExtras says, and leave it as it
// was.
#pragma once

#include "MacTypes.h"
#include "resamplers.h"

class CSoundFile;

// ---- Same channels (no treatment, or a treatment that keeps the channels)
SInt32 SRCPass(CSoundFile* in, CSoundFile* out, ResampleSettings& settings);
SInt32 SRCPassRange(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, ResampleSettings& settings);
SInt32 SRCPassStrip(CSoundFile* in, CSoundFile* out, ResampleSettings& settings);

// ---- Mono written as stereo
SInt32 SRCPassMonoToStereo(CSoundFile* in, CSoundFile* out, ResampleSettings& settings);
SInt32 SRCPassRangeMonoToStereo(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                                ResampleSettings& settings);
SInt32 SRCPassStripMonoToStereo(CSoundFile* in, CSoundFile* out, ResampleSettings& settings);

// ---- Stereo mixed to mono (the range pass continues at *outPos)
SInt32 SRCPassMixToMono(CSoundFile* in, CSoundFile* out, ResampleSettings& settings);
SInt32 SRCPassRangeMixToMono(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                             ResampleSettings& settings, UInt32* outPos);
SInt32 SRCPassStripMixToMono(CSoundFile* in, CSoundFile* out, ResampleSettings& settings);

// ---- One channel of the input into a mono output
SInt32 SRCPassLeft(CSoundFile* in, CSoundFile* out, ResampleSettings& settings);
SInt32 SRCPassRangeLeft(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, ResampleSettings& settings);
SInt32 SRCPassStripLeft(CSoundFile* in, CSoundFile* out, ResampleSettings& settings);
SInt32 SRCPassRight(CSoundFile* in, CSoundFile* out, ResampleSettings& settings);
SInt32 SRCPassRangeRight(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, ResampleSettings& settings);
SInt32 SRCPassStripRight(CSoundFile* in, CSoundFile* out, ResampleSettings& settings);
