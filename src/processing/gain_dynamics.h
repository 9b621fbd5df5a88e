// Gain and dynamics: the audio of an input sound file (or a frame range of
// it) copied into an output sound file through one of three modes chosen
// once per call: unchanged, a plain gain (normalising to a ceiling, or a
// boost that fits under it), or a boost held under the ceiling by a peak
// limiter (the compressor).  The silent stretches recorded on the input by
// the silence finder (peak_scan.h) are gated: the gain glides down to the
// gate attenuation over W frames, holds it and glides back.
//
// Samples travel as doubles (full scale 1.0) through the sound file's read
// and write operations; the output's writer converts to its word size,
// dithering when the conversion redithers.  The kernels neither clip nor
// round.
//
// Every kernel returns 0 or an error code: -20024 when normalising without
// a valid peak (nothing read or written), -21004 when its buffers cannot be
// made, a read or write code, or the non-zero answer of PostProgressPosition
// (posted once per block, -128 after a cancel).  The extras (loops, regions,
// markers, sampler record, time stamp) are carried only after a clean run.
// The output is neither closed nor deleted here.
#pragma once

#include "error_codes.h"
#include "MacTypes.h"
#include "pass_settings.h"
#include "peak_scan.h"

class CSoundFile;

// The channel treatments the gain passes know (the conversion's values).
enum GainTreatment : SInt16 {
    kGainNoChannelTreat = 0,
    kGainForceInterleavedStereo = 1,
    kGainMixToMono = 3,
    kGainLeftOnly = 4,
    kGainRightOnly = 5,
};

// What the gain kernels take from the conversion (ceiling, gate
// attenuation, compression boost, the compressor and normalise flags, the
// output flags) and give back to it (the peak and the ceiled peak).
using GainSettings = PassSettings;

// 1 when a normalising gain is to be applied (ceiledMax set so that the
// gain 1 / ceiledMax brings the peak half an LSB of the output's word size
// below the ceiling), 0 when the peak already lies within one LSB below the
// ceiling or is 0 (nothing changed).
int ComputeCeiledMax(const CSoundFile* out, GainSettings& settings);

// ----------------------------------------------------------------- kernels
// Each processes the input frames [start, end) into the output from *outPos
// on and advances *outPos by the frames written.

// One channel of the input (0 left, 1 right) into a one-channel output.
SInt32 GainKernelOneChannel(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, UInt32* outPos,
                            UInt16 channel, GainSettings& settings);
// Channel 0 of the input to both channels of a stereo output.
SInt32 GainKernelMonoToStereo(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, UInt32* outPos,
                              GainSettings& settings);
// Both channels of a stereo input, limited together.
SInt32 GainKernelStereo(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, UInt32* outPos,
                        GainSettings& settings);
// The mix of a stereo input's two channels into a one-channel output.
SInt32 GainKernelMixToMono(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, UInt32* outPos,
                           GainSettings& settings);
// Every channel, limited together.
SInt32 GainKernelMulti(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, UInt32* outPos,
                       GainSettings& settings);

// ------------------------------------------------------------------ passes
// The kernel of the treatment and the input's channel count, with an output
// position starting at 0.  Range: [start, end).  Whole: the whole input.
// Strip: each merged region span of the input widened by the margin, back
// to back; an input without regions gives an empty output and 0.
SInt32 GainPassRange(SInt16 treatment, CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                     GainSettings& settings);
SInt32 GainPass(SInt16 treatment, CSoundFile* in, CSoundFile* out, GainSettings& settings);
SInt32 GainPassStrip(SInt16 treatment, CSoundFile* in, CSoundFile* out, GainSettings& settings);
