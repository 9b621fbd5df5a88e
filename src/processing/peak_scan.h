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

// What the scans take from the conversion (the gate, normalise, extraction
// and strip flags, the gate's threshold and gap, the channel treatment) and
// give back to it (the peak and whether it may be used).
using ScanSettings = PassSettings;

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
