// ITU-T G.726 adaptive differential PCM (the 16, 24, 32 and 40 kbit/s
// coders that G.721 and G.723 first defined) and the G.711 conversions they
// need for companded input and output.  Every coder works on one sample and
// a caller-owned state, so any number of streams can run side by side.
//
// The coders follow the recommendation's blocks one to one (adaptive
// quantiser, inverse quantiser, scale-factor adaptation, speed control,
// predictors, tone and transition detectors, synchronous coding
// adjustment).  Linear samples are 16-bit; the coders work on the top 14
// bits.
#pragma once

#include "g711.h"

#include <cstdint>

// Coding of a coder's input (encoders) or output (decoders).
enum : int {
    kG72xCodingMuLaw = 1,
    kG72xCodingALaw = 2,
    kG72xCodingLinear = 3,
};

// The per-stream state, in the recommendation's names.
struct g72x_state {
    int32_t yl;       // slow quantiser scale factor
    int16_t yu;       // fast quantiser scale factor
    int16_t dms;      // short-term average of F(I)
    int16_t dml;      // long-term average of F(I)
    int16_t ap;       // speed control
    int16_t a[2];     // pole predictor coefficients
    int16_t b[6];     // zero predictor coefficients
    int16_t pk[2];    // signs of the last two partial reconstructed signals
    int16_t dq[6];    // last six quantised differences, floating format
    int16_t sr[2];    // last two reconstructed signals, floating format
    int8_t td;        // tone detect
};

// Every field to its reset value (yl 34816, yu 544, dq and sr 32, the rest 0).
void g72x_init_state(g72x_state* state);

// Encoders: the code (2 to 5 bits) of one input in `coding`, -1 for an
// unknown coding (the state is not touched then).  Decoders: the output in
// `coding` of one code (only its low bits are used): a 16-bit sample, an
// A-law or a mu-law byte; -1 for an unknown coding (after the state update).
int g721_encoder(int sample, int coding, g72x_state* state);
int g721_decoder(int code, int coding, g72x_state* state);
int g723_16_encoder(int sample, int coding, g72x_state* state);
int g723_16_decoder(int code, int coding, g72x_state* state);
int g723_24_encoder(int sample, int coding, g72x_state* state);
int g723_24_decoder(int code, int coding, g72x_state* state);
int g723_40_encoder(int sample, int coding, g72x_state* state);
int g723_40_decoder(int code, int coding, g72x_state* state);

// The encoder or decoder of a code width (2 to 5); null for another width.
using G72xEncoder = int (*)(int, int, g72x_state*);
using G72xDecoder = int (*)(int, int, g72x_state*);
G72xEncoder G72xEncoderForBits(int bits);
G72xDecoder G72xDecoderForBits(int bits);

// G.711 on 16-bit values: A-law at 8 times, mu-law at 4 times the
// recommendation's scale (A-law 0xD5 expands to 8, mu-law 0x00 to -32124).
// They are the G.711 of g711.h under the coders' names.
inline int g711_alaw2linear(unsigned char alaw) { return alaw2linear(alaw); }
inline int g711_ulaw2linear(unsigned char ulaw) { return ulaw2linear(ulaw); }
inline unsigned char g711_linear2alaw(int sample) { return LoadRawALawTable(sample); }
inline unsigned char g711_linear2ulaw(int sample) { return linear2ulaw(sample); }
