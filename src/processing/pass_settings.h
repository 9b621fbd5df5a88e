// The settings of the processing passes: what the analysis, rate
// conversion, gain and copy passes are told, and the peak they carry from
// pass to pass.  Plain data: the caller fills them before a pass and takes
// the results (the peak, the ceiled peak) back after it.
#pragma once

#include "MacTypes.h"

// What a writing pass does to its output beyond the samples.
struct OutputFlags {
    bool needsRedither = false;  // dither, and the output's own dither flag
    bool copyExtras = false;     // carry loops, regions, markers, sampler, time stamp
    bool needsStrip = false;     // compacting: the strip margin is 1 ms of input when set
};

// The largest absolute sample value seen so far (a fraction of full scale)
// and whether it is valid.
struct CarriedPeak {
    double max = 0.0;
    bool hasValidMax = false;
};

// Everything the analysis (ScanSettings), rate conversion (ResampleSettings)
// and gain (GainSettings) passes read; each pass uses its own part.
struct PassSettings : OutputFlags, CarriedPeak {
    // The channel treatment: 1 force stereo, 2 split, 3 mix, 4 left, 5 right,
    // 6 split stereo only; the analysis reads the stored value, switched on
    // or not.
    bool needsChannelTreat = false;
    SInt16 channelTreat = 0;
    // Rate conversion.
    double targetRate = 44100.0;  // the output rate
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
