// Sample-rate converters: a range of input frames at the input's rate written
// into an output sound file at the conversion's target rate, one converter
// per channel layout (a stereo pair together, one channel, stereo mixed to
// mono, mono written to both channels of a stereo output).
//
// Quality 0 interpolates linearly between neighbouring input frames; every
// other quality runs a polyphase FIR filter over the Kaiser-windowed sinc
// table of resampling_filter.h.  Samples travel as doubles (full scale 1.0)
// and are neither rounded nor clipped here: the output's writer does that
// (with dither when the conversion redithers).
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

// What the converters and passes take from the conversion, and what they
// give back (the peak).  The conversion layer fills it from its engine view
// (ResampleSettingsFrom) and stores the results back (StoreResampleResults).
struct ResampleSettings : OutputFlags, CarriedPeak {
    double targetRate = 44100.0;  // the output rate (CConvSpec::SampleRate)
    SInt16 quality = 1;           // 0 linear, 1 automatic, 2 to 4 fixed filter lengths
    bool needsChannelTreat = false;
    SInt16 channelTreat = 0;      // 1 force stereo, 2 split, 3 mix, 4 left, 5 right, 6 split stereo only
};

// The settings from any conversion view with CConvSpec's accessors.
template <class Spec>
ResampleSettings ResampleSettingsFrom(const Spec& spec)
{
    ResampleSettings s;
    ReadOutputFlags(spec, s);
    ReadPeak(spec, s);
    s.targetRate = spec.SampleRate();
    s.quality = spec.SampleRateConvertQuality();
    s.needsChannelTreat = spec.NeedsChannelTreat();
    s.channelTreat = spec.ChannelTreat();
    return s;
}

// Stores the peak and its valid flag back into the conversion view.
template <class Spec>
void StoreResampleResults(const ResampleSettings& s, Spec& spec)
{
    StorePeak(s, spec);
}

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
