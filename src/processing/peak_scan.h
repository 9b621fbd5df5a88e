// Peak scan and silence finder: one analysis of an input sound file before
// its gain pass.  The peak scan finds the input's largest sample as a
// fraction of full scale; the silence finder records the input's silent
// stretches on the file as split pairs (first, second), [first, second)
// being one stretch for the gate of the gain kernels (gain_dynamics.h).
//
// Both read the input's raw integer samples block by block from its read
// buffer (one whole buffer per block), post the block's first frame with
// PostProgressPosition before each block and stop with its answer when that
// is non-zero (-128 after a cancel).
#pragma once

#include "MacTypes.h"
#include "pass_settings.h"

class CSoundFile;

// What the scans take from the conversion and what they give back to it
// (the peak and whether it may be used).  The conversion layer fills it
// with ScanSettingsFrom and stores the results back with StoreScanResults.
struct ScanSettings : CarriedPeak {
    bool needsGate = false;
    bool needsNormalize = false;
    bool needsExtraction = false;
    bool needsStrip = false;        // the span margin is one second when set
    double gateThreshold = -30.0;   // dB
    double gateGapLength = 0.2;     // seconds
    SInt16 channelTreat = 0;        // the stored treatment, switched on or not
};

// The settings from any conversion view with CConvSpec's accessors.
template <class Spec>
ScanSettings ScanSettingsFrom(const Spec& spec)
{
    ScanSettings s;
    ReadPeak(spec, s);
    s.needsGate = spec.NeedsGate();
    s.needsNormalize = spec.NeedsNormalize();
    s.needsExtraction = spec.NeedsExtraction();
    s.needsStrip = spec.NeedsStrip();
    s.gateThreshold = spec.GateThreshold();
    s.gateGapLength = spec.GateGapLength();
    s.channelTreat = spec.ChannelTreat();
    return s;
}

// Stores the peak and its valid flag back into the conversion.
template <class Spec>
void StoreScanResults(const ScanSettings& s, Spec& spec)
{
    StorePeak(s, spec);
}

// pow(10, dB / 20).
double DecibelsToGain(double dB);

// Runs the analysis the conversion needs: the silence finder when the gate
// is on (with the peak too when normalising without a valid peak), the peak
// scan when only normalising without a valid peak; else nothing and 0.
SInt32 ProcessGateAndNormalize(CSoundFile* in, ScanSettings& settings);

// The peak of the whole input, or of its region spans (each widened by one
// second when stripping) when extracting or stripping.  Sets max (1.0 after
// a stopped scan) and, whatever happened, hasValidMax.
SInt32 ScanPeaks(CSoundFile* in, ScanSettings& settings);

// Raises max to the peak of the input frames [start, end).  A stopped or
// failed scan sets max to 1.0 and returns the code.
SInt32 ScanPeakRange(CSoundFile* in, UInt32 start, UInt32 end, ScanSettings& settings);

// Appends the input's silent stretches as split pairs.  The pairs appended
// before a stop or failure stay.
SInt32 FindSilenceSplits(CSoundFile* in, ScanSettings& settings);

// The silence finder also tracking the peak: sets max and hasValidMax.
SInt32 FindSilenceSplitsAndPeak(CSoundFile* in, ScanSettings& settings);

// Adapter for the pipelines: the analysis with the settings of `spec`, the
// results stored back into it.
template <class Spec>
SInt32 ProcessGateAndNormalizeWith(CSoundFile* in, Spec* spec)
{
    ScanSettings s = ScanSettingsFrom(*spec);
    SInt32 err = ProcessGateAndNormalize(in, s);
    StoreScanResults(s, *spec);
    return err;
}
