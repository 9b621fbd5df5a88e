// The resampling filter: the right half of a Kaiser-windowed sinc, sampled
// finely enough to serve every phase of a polyphase conversion, held in one
// process-wide table that each filtering converter call builds at its start
// and frees at its end (worker thread only; nothing here is locked).
//
// Table layout: with P = max(L, M) and g = L / M when downsampling (else 1),
// entry 0 is g and entry i is g * sin(x) / x * w(i), x = i * d * pi / P, w the
// Kaiser window over the table.  The sinc crosses zero every P / d entries
// and the table covers 2N crossings; d (a power of two) thins it below 65536
// entries.
#pragma once

#include "MacTypes.h"

extern UInt16 gSRCFilterLength;  // N chosen by the current converter call (12 at start)
extern double* gSincTable;       // gSincTableCount entries, or null
extern UInt32 gSincTableCount;   // always below 65536
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
