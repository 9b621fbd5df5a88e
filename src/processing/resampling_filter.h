// The resampling filter: the right half of a Kaiser-windowed sinc, sampled
// finely enough to serve every phase of a polyphase conversion, held in one
// process-wide table that each filtering converter call builds at its start
// and frees at its end (worker thread only; nothing here is locked).
//
// Table layout: with P = max(L, M) and g = L / M when downsampling (else 1),
// entry 0 is g and entry i is g * sin(x) / x * w(i), x = i * d * pi / P, w the
// Kaiser window over the table.  The sinc crosses zero every P / d entries
// and the table covers 2N crossings; d (a power of two) thins it below 2^18
// entries.
#pragma once

#include "MacTypes.h"

#include <vector>

extern UInt16 gSRCFilterLength;  // N chosen by the current converter call (12 at start)
extern double* gSincTable;       // gSincTableCount entries, or null
extern UInt32 gSincTableCount;   // always below 2^18
extern UInt8 gSincTableFreed;    // 1 when no table is held

// The filter length N for a quality (0 linear: not asked; 1 automatic; 2 12;
// 3 32; 4 64; anything else 0) given the two files' rates and word sizes.
UInt16 GetSRCFilterLength(SInt16 quality, double inputRate, SInt16 inputBits, double outputRate,
                          SInt16 outputBits);

// Reduces outputRate : inputRate (both taken to four decimals; a ratio whose
// reduced terms pass 32 bits to fewer) to L : M.  paramErr (-50) when a
// rate is not positive or above 2^32 - 1 Hz.
OSErr ReduceRateRatio(double outputRate, double inputRate, UInt32* L, UInt32* M);

// The output length of `frames` input frames at L output frames per M input
// frames: round(frames x L / M), halves rounded up, in exact arithmetic
// (2 s at 44100 Hz make 96000 frames at 48000 Hz, never 96001).  Every
// converter writes this many frames, whatever its quality.
UInt64 ResampledFrames(UInt32 frames, UInt32 L, UInt32 M);

// Reduces outputRate : inputRate (both taken to four decimals) to L : M and
// builds the table for gSRCFilterLength (a ratio whose reduced terms pass 32
// bits is taken to fewer decimals).  paramErr (-50) when a rate is not
// positive or above 2^32 - 1 Hz, or gSRCFilterLength is 0; the memory
// error (-21004 when none is reported) when the table cannot be allocated.
OSErr InitSampleRateFilter(double outputRate, double inputRate, UInt32* L, UInt32* M, UInt32* d);

// Builds the table for L, M and gSRCFilterLength; stores the thinning factor
// in *d.  Returns 0 or the allocation's error code (no table held then).
OSErr BuildSincTable(UInt32 L, UInt32 M, UInt32* d);

// Releases the table once; harmless when none is held.  While a hold is on
// the table stays, and InitSampleRateFilter reuses it for the same L, M and
// N: a file of many channels, converted one channel at a time, builds it
// once.
void FreeSincTable();
// Turns the hold on (one file's conversion) or off (the table is released).
void HoldSincTable(bool hold);

// The truncated Bessel series I0' the window is defined by (at most 14 terms
// after the leading 1).
double SincWindowBessel(double z);

// ---- Conversions down in stages
// A conversion down (M > L) runs as a chain of stages rather than one filter
// over the whole ratio: half-band decimators by two while the rate stays at
// least four times the output's, then one polyphase stage to twice the
// output rate (unless it is there already), then a half-band decimator by
// two whose taps are this table's for L = 1, M = 2 at the same length N.
// The last stage so gives the band edge, transition and stop band of the
// one-stage filter; the stages before it are flat beyond its transition
// band and reject what would alias into it 30 dB below its stop band, at
// short lengths because their transition bands are wide.  Each stage is
// linear-phase and centred on its output instant, so the chain is aligned
// with its input as the one-stage filter is.
struct ResampleStageDesign {
    bool halfBand = false;  // a decimator by two, else a polyphase filter
    UInt32 L = 1, M = 2;    // output frames per M input frames
    // A polyphase stage's table (entry i at i / L input frames from the
    // centre, d = 1); a half-band's centre tap, then its odd taps.
    std::vector<double> taps;
};

// The stages, first to last, for L output frames per M input frames at
// filter length N; empty when one stage is the better (a conversion up, a
// chain no cheaper, or terms too large for a chain's polyphase stage).
std::vector<ResampleStageDesign> DesignResampleChain(UInt32 L, UInt32 M, UInt16 N);
