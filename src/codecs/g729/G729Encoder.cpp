#include "G729Encoder.h"

#include <algorithm>
#include <iterator>

#include "G729Dsp.h"

namespace qm::g729 {

namespace {
constexpr Word16 kGamma1 = 24576;  // 0.75: perceptual weighting
constexpr Word16 kGainClip = 15564;  // 0.95 in Q14: pitch gain limit when taming
constexpr Word16 kGainClip2 = 481;  // 0.94 in Q9
constexpr Word16 kGain0999 = 16383;
constexpr Word32 kTamingThreshold = 983040000;
constexpr Word16 kInvCoef = -17103;  // Q19
constexpr Word16 kPi04 = 1029;  // 0.04 pi in Q13
constexpr Word16 kPi92 = 23677;  // 0.92 pi in Q13
constexpr Word16 kConst10 = 10 * (1 << 11);
constexpr Word16 kConst12 = 19661;  // 1.2 in Q14
constexpr int kSpeechOffset = kWindowLength - kFrameLength - kLookAhead;  // start of the present frame
constexpr int kExcOffset = kPitchMax + kInterpolationLength;
constexpr int kPositions = 8;  // pulse positions per track
constexpr Word16 kHalf = 16384, kQuarter = 8192, kEighth = 4096, kSixteenth = 2048;

// Chebyshev series of the LSP polynomial at x (Q15), coefficients in Q11
// (or Q10 when the coefficients overflowed), result in Q14.
Word16 chebyshev(Word16 x, const Word16 f[], bool q10)
{
    Word16 b2Hi = q10 ? 128 : 256, b2Lo = 0;
    Word32 t = L_mult(x, q10 ? 256 : 512);
    t = L_mac(t, f[1], 4096);
    Word16 b1Hi, b1Lo;
    L_Extract(t, b1Hi, b1Lo);
    for (int i = 2; i < 5; ++i) {
        t = Mpy_32_16(b1Hi, b1Lo, x);
        t = L_shl(t, 1);
        t = L_mac(t, b2Hi, kMin16);
        t = L_msu(t, b2Lo, 1);
        t = L_mac(t, f[i], 4096);
        Word16 b0Hi, b0Lo;
        L_Extract(t, b0Hi, b0Lo);
        b2Lo = b1Lo;
        b2Hi = b1Hi;
        b1Lo = b0Lo;
        b1Hi = b0Hi;
    }
    t = Mpy_32_16(b1Hi, b1Lo, x);
    t = L_mac(t, b2Hi, kMin16);
    t = L_msu(t, b2Lo, 1);
    t = L_mac(t, f[5], 2048);
    t = L_shl(t, q10 ? 7 : 6);
    return extract_h(t);
}

Word32 dotProduct(const Word16 x[], const Word16 y[], int n)
{
    return macSeries(0, x, 1, y, 1, n);
}

// Correlation of the target with the impulse response, scaled to 13 bits.
void correlateTarget(const Word16 h[], const Word16 x[], Word16 d[])
{
    Word32 y32[kSubframeLength];
    Word32 max = 0;
    const bool exact = dotCannotSaturate(energy(x, kSubframeLength), energy(h, kSubframeLength));
    for (int i = 0; i < kSubframeLength; ++i) {
        Word32 s
            = exact ? dotUnsaturated(x + i, h, kSubframeLength - i) : macSeries(0, x + i, 1, h, 1, kSubframeLength - i);
        y32[i] = s;
        s = L_abs(s);
        if (L_sub(s, max) > 0)
            max = s;
    }
    Word16 j = norm_l(max);
    if (j > 16)
        j = 16;
    j = sub(18, j);
    for (int i = 0; i < kSubframeLength; ++i)
        d[i] = extract_l(L_shr(y32[i], j));
}

// Normalised products <y2,y2>, -2<xn,y2>, 2<y1,y2> for the gain quantiser.
void correlateGains(const Word16 xn[], const Word16 y1[], const Word16 y2[], Word16 g[], Word16 e[])
{
    Word16 scaled[kSubframeLength];
    for (int i = 0; i < kSubframeLength; ++i)
        scaled[i] = shr(y2[i], 3);
    Word32 acc = 1;
    for (int i = 0; i < kSubframeLength; ++i)
        acc = L_mac(acc, scaled[i], scaled[i]);
    Word16 exp = norm_l(acc);
    g[2] = round16(L_shl(acc, exp));
    e[2] = add(exp, 19 - 16);
    acc = 1;
    for (int i = 0; i < kSubframeLength; ++i)
        acc = L_mac(acc, xn[i], scaled[i]);
    exp = norm_l(acc);
    g[3] = negate(round16(L_shl(acc, exp)));
    e[3] = sub(add(exp, 10 - 16), 1);
    acc = 1;
    for (int i = 0; i < kSubframeLength; ++i)
        acc = L_mac(acc, y1[i], scaled[i]);
    exp = norm_l(acc);
    g[4] = round16(L_shl(acc, exp));
    e[4] = sub(add(exp, 10 - 16), 1);
}

// Pitch gain of the filtered adaptive codebook (Q14, 0..1.2) and the
// correlations the gain quantiser needs.
Word16 pitchGain(const Word16 xn[], const Word16 y1[], Word16 gCoeff[4])
{
    Word16 scaled[kSubframeLength];
    for (int i = 0; i < kSubframeLength; ++i)
        scaled[i] = shr(y1[i], 2);
    Word16 yy, expYy, xy, expXy;
    gOverflow = false;
    Word32 s = 1;
    for (int i = 0; i < kSubframeLength; ++i)
        s = L_mac(s, y1[i], y1[i]);
    if (!gOverflow) {
        expYy = norm_l(s);
        yy = round16(L_shl(s, expYy));
    } else {
        s = 1;
        for (int i = 0; i < kSubframeLength; ++i)
            s = L_mac(s, scaled[i], scaled[i]);
        expYy = norm_l(s);
        yy = round16(L_shl(s, expYy));
        expYy = sub(expYy, 4);
    }
    gOverflow = false;
    s = 0;
    for (int i = 0; i < kSubframeLength; ++i)
        s = L_mac(s, xn[i], y1[i]);
    if (!gOverflow) {
        expXy = norm_l(s);
        xy = round16(L_shl(s, expXy));
    } else {
        s = 0;
        for (int i = 0; i < kSubframeLength; ++i)
            s = L_mac(s, xn[i], scaled[i]);
        expXy = norm_l(s);
        xy = round16(L_shl(s, expXy));
        expXy = sub(expXy, 2);
    }
    gCoeff[0] = yy;
    gCoeff[1] = sub(15, expYy);
    gCoeff[2] = xy;
    gCoeff[3] = sub(15, expXy);
    if (xy <= 0) {
        gCoeff[3] = -15;
        return 0;
    }
    xy = shr(xy, 1);
    Word16 gain = div_s(xy, yy);
    gain = shr(gain, sub(expXy, expYy));
    if (gain > 19661)
        gain = 19661;
    return gain;
}

Word16 encodeLag(Word16 t0, Word16 t0Frac, Word16& t0Min, Word16& t0Max, int subframe)
{
    Word16 index;
    if (subframe == 0) {
        if (t0 <= 85) {
            index = add(sub(add(add(t0, t0), t0), 58), t0Frac);
        } else {
            index = add(t0, 112);
        }
        t0Min = sub(t0, 5);
        if (t0Min < kPitchMin)
            t0Min = kPitchMin;
        t0Max = add(t0Min, 9);
        if (t0Max > kPitchMax) {
            t0Max = kPitchMax;
            t0Min = sub(t0Max, 9);
        }
    } else {
        Word16 i = sub(t0, t0Min);
        i = add(add(i, i), i);
        index = add(add(i, 2), t0Frac);
    }
    return index;
}
}  // namespace

G729Encoder::G729Encoder()
{
    reset();
}

void G729Encoder::reset()
{
    std::fill(std::begin(oldSpeech_), std::end(oldSpeech_), Word16(0));
    std::fill(std::begin(oldWsp_), std::end(oldWsp_), Word16(0));
    std::fill(std::begin(oldExc_), std::end(oldExc_), Word16(0));
    std::copy(std::begin(kLspInitial), std::end(kLspInitial), lspOld_);
    std::copy(std::begin(kLspInitial), std::end(kLspInitial), lspOldQ_);
    std::fill(std::begin(memW0_), std::end(memW0_), Word16(0));
    std::fill(std::begin(memW_), std::end(memW_), Word16(0));
    sharp_ = kSharpMin;
    std::fill(std::begin(oldA_), std::end(oldA_), Word16(0));
    oldA_[0] = 4096;
    oldRc_[0] = oldRc_[1] = 0;
    for (auto& row : freqPrev_)
        std::copy(std::begin(kLsfInitial), std::end(kLsfInitial), row);
    std::fill(std::begin(pastEnergy_), std::end(pastEnergy_), Word16(-14336));
    std::fill(std::begin(excError_), std::end(excError_), Word32(0x00004000));
    inputFilter_.reset();
    lsfWarnings_ = 0;
}

void G729Encoder::encodeFrame(const int16_t in[kFrameLength], uint16_t params[kParameterCount])
{
    Word16* newSpeech = oldSpeech_ + kWindowLength - kFrameLength;
    std::copy(in, in + kFrameLength, newSpeech);
    inputFilter_.filter(newSpeech, kFrameLength);
    Word16 prm[kParameterCount];
    analyse(prm);
    for (int i = 0; i < kParameterCount; ++i)
        params[i] = static_cast<uint16_t>(prm[i]);
}

void G729Encoder::analyse(Word16 ana[])
{
    Word16* speech = oldSpeech_ + kSpeechOffset;
    Word16* wsp = oldWsp_ + kPitchMax;
    Word16* exc = oldExc_ + kExcOffset;
    Word16 aq[2 * kOrderPlus1], ap[2 * kOrderPlus1];

    // LPC analysis, LSP quantisation, interpolation and weighting.
    {
        Word16 rHi[kOrderPlus1], rLo[kOrderPlus1];
        Word16 a[kOrderPlus1];
        Word16 lspNew[kOrder], lspNewQ[kOrder];
        autocorrelation(oldSpeech_, rHi, rLo);
        for (int i = 1; i <= kOrder; ++i) {
            Word32 x = Mpy_32(rHi[i], rLo[i], kLagWindowHi[i - 1], kLagWindowLo[i - 1]);
            L_Extract(x, rHi[i], rLo[i]);
        }
        levinson(rHi, rLo, a);
        azToLsp(a, lspNew, lspOld_);
        quantiseLsp(lspNew, lspNewQ, ana);
        interpolateLpc(lspOldQ_, lspNewQ, aq);
        weightAz(&aq[0], kGamma1, &ap[0]);
        weightAz(&aq[kOrderPlus1], kGamma1, &ap[kOrderPlus1]);
        std::copy(lspNew, lspNew + kOrder, lspOld_);
        std::copy(lspNewQ, lspNewQ + kOrder, lspOldQ_);
    }
    Word16* prm = ana + 2;

    // Weighted speech of the whole frame and the open-loop pitch.
    residual(&aq[0], &speech[0], &exc[0], kSubframeLength);
    residual(&aq[kOrderPlus1], &speech[kSubframeLength], &exc[kSubframeLength], kSubframeLength);
    for (int sf = 0; sf < 2; ++sf) {
        const Word16* a = &ap[sf * kOrderPlus1];
        Word16 ap1[kOrderPlus1];
        ap1[0] = 4096;
        for (int i = 1; i <= kOrder; ++i)
            ap1[i] = sub(a[i], mult(a[i - 1], 22938));
        synthesisFilter(ap1, &exc[sf * kSubframeLength], &wsp[sf * kSubframeLength], kSubframeLength, memW_, true);
    }
    const Word16 tOp = openLoopPitch(wsp);
    Word16 t0Min = sub(tOp, 3);
    if (t0Min < kPitchMin)
        t0Min = kPitchMin;
    Word16 t0Max = add(t0Min, 6);
    if (t0Max > kPitchMax) {
        t0Max = kPitchMax;
        t0Min = sub(t0Max, 6);
    }

    Word16 h1[kSubframeLength], xn[kSubframeLength], xn2[kSubframeLength], code[kSubframeLength];
    Word16 y1[kSubframeLength], y2[kSubframeLength];
    Word16 memZero[kOrder] = {};
    for (int sub0 = 0; sub0 < kFrameLength; sub0 += kSubframeLength) {
        const Word16* a = &ap[(sub0 / kSubframeLength) * kOrderPlus1];
        // Impulse response of the weighted synthesis filter, and the target.
        h1[0] = 4096;
        std::fill(h1 + 1, h1 + kSubframeLength, Word16(0));
        synthesisFilter(a, h1, h1, kSubframeLength, &h1[1], false);
        synthesisFilter(a, &exc[sub0], xn, kSubframeLength, memW0_, false);

        Word16 t0Frac;
        const Word16 t0 = closedLoopPitch(&exc[sub0], xn, h1, t0Min, t0Max, sub0, t0Frac);
        const Word16 index = encodeLag(t0, t0Frac, t0Min, t0Max, sub0);
        *prm++ = index;
        if (sub0 == 0)
            *prm++ = pitchParity(index);

        synthesisFilter(a, &exc[sub0], y1, kSubframeLength, memZero, false);
        Word16 gCoeff[4];
        Word16 gainPit = pitchGain(xn, y1, gCoeff);
        const bool tame = tamingNeeded(t0, t0Frac);
        if (tame && gainPit > kGainClip)
            gainPit = kGainClip;
        for (int i = 0; i < kSubframeLength; ++i) {
            Word32 t = L_shl(L_mult(y1[i], gainPit), 1);
            xn2[i] = sub(xn[i], extract_h(t));
        }

        Word16 sign;
        *prm++ = searchCodebook(xn2, h1, t0, sharp_, code, y2, sign);
        *prm++ = sign;

        Word16 gCoeffCs[5], expCoeffCs[5];
        gCoeffCs[0] = gCoeff[0];
        expCoeffCs[0] = negate(gCoeff[1]);
        gCoeffCs[1] = negate(gCoeff[2]);
        expCoeffCs[1] = negate(add(gCoeff[3], 1));
        correlateGains(xn, y1, y2, gCoeffCs, expCoeffCs);
        Word16 gainCode;
        *prm++ = quantiseGains(code, gCoeffCs, expCoeffCs, gainPit, gainCode, tame);

        sharp_ = std::clamp(gainPit, kSharpMin, kSharpMax);
        for (int i = 0; i < kSubframeLength; ++i) {
            Word32 t = L_mult(exc[i + sub0], gainPit);
            t = L_mac(t, code[i], gainCode);
            t = L_shl(t, 1);
            exc[i + sub0] = round16(t);
        }
        updateTaming(gainPit, t0);
        for (int i = kSubframeLength - kOrder, j = 0; i < kSubframeLength; ++i, ++j) {
            const Word16 temp = extract_h(L_shl(L_mult(y1[i], gainPit), 1));
            const Word16 k = extract_h(L_shl(L_mult(y2[i], gainCode), 2));
            memW0_[j] = sub(xn[i], add(temp, k));
        }
    }
    std::copy(oldSpeech_ + kFrameLength, oldSpeech_ + kWindowLength, oldSpeech_);
    std::copy(oldWsp_ + kFrameLength, oldWsp_ + kFrameLength + kPitchMax, oldWsp_);
    std::copy(oldExc_ + kFrameLength, oldExc_ + kFrameLength + kExcOffset, oldExc_);
}

void G729Encoder::autocorrelation(const Word16 x[], Word16 rHi[], Word16 rLo[])
{
    Word16 y[kWindowLength];
    for (int i = 0; i < kWindowLength; ++i)
        y[i] = mult_r(x[i], kHammingWindow[i]);
    Word32 sum;
    do {
        gOverflow = false;
        sum = 1;
        for (int i = 0; i < kWindowLength; ++i)
            sum = L_mac(sum, y[i], y[i]);
        if (gOverflow) {
            for (auto& v : y)
                v = shr(v, 2);
        }
    } while (gOverflow);
    const Word16 norm = norm_l(sum);
    sum = L_shl(sum, norm);
    L_Extract(sum, rHi[0], rLo[0]);
    // r[0] did not saturate, so no lagged product sum can (Cauchy-Schwarz).
    for (int i = 1; i <= kOrder; ++i) {
        sum = dotUnsaturated(y, y + i, kWindowLength - i);
        sum = L_shl(sum, norm);
        L_Extract(sum, rHi[i], rLo[i]);
    }
}

void G729Encoder::levinson(const Word16 rHi[], const Word16 rLo[], Word16 a[])
{
    Word16 ah[kOrderPlus1], al[kOrderPlus1], anh[kOrderPlus1], anl[kOrderPlus1];
    Word16 rc[kOrder];
    Word16 hi, lo, kh, kl, alpHi, alpLo;

    Word32 t1 = L_Comp(rHi[1], rLo[1]);
    Word32 t2 = L_abs(t1);
    Word32 t0 = Div_32(t2, rHi[0], rLo[0]);
    if (t1 > 0)
        t0 = L_negate(t0);
    L_Extract(t0, kh, kl);
    rc[0] = kh;
    t0 = L_shr(t0, 4);
    L_Extract(t0, ah[1], al[1]);
    t0 = Mpy_32(kh, kl, kh, kl);
    t0 = L_abs(t0);
    t0 = L_sub(kMax32, t0);
    L_Extract(t0, hi, lo);
    t0 = Mpy_32(rHi[0], rLo[0], hi, lo);
    Word16 alpExp = norm_l(t0);
    t0 = L_shl(t0, alpExp);
    L_Extract(t0, alpHi, alpLo);

    for (int i = 2; i <= kOrder; ++i) {
        t0 = 0;
        for (int j = 1; j < i; ++j)
            t0 = L_add(t0, Mpy_32(rHi[j], rLo[j], ah[i - j], al[i - j]));
        t0 = L_shl(t0, 4);
        t1 = L_Comp(rHi[i], rLo[i]);
        t0 = L_add(t0, t1);
        t1 = L_abs(t0);
        t2 = Div_32(t1, alpHi, alpLo);
        if (t0 > 0)
            t2 = L_negate(t2);
        t2 = L_shl(t2, alpExp);
        L_Extract(t2, kh, kl);
        rc[i - 1] = kh;
        if (abs_s(kh) > 32750) {  // unstable: keep the previous filter
            std::copy(oldA_, oldA_ + kOrderPlus1, a);
            rc[0] = oldRc_[0];
            rc[1] = oldRc_[1];
            return;
        }
        for (int j = 1; j < i; ++j) {
            t0 = Mpy_32(kh, kl, ah[i - j], al[i - j]);
            t0 = L_add(t0, L_Comp(ah[j], al[j]));
            L_Extract(t0, anh[j], anl[j]);
        }
        t2 = L_shr(t2, 4);
        L_Extract(t2, anh[i], anl[i]);
        t0 = Mpy_32(kh, kl, kh, kl);
        t0 = L_abs(t0);
        t0 = L_sub(kMax32, t0);
        L_Extract(t0, hi, lo);
        t0 = Mpy_32(alpHi, alpLo, hi, lo);
        const Word16 j = norm_l(t0);
        t0 = L_shl(t0, j);
        L_Extract(t0, alpHi, alpLo);
        alpExp = add(alpExp, j);
        for (int n = 1; n <= i; ++n) {
            ah[n] = anh[n];
            al[n] = anl[n];
        }
    }
    a[0] = 4096;
    for (int i = 1; i <= kOrder; ++i) {
        t0 = L_Comp(ah[i], al[i]);
        oldA_[i] = a[i] = round16(L_shl(t0, 1));
    }
    oldRc_[0] = rc[0];
    oldRc_[1] = rc[1];
}

void G729Encoder::azToLsp(const Word16 a[], Word16 lsp[], const Word16 oldLsp[])
{
    Word16 f1[6], f2[6];
    bool q10 = false;
    f1[0] = 2048;
    f2[0] = 2048;
    for (int i = 0; i < 5; ++i) {
        gOverflow = false;
        Word32 t = L_mult(a[i + 1], 16384);
        t = L_mac(t, a[kOrder - i], 16384);
        Word16 x = extract_h(t);
        f1[i + 1] = sub(x, f1[i]);
        t = L_mult(a[i + 1], 16384);
        t = L_msu(t, a[kOrder - i], 16384);
        x = extract_h(t);
        f2[i + 1] = add(x, f2[i]);
        if (gOverflow)
            q10 = true;
    }
    if (q10) {
        f1[0] = 1024;
        f2[0] = 1024;
        for (int i = 0; i < 5; ++i) {
            Word32 t = L_mult(a[i + 1], 8192);
            t = L_mac(t, a[kOrder - i], 8192);
            f1[i + 1] = sub(extract_h(t), f1[i]);
            t = L_mult(a[i + 1], 8192);
            t = L_msu(t, a[kOrder - i], 8192);
            f2[i + 1] = add(extract_h(t), f2[i]);
        }
    }

    int nf = 0;
    bool onF2 = false;
    const Word16* coef = f1;
    Word16 xlow = kLspGrid[0];
    Word16 ylow = chebyshev(xlow, coef, q10);
    int j = 0;
    while (nf < kOrder && j < kGridPoints) {
        ++j;
        Word16 xhigh = xlow, yhigh = ylow;
        xlow = kLspGrid[j];
        ylow = chebyshev(xlow, coef, q10);
        if (L_mult(ylow, yhigh) <= 0) {
            for (int i = 0; i < 2; ++i) {
                const Word16 xmid = add(shr(xlow, 1), shr(xhigh, 1));
                const Word16 ymid = chebyshev(xmid, coef, q10);
                if (L_mult(ylow, ymid) <= 0) {
                    yhigh = ymid;
                    xhigh = xmid;
                } else {
                    ylow = ymid;
                    xlow = xmid;
                }
            }
            const Word16 x = sub(xhigh, xlow);
            Word16 y = sub(yhigh, ylow);
            Word16 xint;
            if (y == 0) {
                xint = xlow;
            } else {
                const Word16 sign = y;
                y = abs_s(y);
                const Word16 exp = norm_s(y);
                y = shl(y, exp);
                y = div_s(16383, y);
                Word32 t = L_mult(x, y);
                t = L_shr(t, sub(20, exp));
                y = extract_l(t);
                if (sign < 0)
                    y = negate(y);
                t = L_mult(ylow, y);
                t = L_shr(t, 11);
                xint = sub(xlow, extract_l(t));
            }
            lsp[nf++] = xint;
            xlow = xint;
            onF2 = !onF2;
            coef = onF2 ? f2 : f1;
            ylow = chebyshev(xlow, coef, q10);
        }
    }
    if (nf < kOrder)
        std::copy(oldLsp, oldLsp + kOrder, lsp);
}

void G729Encoder::quantiseLsp(const Word16 lsp[], Word16 lspQ[], Word16 codes[2])
{
    Word16 lsf[kOrder], lsfQ[kOrder], wegt[kOrder];
    lspToLsf(lsp, lsf);

    // Weights from the distances between neighbouring LSFs.
    {
        Word16 buf[kOrder];
        buf[0] = sub(lsf[1], kPi04 + 8192);
        for (int i = 1; i < kOrder - 1; ++i)
            buf[i] = sub(sub(lsf[i + 1], lsf[i - 1]), 8192);
        buf[kOrder - 1] = sub(kPi92 - 8192, lsf[kOrder - 2]);
        for (int i = 0; i < kOrder; ++i) {
            if (buf[i] > 0) {
                wegt[i] = 2048;
            } else {
                Word32 acc = L_mult(buf[i], buf[i]);
                Word16 tmp = extract_h(L_shl(acc, 2));
                acc = L_mult(tmp, kConst10);
                tmp = extract_h(L_shl(acc, 2));
                wegt[i] = add(tmp, 2048);
            }
        }
        wegt[4] = extract_h(L_shl(L_mult(wegt[4], kConst12), 1));
        wegt[5] = extract_h(L_shl(L_mult(wegt[5], kConst12), 1));
        Word16 tmp = 0;
        for (int i = 0; i < kOrder; ++i)
            if (wegt[i] > tmp)
                tmp = wegt[i];
        const Word16 sft = norm_s(tmp);
        for (int i = 0; i < kOrder; ++i)
            wegt[i] = shl(wegt[i], sft);
    }

    Word16 cand[2], index1[2], index2[2];
    Word32 tdist[2];
    for (int mode = 0; mode < 2; ++mode) {
        Word16 rbuf[kOrder], buf[kOrder];
        lspExtract(lsf, rbuf, kLspPredictor[mode], freqPrev_, kLspPredictorSumInverse[mode]);
        // First stage: nearest vector.
        Word16 c = 0;
        Word32 dmin = kMax32;
        for (int i = 0; i < kCodebook1Size; ++i) {
            // A sum of squares only grows: it saturates only when the total does.
            Word16 t[kOrder];
            int64_t total = 0;
            for (int j = 0; j < kOrder; ++j) {
                t[j] = sub(rbuf[j], kLspCodebook1[i][j]);
                total += 2 * int64_t(t[j]) * t[j];
            }
            const Word32 d = total <= kMax32 ? Word32(total) : macSeries(0, t, 1, t, 1, kOrder);
            if (L_sub(d, dmin) < 0) {
                dmin = d;
                c = Word16(i);
            }
        }
        cand[mode] = c;
        // Second stage, lower and upper halves, weighted.
        for (int half = 0; half < 2; ++half) {
            const int lo = half * 5, hi = lo + 5;
            Word16 diff[kOrder];
            for (int j = lo; j < hi; ++j)
                diff[j] = sub(rbuf[j], kLspCodebook1[c][j]);
            Word16 best = 0;
            dmin = kMax32;
            for (int k = 0; k < kCodebook2Size; ++k) {
                // Each term mult(w, t) * t is >= 0 (w >= 0): the sum only grows.
                Word16 t[kOrder], t2[kOrder];
                int64_t total = 0;
                for (int j = lo; j < hi; ++j) {
                    t[j] = sub(diff[j], kLspCodebook2[k][j]);
                    t2[j] = mult(wegt[j], t[j]);
                    total += 2 * int64_t(t2[j]) * t[j];
                }
                const Word32 d = total <= kMax32 ? Word32(total) : macSeries(0, t2 + lo, 1, t + lo, 1, hi - lo);
                if (L_sub(d, dmin) < 0) {
                    dmin = d;
                    best = Word16(k);
                }
            }
            for (int j = lo; j < hi; ++j)
                buf[j] = add(kLspCodebook1[c][j], kLspCodebook2[best][j]);
            // Keep a minimum gap inside the half just chosen.
            for (int j = half ? 5 : 1; j < hi; ++j) {
                const Word16 d = sub(buf[j - 1], buf[j]);
                const Word16 tmp = shr(add(d, 10), 1);
                if (tmp > 0) {
                    buf[j - 1] = sub(buf[j - 1], tmp);
                    buf[j] = add(buf[j], tmp);
                }
            }
            (half ? index2 : index1)[mode] = best;
        }
        lspExpand(buf, 5);
        // Weighted distortion of the candidate.
        Word32 dist = 0;
        for (int j = 0; j < kOrder; ++j) {
            Word16 tmp = sub(buf[j], rbuf[j]);
            tmp = mult(tmp, kLspPredictorSum[mode][j]);
            const Word32 acc = L_mult(wegt[j], tmp);
            const Word16 tmp2 = extract_h(L_shl(acc, 4));
            dist = L_mac(dist, tmp2, tmp);
        }
        tdist[mode] = dist;
    }
    const Word16 mode = L_sub(tdist[1], tdist[0]) < 0 ? 1 : 0;
    codes[0] = Word16(shl(mode, 7) | cand[mode]);
    codes[1] = Word16(shl(index1[mode], 5) | index2[mode]);
    const int w = lspGetQuantised(
        cand[mode], index1[mode], index2[mode], kLspPredictor[mode], freqPrev_, lsfQ, kLspPredictorSum[mode]);
    lsfWarnings_ += (w & 1) + ((w >> 1) & 1);
    lsfToLsp(lsfQ, lspQ);
}

Word16 G729Encoder::openLoopPitch(const Word16 signal[])
{
    Word16 scaledBuf[kFrameLength + kPitchMax];
    Word16* scaled = scaledBuf + kPitchMax;
    gOverflow = false;
    Word32 sum = 0;
    for (int i = -kPitchMax; i < kFrameLength; i += 2)
        sum = L_mac(sum, signal[i], signal[i]);
    if (gOverflow) {
        for (int i = -kPitchMax; i < kFrameLength; ++i)
            scaled[i] = shr(signal[i], 3);
    } else if (L_sub(sum, 1048576) < 0) {
        for (int i = -kPitchMax; i < kFrameLength; ++i)
            scaled[i] = shl(signal[i], 3);
    } else {
        for (int i = -kPitchMax; i < kFrameLength; ++i)
            scaled[i] = signal[i];
    }

    // When the whole scaled buffer's energy is small enough, no correlation or
    // energy below can saturate and the checks are skipped.
    const bool exact = dotCannotSaturate(
        energy(scaledBuf, kFrameLength + kPitchMax), energy(scaledBuf, kFrameLength + kPitchMax), 1);
    auto correlation = [&](int lag) {
        return exact ? dotUnsaturated2(scaled, scaled - lag, kFrameLength / 2)
                     : macSeries(0, scaled, 2, scaled - lag, 2, kFrameLength / 2);
    };
    auto normalised = [&](Word32 max, int lag) {
        Word32 s = exact ? 1 + dotUnsaturated2(scaled - lag, scaled - lag, kFrameLength / 2)
                         : macSeries(1, scaled - lag, 2, scaled - lag, 2, kFrameLength / 2);
        s = Inv_sqrt(s);
        Word16 maxHi, maxLo, eHi, eLo;
        L_Extract(max, maxHi, maxLo);
        L_Extract(s, eHi, eLo);
        return extract_l(Mpy_32(maxHi, maxLo, eHi, eLo));
    };
    auto section = [&](int from, int to, int step, Word16& best) {
        Word32 max = kMin32;
        best = Word16(from);
        for (int i = from; i < to; i += step) {
            const Word32 s = correlation(i);
            if (L_sub(s, max) > 0) {
                max = s;
                best = Word16(i);
            }
        }
        return max;
    };

    Word16 t1, t2, t3;
    Word32 max = section(20, 40, 1, t1);
    Word16 max1 = normalised(max, t1);
    max = section(40, 80, 1, t2);
    Word16 max2 = normalised(max, t2);
    max = section(80, 143, 2, t3);
    {
        const Word16 i = t3;
        Word32 s = correlation(i + 1);
        if (L_sub(s, max) > 0) {
            max = s;
            t3 = Word16(i + 1);
        }
        s = correlation(i - 1);
        if (L_sub(s, max) > 0) {
            max = s;
            t3 = Word16(i - 1);
        }
    }
    const Word16 max3 = normalised(max, t3);

    // Favour the shorter lag when a longer one is close to a multiple of it.
    Word16 i = sub(shl(t2, 1), t3);
    if (sub(abs_s(i), 5) < 0)
        max2 = add(max2, shr(max3, 2));
    i = add(i, t2);
    if (sub(abs_s(i), 7) < 0)
        max2 = add(max2, shr(max3, 2));
    i = sub(shl(t1, 1), t2);
    if (sub(abs_s(i), 5) < 0)
        max1 = add(max1, mult(max2, 6554));
    i = add(i, t1);
    if (sub(abs_s(i), 7) < 0)
        max1 = add(max1, mult(max2, 6554));

    if (max1 < max2) {
        max1 = max2;
        t1 = t2;
    }
    if (max1 < max3)
        t1 = t3;
    return t1;
}

Word16 G729Encoder::closedLoopPitch(
    Word16 exc[], const Word16 xn[], const Word16 h[], Word16 t0Min, Word16 t0Max, int subframe, Word16& frac)
{
    Word16 dn[kSubframeLength], excTmp[kSubframeLength];
    correlateTarget(h, xn, dn);
    Word32 max = kMin32;
    Word16 t0 = t0Min;
    const bool exact
        = dotCannotSaturate(energy(dn, kSubframeLength), energy(&exc[-t0Max], t0Max - t0Min + kSubframeLength));
    for (Word16 t = t0Min; t <= t0Max; ++t) {
        const Word32 corr
            = exact ? dotUnsaturated(dn, &exc[-t], kSubframeLength) : dotProduct(dn, &exc[-t], kSubframeLength);
        if (L_sub(corr, max) > 0) {
            max = corr;
            t0 = t;
        }
    }
    predictLongTerm(exc, t0, 0, kSubframeLength);
    max = dotProduct(dn, exc, kSubframeLength);
    frac = 0;
    if (subframe == 0 && t0 > 84)
        return t0;
    std::copy(exc, exc + kSubframeLength, excTmp);
    predictLongTerm(exc, t0, -1, kSubframeLength);
    Word32 corr = dotProduct(dn, exc, kSubframeLength);
    if (L_sub(corr, max) > 0) {
        max = corr;
        frac = -1;
        std::copy(exc, exc + kSubframeLength, excTmp);
    }
    predictLongTerm(exc, t0, 1, kSubframeLength);
    corr = dotProduct(dn, exc, kSubframeLength);
    if (L_sub(corr, max) > 0) {
        frac = 1;
    } else {
        std::copy(excTmp, excTmp + kSubframeLength, exc);
    }
    return t0;
}

Word16 G729Encoder::searchCodebook(
    const Word16 x[], Word16 h[], Word16 t0, Word16 pitchSharp, Word16 code[], Word16 y[], Word16& signIndex)
{
    const Word16 sharp = shl(pitchSharp, 1);
    if (t0 < kSubframeLength)
        for (int i = t0; i < kSubframeLength; ++i)
            h[i] = add(h[i], mult(h[i - t0], sharp));

    // Correlations of h (scaled for precision): the energies of each track's
    // positions and the cross-correlations of the positions of two tracks,
    // each accumulated from h[0] upwards.
    Word16 hs[kSubframeLength];
    {
        Word32 cor = 0;
        for (int i = 0; i < kSubframeLength; ++i)
            cor = L_mac(cor, h[i], h[i]);
        if (extract_h(cor) > 32000) {
            for (int i = 0; i < kSubframeLength; ++i)
                hs[i] = shr(h[i], 1);
        } else {
            const Word16 k = shr(norm_l(cor), 1);
            for (int i = 0; i < kSubframeLength; ++i)
                hs[i] = shl(h[i], k);
        }
    }
    Word16 rrDiag[5][kPositions];
    {
        Word16 cum[kSubframeLength];
        Word32 cor = 0;
        for (int n = 0; n < kSubframeLength; ++n) {
            cor = L_mac(cor, hs[n], hs[n]);
            cum[n] = extract_h(cor);
        }
        for (int t = 0; t < 5; ++t)
            for (int i = 0; i < kPositions; ++i)
                rrDiag[t][i] = cum[kSubframeLength - 1 - (5 * i + t)];
    }
    // Cumulative lagged products: lagged[d][m] = sum over n <= m of hs[n] hs[n+d].
    Word16 lagged[kSubframeLength][kSubframeLength];
    // By Cauchy-Schwarz no prefix can saturate when twice the energy of h fits.
    const bool exact = dotCannotSaturate(energy(hs, kSubframeLength), energy(hs, kSubframeLength));
    for (int d = 1; d < kSubframeLength; ++d) {
        if (exact) {
            Word32 sum = 0;
            for (int n = 0; n + d < kSubframeLength; ++n) {
                sum += Word32(hs[n]) * hs[n + d];
                lagged[d][n] = extract_h(sum * 2);
            }
        } else {
            Word32 cor = 0;
            for (int n = 0; n + d < kSubframeLength; ++n) {
                cor = L_mac(cor, hs[n], hs[n + d]);
                lagged[d][n] = extract_h(cor);
            }
        }
    }
    Word16 rr[5][5][kPositions][kPositions];
    auto fill = [&](int ta, int tb) {
        for (int i = 0; i < kPositions; ++i)
            for (int j = 0; j < kPositions; ++j) {
                const int pa = 5 * i + ta, pb = 5 * j + tb;
                const int d = pa > pb ? pa - pb : pb - pa;
                const int last = kSubframeLength - 1 - (pa > pb ? pa : pb);
                rr[ta][tb][i][j] = lagged[d][last];
            }
    };
    for (int ta = 0; ta < 3; ++ta)
        for (int tb = ta + 1; tb < 5; ++tb)
            fill(ta, tb);

    Word16 dn[kSubframeLength];
    correlateTarget(h, x, dn);

    // Signs: the sign of each position's correlation, folded into the matrices.
    Word16 signDn[kSubframeLength], signDnInv[kSubframeLength];
    for (int i = 0; i < kSubframeLength; ++i) {
        if (dn[i] >= 0) {
            signDn[i] = kMax16;
            signDnInv[i] = kMin16;
        } else {
            signDn[i] = kMin16;
            signDnInv[i] = kMax16;
            dn[i] = negate(dn[i]);
        }
    }
    for (int ta = 0; ta < 3; ++ta)
        for (int i = 0; i < kPositions; ++i) {
            const Word16* psign = signDn[5 * i + ta] < 0 ? signDnInv : signDn;
            for (int tb = ta + 1; tb < 5; ++tb)
                for (int j = 0; j < kPositions; ++j)
                    rr[ta][tb][i][j] = mult(rr[ta][tb][i][j], psign[5 * j + tb]);
        }

    Word16 psk = -1, alpk = 1;
    Word16 ip0 = 0, ip1 = 1, ip2 = 2, ip3 = 3, ix = 0, iy = 0, ps = 0;
    Word16 i0 = 0, i1 = 0;
    Word16 tmpVect[kPositions];
    for (int track = 3; track < 5; ++track) {
        auto& r03 = rr[0][track];
        auto& r13 = rr[1][track];
        auto& r23 = rr[2][track];
        const Word16* r33 = rrDiag[track];

        // Depth-first search 3, phase A: track 2 and track 3/4.
        Word16 sq = -1, alp = 1;
        Word16 prev = -1;
        for (int n = 0; n < 2; ++n) {
            Word16 max = -1;
            for (Word16 j = 2; j < kSubframeLength; j += 5)
                if (dn[j] > max && prev != j) {
                    max = dn[j];
                    i0 = j;
                }
            prev = i0;
            const int jj = i0 / 5;
            const Word16 ps1 = dn[i0];
            const Word32 alp1 = L_mult(rrDiag[2][jj], kQuarter);
            for (Word16 k = 0, ii1 = Word16(track); ii1 < kSubframeLength; ii1 += 5, ++k) {
                const Word16 ps2 = add(ps1, dn[ii1]);
                Word32 alp2 = L_mac(alp1, r23[jj][k], kHalf);
                alp2 = L_mac(alp2, r33[k], kQuarter);
                const Word16 sq2 = mult(ps2, ps2);
                const Word16 alp16 = round16(alp2);
                if (L_msu(L_mult(alp, sq2), sq, alp16) > 0) {
                    sq = sq2;
                    ps = ps2;
                    alp = alp16;
                    ix = i0;
                    iy = ii1;
                }
            }
        }
        i0 = ix;
        i1 = iy;

        // Phase B: tracks 0 and 1.
        Word16 ps0 = ps;
        Word32 alp0 = L_mult(alp, kQuarter);
        sq = -1;
        alp = 1;
        for (int k = 0; k < kPositions; ++k) {
            Word32 s = L_mult(rr[1][2][k][i0 / 5], kQuarter);
            s = L_mac(s, r13[k][i1 / 5], kQuarter);
            s = L_mac(s, rrDiag[1][k], kEighth);
            tmpVect[k] = round16(s);
        }
        for (Word16 r = 0, i2 = 0; i2 < kSubframeLength; i2 += 5, ++r) {
            const Word16 ps1 = add(ps0, dn[i2]);
            Word32 alp1 = L_mac(alp0, rr[0][2][r][i0 / 5], kEighth);
            alp1 = L_mac(alp1, r03[r][i1 / 5], kEighth);
            alp1 = L_mac(alp1, rrDiag[0][r], kSixteenth);
            for (Word16 k = 0, i3 = 1; i3 < kSubframeLength; i3 += 5, ++k) {
                const Word16 ps2 = add(ps1, dn[i3]);
                Word32 alp2 = L_mac(alp1, rr[0][1][r][k], kEighth);
                alp2 = L_mac(alp2, tmpVect[k], kHalf);
                const Word16 sq2 = mult(ps2, ps2);
                const Word16 alp16 = round16(alp2);
                if (L_msu(L_mult(alp, sq2), sq, alp16) > 0) {
                    sq = sq2;
                    alp = alp16;
                    ix = i2;
                    iy = i3;
                }
            }
        }
        if (L_msu(L_mult(alpk, sq), psk, alp) > 0) {
            psk = sq;
            alpk = alp;
            ip2 = i0;
            ip3 = i1;
            ip0 = ix;
            ip1 = iy;
        }

        // Depth-first search 4, phase A: track 3/4 and track 0.
        sq = -1;
        alp = 1;
        prev = -1;
        for (int n = 0; n < 2; ++n) {
            Word16 max = -1;
            for (Word16 j = Word16(track); j < kSubframeLength; j += 5)
                if (dn[j] > max && prev != j) {
                    max = dn[j];
                    i0 = j;
                }
            prev = i0;
            const int jj = i0 / 5;
            const Word16 ps1 = dn[i0];
            const Word32 alp1 = L_mult(r33[jj], kQuarter);
            for (Word16 r = 0, ii1 = 0; ii1 < kSubframeLength; ii1 += 5, ++r) {
                const Word16 ps2 = add(ps1, dn[ii1]);
                Word32 alp2 = L_mac(alp1, r03[r][jj], kHalf);
                alp2 = L_mac(alp2, rrDiag[0][r], kQuarter);
                const Word16 sq2 = mult(ps2, ps2);
                const Word16 alp16 = round16(alp2);
                if (L_msu(L_mult(alp, sq2), sq, alp16) > 0) {
                    sq = sq2;
                    ps = ps2;
                    alp = alp16;
                    ix = i0;
                    iy = ii1;
                }
            }
        }
        i0 = ix;
        i1 = iy;

        // Phase B: tracks 1 and 2.
        ps0 = ps;
        alp0 = L_mult(alp, kQuarter);
        sq = -1;
        alp = 1;
        for (int k = 0; k < kPositions; ++k) {
            Word32 s = L_mult(r23[k][i0 / 5], kQuarter);
            s = L_mac(s, rr[0][2][i1 / 5][k], kQuarter);
            s = L_mac(s, rrDiag[2][k], kEighth);
            tmpVect[k] = round16(s);
        }
        for (Word16 r = 0, i2 = 1; i2 < kSubframeLength; i2 += 5, ++r) {
            const Word16 ps1 = add(ps0, dn[i2]);
            Word32 alp1 = L_mac(alp0, r13[r][i0 / 5], kEighth);
            alp1 = L_mac(alp1, rr[0][1][i1 / 5][r], kEighth);
            alp1 = L_mac(alp1, rrDiag[1][r], kSixteenth);
            for (Word16 k = 0, i3 = 2; i3 < kSubframeLength; i3 += 5, ++k) {
                const Word16 ps2 = add(ps1, dn[i3]);
                Word32 alp2 = L_mac(alp1, rr[1][2][r][k], kEighth);
                alp2 = L_mac(alp2, tmpVect[k], kHalf);
                const Word16 sq2 = mult(ps2, ps2);
                const Word16 alp16 = round16(alp2);
                if (L_msu(L_mult(alp, sq2), sq, alp16) > 0) {
                    sq = sq2;
                    alp = alp16;
                    ix = i2;
                    iy = i3;
                }
            }
        }
        if (L_msu(L_mult(alpk, sq), psk, alp) > 0) {
            psk = sq;
            alpk = alp;
            ip3 = i0;
            ip0 = i1;
            ip1 = ix;
            ip2 = iy;
        }
    }

    const Word16 s0 = signDn[ip0], s1 = signDn[ip1], s2 = signDn[ip2], s3 = signDn[ip3];
    std::fill(code, code + kSubframeLength, Word16(0));
    code[ip0] = shr(s0, 2);
    code[ip1] = shr(s1, 2);
    code[ip2] = shr(s2, 2);
    code[ip3] = shr(s3, 2);
    for (int i = 0; i < ip0; ++i)
        y[i] = 0;
    for (int i = ip0, j = 0; i < kSubframeLength; ++i, ++j)
        y[i] = s0 > 0 ? h[j] : negate(h[j]);
    const Word16 sp[3] = {s1, s2, s3};
    const Word16 pp[3] = {ip1, ip2, ip3};
    for (int n = 0; n < 3; ++n)
        for (int i = pp[n], j = 0; i < kSubframeLength; ++i, ++j)
            y[i] = sp[n] > 0 ? add(y[i], h[j]) : sub(y[i], h[j]);

    signIndex = Word16((s0 > 0 ? 1 : 0) + (s1 > 0 ? 2 : 0) + (s2 > 0 ? 4 : 0) + (s3 > 0 ? 8 : 0));
    const Word16 q3 = Word16(ip3 / 5);
    const Word16 j = sub(ip3, add(add(q3, shl(q3, 2)), 3));
    const Word16 code3 = add(shl(q3, 1), j);
    Word16 index = Word16(ip0 / 5);
    index = add(index, shl(Word16(ip1 / 5), 3));
    index = add(index, shl(Word16(ip2 / 5), 6));
    index = add(index, shl(code3, 9));

    if (t0 < kSubframeLength)
        for (int i = t0; i < kSubframeLength; ++i)
            code[i] = add(code[i], mult(code[i - t0], sharp));
    return index;
}

Word16 G729Encoder::quantiseGains(
    const Word16 code[], const Word16 g[], const Word16 e[], Word16& gainPit, Word16& gainCode, bool tame)
{
    Word16 gcode0, expGcode0;
    gainPredict(pastEnergy_, code, gcode0, expGcode0);

    // Unquantised optimum gains for the pre-selection.
    Word32 t1 = L_mult(g[0], g[2]);
    Word16 exp1 = add(add(e[0], e[2]), 1 - 2);
    Word32 t2 = L_mult(g[4], g[4]);
    Word16 exp2 = add(add(e[4], e[4]), 1);
    Word32 t;
    Word16 exp;
    if (exp1 > exp2) {
        t = L_sub(L_shr(t1, sub(exp1, exp2)), t2);
        exp = exp2;
    } else {
        t = L_sub(t1, L_shr(t2, sub(exp2, exp1)));
        exp = exp1;
    }
    Word16 sft = norm_l(t);
    const Word16 denom = extract_h(L_shl(t, sft));
    const Word16 expDenom = sub(add(exp, sft), 16);
    const Word16 invDenom = negate(div_s(16384, denom));
    const Word16 expInvDenom = sub(14 + 15, expDenom);

    auto bestGain = [&](int a, int b, int c, int d, Word16 q) {
        Word32 p1 = L_mult(g[a], g[b]);
        Word16 x1 = add(e[a], e[b]);
        Word32 p2 = L_mult(g[c], g[d]);
        Word16 x2 = add(add(e[c], e[d]), 1);
        Word32 v;
        Word16 xe;
        if (x1 > x2) {
            v = L_sub(L_shr(p1, add(sub(x1, x2), 1)), L_shr(p2, 1));
            xe = sub(x2, 1);
        } else {
            v = L_sub(L_shr(p1, 1), L_shr(p2, add(sub(x2, x1), 1)));
            xe = sub(x1, 1);
        }
        Word16 s = norm_l(v);
        const Word16 nume = extract_h(L_shl(v, s));
        const Word16 expNume = sub(add(xe, s), 16);
        s = sub(add(expNume, expInvDenom), q + 16 - 1);
        return extract_h(L_shr(L_mult(nume, invDenom), s));
    };
    Word16 best[2];
    best[0] = bestGain(2, 1, 3, 4, 9);  // Q9
    if (tame && best[0] > kGainClip2)
        best[0] = kGainClip2;
    best[1] = bestGain(0, 3, 1, 4, 2);  // Q2

    Word16 gcode0Q4;
    if (expGcode0 >= 4) {
        gcode0Q4 = shr(gcode0, sub(expGcode0, 4));
    } else {
        gcode0Q4 = extract_h(L_shl(L_deposit_l(gcode0), sub(4 + 16, expGcode0)));
    }

    // Pre-selection of the candidates of both codebooks.
    Word16 cand1 = 0, cand2 = 0;
    {
        Word32 cfbg = L_mult(kGainLineCoefficients[0][0], best[0]);
        Word32 acc = L_shr(kGainLineCoefficients32[1][1], 15);
        acc = L_add(cfbg, acc);
        Word16 accH = extract_h(acc);
        Word32 preg = L_mult(accH, gcode0Q4);
        acc = L_shl(L_deposit_l(best[1]), 7);
        acc = L_sub(acc, preg);
        accH = extract_h(L_shl(acc, 2));
        const Word32 tmpX = L_mult(accH, kInvCoef);

        acc = L_shr(kGainLineCoefficients32[0][1], 10);
        acc = L_sub(cfbg, acc);
        accH = extract_h(acc);
        accH = mult(accH, gcode0Q4);
        Word32 tmp = L_mult(accH, kGainLineCoefficients[1][0]);
        preg = L_mult(kGainLineCoefficients[0][0], best[1]);
        acc = L_sub(tmp, L_shr(preg, 3));
        accH = extract_h(L_shl(acc, 2));
        const Word32 tmpY = L_mult(accH, kInvCoef);

        constexpr Word16 sftY = (14 + 4 + 1) - 16;
        constexpr Word16 sftX = (15 + 4 + 1) - 15;
        if (gcode0Q4 > 0) {
            while (cand1 < kGainCodebook1Size - kGainCandidates1
                && L_sub(tmpY, L_shr(L_mult(kGainThresholds1[cand1], gcode0Q4), sftY)) > 0)
                ++cand1;
            while (cand2 < kGainCodebook2Size - kGainCandidates2
                && L_sub(tmpX, L_shr(L_mult(kGainThresholds2[cand2], gcode0Q4), sftX)) > 0)
                ++cand2;
        } else {
            while (cand1 < kGainCodebook1Size - kGainCandidates1
                && L_sub(tmpY, L_shr(L_mult(kGainThresholds1[cand1], gcode0Q4), sftY)) < 0)
                ++cand1;
            while (cand2 < kGainCodebook2Size - kGainCandidates2
                && L_sub(tmpX, L_shr(L_mult(kGainThresholds2[cand2], gcode0Q4), sftX)) < 0)
                ++cand2;
        }
    }

    // Align the correlation terms to a common exponent.
    Word16 expMin[5];
    expMin[0] = add(e[0], 13);
    expMin[1] = add(e[1], 14);
    expMin[2] = add(e[2], sub(shl(expGcode0, 1), 21));
    expMin[3] = add(e[3], sub(expGcode0, 3));
    expMin[4] = add(e[4], sub(expGcode0, 4));
    Word16 eMin = expMin[0];
    for (int i = 1; i < 5; ++i)
        if (expMin[i] < eMin)
            eMin = expMin[i];
    Word16 coeff[5], coeffLo[5];
    for (int i = 0; i < 5; ++i) {
        const Word16 j = sub(expMin[i], eMin);
        L_Extract(L_shr(L_deposit_h(g[i]), j), coeff[i], coeffLo[i]);
    }

    Word32 distMin = kMax32;
    Word16 index1 = cand1, index2 = cand2;
    for (int i = 0; i < kGainCandidates1; ++i)
        for (int j = 0; j < kGainCandidates2; ++j) {
            const Word16 gPitch = add(kGainCodebook1[cand1 + i][0], kGainCodebook2[cand2 + j][0]);
            if (tame && gPitch >= kGain0999)
                continue;
            const Word32 sum = L_add(kGainCodebook1[cand1 + i][1], kGainCodebook2[cand2 + j][1]);
            const Word16 tmp = extract_l(L_shr(sum, 1));
            const Word16 gCode = mult(gcode0, tmp);
            const Word16 g2Pitch = mult(gPitch, gPitch);
            const Word16 g2Code = mult(gCode, gCode);
            const Word16 gPitCod = mult(gCode, gPitch);
            Word32 d = Mpy_32_16(coeff[0], coeffLo[0], g2Pitch);
            d = L_add(d, Mpy_32_16(coeff[1], coeffLo[1], gPitch));
            d = L_add(d, Mpy_32_16(coeff[2], coeffLo[2], g2Code));
            d = L_add(d, Mpy_32_16(coeff[3], coeffLo[3], gCode));
            d = L_add(d, Mpy_32_16(coeff[4], coeffLo[4], gPitCod));
            if (L_sub(d, distMin) < 0) {
                distMin = d;
                index1 = Word16(cand1 + i);
                index2 = Word16(cand2 + j);
            }
        }

    gainPit = add(kGainCodebook1[index1][0], kGainCodebook2[index2][0]);
    const Word32 gbk12 = L_add(kGainCodebook1[index1][1], kGainCodebook2[index2][1]);
    const Word16 tmp = extract_l(L_shr(gbk12, 1));
    Word32 acc = L_mult(tmp, gcode0);
    acc = L_shl(acc, add(negate(expGcode0), -12 - 1 + 1 + 16));
    gainCode = extract_h(acc);
    gainUpdate(pastEnergy_, gbk12);
    return add(Word16(kGainMap1[index1] * kGainCodebook2Size), kGainMap2[index2]);
}

bool G729Encoder::tamingNeeded(Word16 t0, Word16 t0Frac) const
{
    const Word16 t1 = t0Frac > 0 ? add(t0, 1) : t0;
    Word16 i = sub(t1, kSubframeLength + 10);
    if (i < 0)
        i = 0;
    const Word16 zone1 = kTamingZone[i];
    i = add(t1, 10 - 2);
    const Word16 zone2 = kTamingZone[i];
    Word32 maxLoc = -1;
    for (int n = zone2; n >= zone1; --n)
        if (L_sub(excError_[n], maxLoc) > 0)
            maxLoc = excError_[n];
    return L_sub(maxLoc, kTamingThreshold) > 0;
}

void G729Encoder::updateTaming(Word16 gainPit, Word16 t0)
{
    Word32 worst = -1;
    auto step = [&](Word32 err) {
        Word16 hi, lo;
        L_Extract(err, hi, lo);
        Word32 t = Mpy_32_16(hi, lo, gainPit);
        t = L_shl(t, 1);
        t = L_add(0x00004000, t);
        if (L_sub(t, worst) > 0)
            worst = t;
        return t;
    };
    const Word16 n = sub(t0, kSubframeLength);
    if (n < 0) {
        const Word32 t = step(excError_[0]);
        step(t);
    } else {
        const Word16 zone1 = kTamingZone[n];
        const Word16 zone2 = kTamingZone[sub(t0, 1)];
        for (int i = zone1; i <= zone2; ++i)
            step(excError_[i]);
    }
    for (int i = 3; i >= 1; --i)
        excError_[i] = excError_[i - 1];
    excError_[0] = worst;
}

}  // namespace qm::g729
