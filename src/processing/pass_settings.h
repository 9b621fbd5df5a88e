// The settings the writing passes share: the output flags every pass that
// writes an output takes from the conversion, and the peak carried from pass
// to pass.  Each pass's own settings (SampleCopySettings, ResampleSettings,
// GainSettings, ScanSettings) are built from these, so a flag or a result
// is read from and stored into the conversion in one place.
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
