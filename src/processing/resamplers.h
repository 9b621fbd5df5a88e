// Sample-rate converters: a range of input frames at the input's rate written
// into an output sound file at the conversion's target rate, one converter
// per channel layout (a stereo pair together, one channel, stereo mixed to
// mono, mono written to both channels of a stereo output).
//
// Quality 0 interpolates linearly between neighbouring input frames; every
// other quality runs a polyphase FIR filter over the Kaiser-windowed sinc
// table of resampling_filter.h, or for a conversion down the chain of
// stages that gives that filter's band edge and stop band at a cost that
// does not grow with the ratio (DesignResampleChain).  Samples travel as
// doubles (full scale 1.0) and are neither rounded nor clipped here: the
// output's writer does that (with dither when the conversion redithers).
//
// Every converter reads the peak so far from the settings, keeps the largest
// absolute value it writes there and marks it valid; posts the input frame
// reached after every output block (PostProgressPosition) and stops on a
// non-zero answer (-128 after a cancel), returning it; and, when the
// settings copy extras, the call succeeded and the output is not marked
// one-channel-done, carries the regions, markers, loops, sampler record and
// time stamp of [start, end] over to the output, their positions mapped to
// the new rate.
#pragma once

#include "MacTypes.h"
#include "pass_settings.h"

class CSoundFile;

// What the converters and passes take from the conversion (the target rate,
// the quality, the output flags, the channel treatment), and what they give
// back (the peak and whether it is valid).
using ResampleSettings = PassSettings;

// Each converts the input frames [start, end) and writes the result from
// *outPos on, advancing *outPos by the frames written.  paramErr (-50) for
// null arguments, a target or input rate that is not positive or above
// 2^32 - 1 Hz, a rate ratio beyond kMaxResampleRatio either way, or
// channel counts the converter cannot take (nothing is written then).
constexpr double kMaxResampleRatio = 256.0;

// Both channels of a two-channel input into a two-channel output.
SInt32 SampleRateConvertStereo(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                               ResampleSettings& settings, UInt32* outPos);
// Input channel `inChannel` into output channel `outChannel`.
SInt32 SampleRateConvertOneChannel(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                                   ResampleSettings& settings, UInt16 inChannel, UInt16 outChannel,
                                   UInt32* outPos);
// (left + right) x 0.5 of a two-channel input into a mono output.
SInt32 SampleRateConvertMixToMono(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                                  ResampleSettings& settings, UInt32* outPos);
// Channel 0 of the input written to both channels of a stereo output.
SInt32 SampleRateConvertMonoToStereo(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                                     ResampleSettings& settings, UInt32* outPos);

// The linear (quality 0) paths of the first two, callable on their own.
SInt32 SampleRateConvertSimpleStereo(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                                     ResampleSettings& settings, UInt32* outPos);
SInt32 SampleRateConvertSimpleOneChannel(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                                         ResampleSettings& settings, UInt16 inChannel, UInt16 outChannel,
                                         UInt32* outPos);
