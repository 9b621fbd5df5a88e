// Constant tables of the MPEG-1 audio Layer I and II encoder (ISO/IEC
// 11172-3): bit rates, sampling frequencies, the analysis window, the Layer
// II allocation tables, the quantiser classes and the absolute threshold of
// hearing of psychoacoustic model 2.
#pragma once

#include <cstdint>

namespace mpeg {

// Bit rates in kbit/s by [layer - 1][bitrate_index]; index 0 (free format)
// is 0 and index 15 is forbidden.
extern const int kBitRates[3][15];
// The bit rates of the lower sampling frequencies (MPEG-2 and 2.5) by
// [layer - 1][bitrate_index], as kBitRates.
extern const int kLowRateBitRates[3][15];
// Sampling frequencies in kHz by sampling_frequency index (3 is reserved).
extern const double kSampleRatesKHz[4];
// The first subband coded jointly, by [layer - 1][mode_ext].
extern const int kJointStereoBound[3][4];

// The sampling_frequency index of `rate` (44100, 48000, 32000 give 0, 1, 2);
// -1 for any other rate.
int SampleRateIndex(int rate);
// The bitrate_index of `kbps` in `layer` (1 or 2); -1 when the table does
// not hold it (0, free format, is never offered).
int BitRateIndex(int layer, int kbps);
// Whether `kbps` is a legal Layer II rate for the channel count: one channel
// takes 32-192, two channels 64 and 96-384 (ISO/IEC 11172-3, 2.4.2.3).
// Layer I takes every rate of its table except 32 kbit/s in stereo.
bool BitRateAllowed(int layer, int channels, int kbps);

// The length in bytes of the frame whose 4-byte header starts at `header`
// (MPEG-1, 2 or 2.5, any layer, padding included); 0 for a free-format
// frame or bytes that are no frame header.
int FrameBytes(const uint8_t* header);
// The sample frames one frame of that header holds (384, 576 or 1152); 0
// for bytes that are no frame header.
int FrameSamples(const uint8_t* header);

// Scalefactor values (Table B.1): 2^(1 - i/3) for i = 0..62, 1e-20 at 63.
extern const double kScaleFactors[64];

// The analysis window of the subband filterbank (Table C.1).
extern const double kAnalysisWindow[512];

// One entry of a Layer II allocation table.  In entry 0 of a subband,
// `bits` holds the width of the subband's allocation field.
struct AllocEntry {
    uint32_t steps;
    uint32_t bits;
    uint32_t group;  // 3: three codes of `bits` each; 1: one grouped code
    uint32_t quant;  // quantiser class 0-16
};
using AllocTable = AllocEntry[32][16];

struct AllocTableInfo {
    int sblimit;     // subbands coded
    int rows;        // entries listed, entry 0 of every subband included
};
// Tables B.2a-d, numbered 0-3.  Fills `table` (unlisted entries 0) and
// returns the table's limits.
AllocTableInfo FillAllocTable(int number, AllocTable& table);

// Signal-to-noise ratio in dB by quantiser class + 1 (entry 0: nothing sent).
extern const double kSNR[18];
// Quantiser coefficients A and B by class.
extern const double kQuantA[17];
extern const double kQuantB[17];
// Scalefactor transmission patterns by [class of d1][class of d2].
extern const int kScalefactorPattern[5][5];
// Scalefactors sent for each scfsi code (Layer II).
extern const int kScalefactorsPerCode[4];

// The absolute threshold of psychoacoustic model 2 for spectral line
// `line` (0-512) at sampling_frequency index `sfIndex`, in energy units
// on the scale of a 1024-point FFT of raw 16-bit samples.
float AbsoluteThreshold(int sfIndex, int line);

}  // namespace mpeg
