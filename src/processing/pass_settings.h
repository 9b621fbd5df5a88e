// The settings of the processing passes: what the analysis, rate
// conversion, gain and copy passes take from the conversion, and the peak
// they carry from pass to pass.  The conversion layer reads them once per
// pass (PassSettingsFrom) and stores each pass's results back (StorePeak,
// StoreGainResults), so a setting or a result is read from and stored into
// the conversion in one place.
#pragma once

#include "MacTypes.h"

// What a writing pass does to its output beyond the samples.
struct OutputFlags {
    bool needsRedither = false;  // dither, and the output's own dither flag
    bool copyExtras = false;     // carry loops, regions, markers, sampler, time stamp
    bool needsStrip = false;     // compacting: the strip margin is 1 ms of input when set
};

// Reads the flags from any conversion view with the accessors
// NeedsRedither(), CopyExtras() and NeedsStrip().
template <class Spec>
void ReadOutputFlags(const Spec& spec, OutputFlags& flags)
{
    flags.needsRedither = spec.NeedsRedither();
    flags.copyExtras = spec.CopyExtras();
    flags.needsStrip = spec.NeedsStrip();
}

// The largest absolute sample value seen so far (a fraction of full scale)
// and whether it is valid.
struct CarriedPeak {
    double max = 0.0;
    bool hasValidMax = false;
};

template <class Spec>
void ReadPeak(const Spec& spec, CarriedPeak& peak)
{
    peak.max = spec.Max();
    peak.hasValidMax = spec.HasValidMax();
}

// Stores the peak and its valid flag back into the conversion view.
template <class Spec>
void StorePeak(const CarriedPeak& peak, Spec& spec)
{
    spec.SetMax(peak.max);
    spec.SetHasValidMax(peak.hasValidMax);
}

// Everything the analysis (ScanSettings), rate conversion (ResampleSettings)
// and gain (GainSettings) passes read; each pass uses its own part.
struct PassSettings : OutputFlags, CarriedPeak {
    // The channel treatment: 1 force stereo, 2 split, 3 mix, 4 left, 5 right,
    // 6 split stereo only; the analysis reads the stored value, switched on
    // or not.
    bool needsChannelTreat = false;
    SInt16 channelTreat = 0;
    // Rate conversion.
    double targetRate = 44100.0;  // the output rate (CConvSpec::SampleRate)
    SInt16 quality = 1;           // 0 linear, 1 automatic, 2 to 4 fixed filter lengths
    // Analysis (with needsStrip: the span margin is one second when set).
    bool needsGate = false;
    bool needsNormalize = false;
    bool needsExtraction = false;
    double gateThreshold = -30.0;  // dB
    double gateGapLength = 0.2;    // seconds
    // Gain.
    double ceiling = 0.0;            // dB
    double gateAttenuation = -12.0;  // dB
    double compressionBoost = 0.0;   // dB
    bool needsCompressor = false;
    // Result of the gain passes (read and written) beside the input's peak M
    // and whether it is known: the divisor CM of the normalising gain.
    double ceiledMax = 1.0;
};

// The settings from any conversion view with CConvSpec's accessors.
template <class Spec>
PassSettings PassSettingsFrom(const Spec& spec)
{
    PassSettings s;
    ReadOutputFlags(spec, s);
    ReadPeak(spec, s);
    s.needsChannelTreat = spec.NeedsChannelTreat();
    s.channelTreat = spec.ChannelTreat();
    s.targetRate = spec.SampleRate();
    s.quality = spec.SampleRateConvertQuality();
    s.needsGate = spec.NeedsGate();
    s.needsNormalize = spec.NeedsNormalize();
    s.needsExtraction = spec.NeedsExtraction();
    s.gateThreshold = spec.GateThreshold();
    s.gateGapLength = spec.GateGapLength();
    s.ceiling = spec.Ceiling();
    s.gateAttenuation = spec.GateAttenuation();
    s.compressionBoost = spec.CompressionBoost();
    s.needsCompressor = spec.NeedsCompressor();
    s.ceiledMax = spec.CeiledMax();
    return s;
}

// The gain passes give back the peak and the ceiled peak.
template <class Spec>
void StoreGainResults(const PassSettings& s, Spec& spec)
{
    spec.SetMax(s.max);
    spec.SetCeiledMax(s.ceiledMax);
}
