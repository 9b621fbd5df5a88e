#include "G729Dsp.h"

#include <algorithm>
#include <cstdlib>

namespace qm::g729 {

namespace {
constexpr Word16 kLsfLowLimit = 40;
constexpr Word16 kLsfHighLimit = 25681;
constexpr Word16 kLsfMinGap = 321;
constexpr Word16 kExpandGap1 = 10;
constexpr Word16 kExpandGap2 = 5;
}  // namespace

void synthesisFilter(const Word16 a[], const Word16 x[], Word16 y[], int lg, Word16 mem[], bool update)
{
    Word16 buf[kOrder + 2 * kSubframeLength + 2];  // lg is at most L_H or a sub-frame
    for (int i = 0; i < kOrder; ++i)
        buf[i] = mem[i];
    Word16* yy = buf + kOrder;
    // Bound of the partial sums: |x a0| + sum |a_j| * (largest |y| so far).
    int64_t sumAbsA = 0;
    for (int j = 1; j <= kOrder; ++j)
        sumAbsA += a[j] < 0 ? -int64_t(a[j]) : a[j];
    const int64_t absA0 = a[0] < 0 ? -int64_t(a[0]) : a[0];
    int64_t maxY = 0;
    for (int i = 0; i < kOrder; ++i)
        maxY = std::max<int64_t>(maxY, buf[i] < 0 ? -int64_t(buf[i]) : buf[i]);
    for (int i = 0; i < lg; ++i) {
        const int64_t absX = x[i] < 0 ? -int64_t(x[i]) : x[i];
        Word32 s;
        if (2 * (absX * absA0 + sumAbsA * maxY) <= kMax32) {
            Word32 acc = Word32(x[i]) * a[0];
            for (int j = 1; j <= kOrder; ++j)
                acc -= Word32(a[j]) * yy[i - j];
            s = acc * 2;
        } else {
            s = L_mult(x[i], a[0]);
            s = msuSeries(s, a + 1, 1, yy + i - 1, -1, kOrder);
        }
        s = L_shl(s, 3);
        yy[i] = round16(s);
        maxY = std::max<int64_t>(maxY, yy[i] < 0 ? -int64_t(yy[i]) : yy[i]);
    }
    for (int i = 0; i < lg; ++i)
        y[i] = yy[i];
    if (update)
        for (int i = 0; i < kOrder; ++i)
            mem[i] = y[lg - kOrder + i];
}

void residual(const Word16 a[], const Word16 x[], Word16 y[], int lg)
{
    // Bound of every partial sum: sum |a_j| * largest |x| of the span.
    int64_t sumAbsA = 0, maxX = 0;
    for (int j = 0; j <= kOrder; ++j)
        sumAbsA += a[j] < 0 ? -int64_t(a[j]) : a[j];
    for (int i = -kOrder; i < lg; ++i)
        maxX = std::max<int64_t>(maxX, x[i] < 0 ? -int64_t(x[i]) : x[i]);
    const bool exact = 2 * sumAbsA * maxX <= kMax32;
    for (int i = 0; i < lg; ++i) {
        Word32 s;
        if (exact) {
            Word32 acc = 0;
            for (int j = 0; j <= kOrder; ++j)
                acc += Word32(a[j]) * x[i - j];
            s = acc * 2;
        } else {
            s = L_mult(x[i], a[0]);
            s = macSeries(s, a + 1, 1, x + i - 1, -1, kOrder);
        }
        s = L_shl(s, 3);
        y[i] = round16(s);
    }
}

void convolve(const Word16 x[], const Word16 h[], Word16 y[], int L)
{
    for (int n = 0; n < L; ++n) {
        Word32 s = macSeries(0, x, 1, h + n, -1, n + 1);
        s = L_shl(s, 3);
        y[n] = extract_h(s);
    }
}

void weightAz(const Word16 a[], Word16 gamma, Word16 ap[])
{
    ap[0] = a[0];
    Word16 fac = gamma;
    for (int i = 1; i < kOrder; ++i) {
        ap[i] = round16(L_mult(a[i], fac));
        fac = round16(L_mult(fac, gamma));
    }
    ap[kOrder] = round16(L_mult(a[kOrder], fac));
}

namespace {
// Coefficients of the symmetric (or antisymmetric) polynomial from every
// other LSP, Q24.
void lspPolynomial(const Word16* lsp, Word32 f[6])
{
    f[0] = L_mult(4096, 2048);
    f[1] = L_msu(0, lsp[0], 512);
    for (int i = 2; i <= 5; ++i) {
        const Word16 q = lsp[2 * (i - 1)];
        f[i] = f[i - 2];
        for (int j = i; j > 1; --j) {
            Word16 hi, lo;
            L_Extract(f[j - 1], hi, lo);
            Word32 t = Mpy_32_16(hi, lo, q);
            t = L_shl(t, 1);
            f[j] = L_add(f[j], f[j - 2]);
            f[j] = L_sub(f[j], t);
        }
        f[1] = L_msu(f[1], q, 512);
    }
}
}  // namespace

void lspToAz(const Word16 lsp[], Word16 a[])
{
    Word32 f1[6], f2[6];
    lspPolynomial(&lsp[0], f1);
    lspPolynomial(&lsp[1], f2);
    for (int i = 5; i > 0; --i) {
        f1[i] = L_add(f1[i], f1[i - 1]);
        f2[i] = L_sub(f2[i], f2[i - 1]);
    }
    a[0] = 4096;
    for (int i = 1, j = 10; i <= 5; ++i, --j) {
        a[i] = extract_l(L_shr_r(L_add(f1[i], f2[i]), 13));
        a[j] = extract_l(L_shr_r(L_sub(f1[i], f2[i]), 13));
    }
}

void lsfToLsp(const Word16 lsf[], Word16 lsp[])
{
    for (int i = 0; i < kOrder; ++i) {
        Word16 freq = mult(lsf[i], 20861);  // 1/(2 pi) in Q17
        Word16 ind = shr(freq, 8);
        Word16 offset = Word16(freq & 0x00ff);
        if (ind > 63)
            ind = 63;
        Word32 t = L_mult(kCosSlope[ind], offset);
        lsp[i] = add(kCosTable[ind], extract_l(L_shr(t, 13)));
    }
}

void lspToLsf(const Word16 lsp[], Word16 lsf[])
{
    Word16 ind = 63;
    for (int i = kOrder - 1; i >= 0; --i) {
        while (kCosTable[ind] < lsp[i]) {
            ind = sub(ind, 1);
            if (ind <= 0)
                break;
        }
        Word16 offset = sub(lsp[i], kCosTable[ind]);
        Word32 t = L_mult(kAcosSlope[ind], offset);
        Word16 freq = add(shl(ind, 9), extract_l(L_shr(t, 12)));
        lsf[i] = mult(freq, 25736);  // 2 pi in Q12
    }
}

void interpolateLpc(const Word16 lspOld[], const Word16 lspNew[], Word16 az[2 * kOrderPlus1])
{
    Word16 lsp[kOrder];
    for (int i = 0; i < kOrder; ++i)
        lsp[i] = add(shr(lspNew[i], 1), shr(lspOld[i], 1));
    lspToAz(lsp, az);
    lspToAz(lspNew, az + kOrderPlus1);
}

void predictLongTerm(Word16 exc[], Word16 t0, Word16 frac, int L)
{
    constexpr int kUp = 3;
    const Word16* x0 = &exc[-t0];
    frac = negate(frac);
    if (frac < 0) {
        frac = add(frac, kUp);
        x0--;
    }
    const Word16* c1 = &kInterpolation3[frac];
    const Word16* c2 = &kInterpolation3[kUp - frac];
    // No partial sum can saturate while sum |taps| * largest |exc| read fits;
    // the samples written here are read back when the delay is short, so the
    // largest magnitude follows them.
    int64_t sumAbsC = 0, maxX = 0;
    for (int k = 0; k < 30; k += kUp)
        sumAbsC += std::abs(int(c1[k])) + std::abs(int(c2[k]));
    for (const Word16* p = x0 - 9; p < std::min<const Word16*>(x0 + L + 10, exc); ++p)
        maxX = std::max<int64_t>(maxX, std::abs(int(*p)));
    for (int j = 0; j < L; ++j) {
        const Word16* x1 = x0++;
        const Word16* x2 = x0;
        Word32 s;
        if (2 * sumAbsC * maxX <= kMax32) {
            Word32 acc = 0;
            for (int i = 0, k = 0; i < 10; ++i, k += kUp)
                acc += Word32(x1[-i]) * c1[k] + Word32(x2[i]) * c2[k];
            s = acc * 2;
        } else {
            s = 0;
            for (int i = 0, k = 0; i < 10; ++i, k += kUp) {
                s = L_mac(s, x1[-i], c1[k]);
                s = L_mac(s, x2[i], c2[k]);
            }
        }
        exc[j] = round16(s);
        maxX = std::max<int64_t>(maxX, std::abs(int(exc[j])));
    }
}

void decodeLag(Word16 index, int subframe, Word16& t0, Word16& t0Frac)
{
    if (subframe == 0) {
        if (index < 197) {
            t0 = add(mult(add(index, 2), 10923), 19);
            Word16 i = add(add(t0, t0), t0);
            t0Frac = add(sub(index, i), 58);
        } else {
            t0 = sub(index, 112);
            t0Frac = 0;
        }
        return;
    }
    Word16 t0Min = sub(t0, 5);
    if (t0Min < kPitchMin)
        t0Min = kPitchMin;
    Word16 t0Max = add(t0Min, 9);
    if (t0Max > kPitchMax) {
        t0Max = kPitchMax;
        t0Min = sub(t0Max, 9);
    }
    Word16 i = sub(mult(add(index, 2), 10923), 1);
    t0 = add(i, t0Min);
    i = add(add(i, i), i);
    t0Frac = sub(sub(index, 2), i);
}

void decodeAcelp(Word16 sign, Word16 index, Word16 code[kSubframeLength])
{
    Word16 pos[4];
    Word16 i = Word16(index & 7);
    pos[0] = add(i, shl(i, 2));
    index = shr(index, 3);
    i = Word16(index & 7);
    pos[1] = add(add(i, shl(i, 2)), 1);
    index = shr(index, 3);
    i = Word16(index & 7);
    pos[2] = add(add(i, shl(i, 2)), 2);
    index = shr(index, 3);
    Word16 j = Word16(index & 1);
    index = shr(index, 1);
    i = Word16(index & 7);
    pos[3] = add(add(add(i, shl(i, 2)), 3), j);
    for (int n = 0; n < kSubframeLength; ++n)
        code[n] = 0;
    for (int n = 0; n < 4; ++n) {
        code[pos[n]] = (sign & 1) ? Word16(8191) : Word16(-8192);
        sign = shr(sign, 1);
    }
}

Word16 pitchParity(Word16 pitchIndex)
{
    Word16 temp = shr(pitchIndex, 1);
    Word16 sum = 1;
    for (int i = 0; i <= 5; ++i) {
        temp = shr(temp, 1);
        sum = add(sum, Word16(temp & 1));
    }
    return Word16(sum & 1);
}

Word16 checkPitchParity(Word16 pitchIndex, Word16 parity)
{
    Word16 temp = shr(pitchIndex, 1);
    Word16 sum = 1;
    for (int i = 0; i <= 5; ++i) {
        temp = shr(temp, 1);
        sum = add(sum, Word16(temp & 1));
    }
    sum = add(sum, parity);
    return Word16(sum & 1);
}

Word16 nextRandom(Word16& seed)
{
    seed = extract_l(L_add(L_shr(L_mult(seed, 31821), 1), 13849));
    return seed;
}

void lspExpand(Word16 buf[kOrder], Word16 gap)
{
    for (int j = 1; j < kOrder; ++j) {
        Word16 diff = sub(buf[j - 1], buf[j]);
        Word16 tmp = shr(add(diff, gap), 1);
        if (tmp > 0) {
            buf[j - 1] = sub(buf[j - 1], tmp);
            buf[j] = add(buf[j], tmp);
        }
    }
}

void lspCompose(const Word16 element[], Word16 lsf[], const Word16 fg[][kOrder], const Word16 freqPrev[][kOrder],
    const Word16 fgSum[])
{
    for (int j = 0; j < kOrder; ++j) {
        Word32 acc = L_mult(element[j], fgSum[j]);
        for (int k = 0; k < kMaPredictorOrder; ++k)
            acc = L_mac(acc, freqPrev[k][j], fg[k][j]);
        lsf[j] = extract_h(acc);
    }
}

void lspExtract(const Word16 lsf[], Word16 element[], const Word16 fg[][kOrder], const Word16 freqPrev[][kOrder],
    const Word16 fgSumInverse[])
{
    for (int j = 0; j < kOrder; ++j) {
        Word32 t = L_deposit_h(lsf[j]);
        for (int k = 0; k < kMaPredictorOrder; ++k)
            t = L_msu(t, freqPrev[k][j], fg[k][j]);
        Word16 temp = extract_h(t);
        t = L_mult(temp, fgSumInverse[j]);
        element[j] = extract_h(L_shl(t, 3));
    }
}

void lspShiftHistory(const Word16 element[], Word16 freqPrev[][kOrder])
{
    for (int k = kMaPredictorOrder - 1; k > 0; --k)
        for (int j = 0; j < kOrder; ++j)
            freqPrev[k][j] = freqPrev[k - 1][j];
    for (int j = 0; j < kOrder; ++j)
        freqPrev[0][j] = element[j];
}

int lspStabilise(Word16 buf[kOrder])
{
    int warnings = 0;
    for (int j = 0; j < kOrder - 1; ++j) {
        if (L_sub(buf[j + 1], buf[j]) < 0) {
            Word16 t = buf[j + 1];
            buf[j + 1] = buf[j];
            buf[j] = t;
        }
    }
    if (buf[0] < kLsfLowLimit) {
        buf[0] = kLsfLowLimit;
        warnings |= 1;
    }
    for (int j = 0; j < kOrder - 1; ++j) {
        if (L_sub(L_sub(buf[j + 1], buf[j]), kLsfMinGap) < 0)
            buf[j + 1] = add(buf[j], kLsfMinGap);
    }
    if (buf[kOrder - 1] > kLsfHighLimit) {
        buf[kOrder - 1] = kLsfHighLimit;
        warnings |= 2;
    }
    return warnings;
}

int lspGetQuantised(Word16 code0, Word16 code1, Word16 code2, const Word16 fg[][kOrder], Word16 freqPrev[][kOrder],
    Word16 lsf[kOrder], const Word16 fgSum[])
{
    Word16 buf[kOrder];
    for (int j = 0; j < 5; ++j)
        buf[j] = add(kLspCodebook1[code0][j], kLspCodebook2[code1][j]);
    for (int j = 5; j < kOrder; ++j)
        buf[j] = add(kLspCodebook1[code0][j], kLspCodebook2[code2][j]);
    lspExpand(buf, kExpandGap1);
    lspExpand(buf, kExpandGap2);
    lspCompose(buf, lsf, fg, freqPrev, fgSum);
    lspShiftHistory(buf, freqPrev);
    return lspStabilise(lsf);
}

void gainPredict(const Word16 pastEnergy[4], const Word16 code[], Word16& gcode0, Word16& expGcode0)
{
    Word32 t = macSeries(0, code, 1, code, 1, kSubframeLength);
    Word16 exp, frac;
    Log2(t, exp, frac);
    t = Mpy_32_16(exp, frac, -24660);  // -3.0103 in Q13
    t = L_mac(t, 32588, 32);  // 127.298 in Q14
    t = L_shl(t, 10);
    for (int i = 0; i < 4; ++i)
        t = L_mac(t, kGainPredictor[i], pastEnergy[i]);
    gcode0 = extract_h(t);
    t = L_mult(gcode0, 5439);  // 0.166 in Q15
    t = L_shr(t, 8);
    L_Extract(t, exp, frac);
    gcode0 = extract_l(Pow2(14, frac));
    expGcode0 = sub(14, exp);
}

void gainUpdate(Word16 pastEnergy[4], Word32 gbk12)
{
    for (int i = 3; i > 0; --i)
        pastEnergy[i] = pastEnergy[i - 1];
    Word16 exp, frac;
    Log2(gbk12, exp, frac);
    Word32 acc = L_Comp(sub(exp, 13), frac);
    Word16 tmp = extract_h(L_shl(acc, 13));
    pastEnergy[0] = mult(tmp, 24660);
}

void gainUpdateErasure(Word16 pastEnergy[4])
{
    Word32 t = 0;
    for (int i = 0; i < 4; ++i)
        t = L_add(t, pastEnergy[i]);
    Word16 av = extract_l(L_shr(t, 2));
    av = sub(av, 4096);
    if (av < -14336)
        av = -14336;
    for (int i = 3; i > 0; --i)
        pastEnergy[i] = pastEnergy[i - 1];
    pastEnergy[0] = av;
}

}  // namespace qm::g729
