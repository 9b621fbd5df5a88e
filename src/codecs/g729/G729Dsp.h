// Stateless signal-processing kernels shared by the G.729 Annex A encoder and
// decoder: filters, LPC/LSP conversions, the adaptive-codebook interpolation,
// the LSF quantiser's composition rules and the gain prediction.
#pragma once

#include "G729Math.h"
#include "G729Tables.h"

namespace qm::g729 {

// 1/A(z) over lg samples with M samples of memory; the memory is updated when asked.
void synthesisFilter(const Word16 a[], const Word16 x[], Word16 y[], int lg, Word16 mem[], bool update);
// A(z) over lg samples; x[-M..-1] must be valid.
void residual(const Word16 a[], const Word16 x[], Word16 y[], int lg);
// y = x * h (the first L samples of the convolution).
void convolve(const Word16 x[], const Word16 h[], Word16 y[], int L);
// ap[i] = a[i] * gamma^i.
void weightAz(const Word16 a[], Word16 gamma, Word16 ap[]);
// LSP (cosine domain, Q15) to LPC coefficients (Q12).
void lspToAz(const Word16 lsp[], Word16 a[]);
// LSF (Q13, 0..pi) to LSP (Q15) and back.
void lsfToLsp(const Word16 lsf[], Word16 lsp[]);
void lspToLsf(const Word16 lsp[], Word16 lsf[]);
// LPC of both sub-frames: the first from the mean of old and new LSPs, the second from the new.
void interpolateLpc(const Word16 lspOld[], const Word16 lspNew[], Word16 az[2 * kOrderPlus1]);
// Adaptive-codebook vector at delay t0 + frac/3 into exc[0..L-1], from exc's past.
void predictLongTerm(Word16 exc[], Word16 t0, Word16 frac, int L);
// Pitch delay from its 8-bit (first sub-frame) or 5-bit (second) code.
void decodeLag(Word16 index, int subframe, Word16& t0, Word16& t0Frac);
// Algebraic codeword (Q13) from its 13-bit positions and 4-bit signs.
void decodeAcelp(Word16 sign, Word16 index, Word16 code[kSubframeLength]);
// The parity bit over bits 2..7 of the first pitch code, and its check (0 = agrees).
Word16 pitchParity(Word16 pitchIndex);
Word16 checkPitchParity(Word16 pitchIndex, Word16 parity);
// Pseudo-random numbers of the erasure concealment.
Word16 nextRandom(Word16& seed);

// LSF quantiser rules.
void lspExpand(Word16 buf[kOrder], Word16 gap);
void lspCompose(const Word16 element[], Word16 lsf[], const Word16 fg[][kOrder], const Word16 freqPrev[][kOrder],
    const Word16 fgSum[]);
void lspExtract(const Word16 lsf[], Word16 element[], const Word16 fg[][kOrder], const Word16 freqPrev[][kOrder],
    const Word16 fgSumInverse[]);
void lspShiftHistory(const Word16 element[], Word16 freqPrev[][kOrder]);
// Orders the LSFs and keeps them apart and in range; returns the warnings met
// (bit 0: raised to the low limit, bit 1: lowered to the high limit).
int lspStabilise(Word16 lsf[kOrder]);
// Composes a quantised LSF vector from its codes and pushes the history.
int lspGetQuantised(Word16 code0, Word16 code1, Word16 code2, const Word16 fg[][kOrder], Word16 freqPrev[][kOrder],
    Word16 lsf[kOrder], const Word16 fgSum[]);

// Predicted code gain gcode0 * 2^-exp from the past quantised energies.
void gainPredict(const Word16 pastEnergy[4], const Word16 code[], Word16& gcode0, Word16& expGcode0);
void gainUpdate(Word16 pastEnergy[4], Word32 gbk12);
void gainUpdateErasure(Word16 pastEnergy[4]);

}  // namespace qm::g729
