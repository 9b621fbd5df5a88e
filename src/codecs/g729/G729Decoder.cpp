#include "G729Decoder.h"

#include <algorithm>
#include <iterator>

#include "G729Dsp.h"

namespace qm::g729 {

namespace {
constexpr Word16 kGamma2Post = 18022;  // 0.55: numerator of the formant post-filter
constexpr Word16 kGamma1Post = 22938;  // 0.70: denominator
constexpr Word16 kTiltFactor = 26214;  // 0.8
constexpr Word16 kAgcFactor = 29491;  // 0.9
constexpr Word16 kAgcFactor1 = 3276;  // 1 - 0.9
constexpr Word16 kGammaP = 16384;  // 0.5: harmonic post-filter
constexpr Word16 kInvGammaP = 21845;  // 1 / (1 + 0.5)
constexpr Word16 kGammaP2 = 10923;  // 0.5 / (1 + 0.5)
constexpr int kImpulseLength = 22;
constexpr int kExcOffset = kPitchMax + kInterpolationLength;
}  // namespace

G729Decoder::G729Decoder()
{
    reset();
}

void G729Decoder::reset()
{
    std::fill(std::begin(oldExc_), std::end(oldExc_), Word16(0));
    std::copy(std::begin(kLspInitial), std::end(kLspInitial), lspOld_);
    std::fill(std::begin(memSyn_), std::end(memSyn_), Word16(0));
    sharp_ = kSharpMin;
    oldT0_ = 60;
    gainCode_ = 0;
    gainPitch_ = 0;
    seedErasure_ = 21845;
    for (auto& row : freqPrev_)
        std::copy(std::begin(kLsfInitial), std::end(kLsfInitial), row);
    prevMa_ = 0;
    std::copy(std::begin(kLsfInitial), std::end(kLsfInitial), prevLsf_);
    std::fill(std::begin(pastEnergy_), std::end(pastEnergy_), Word16(-14336));
    std::fill(std::begin(synthBuf_), std::end(synthBuf_), Word16(0));
    std::fill(std::begin(res2Buf_), std::end(res2Buf_), Word16(0));
    std::fill(std::begin(scaledRes2Buf_), std::end(scaledRes2Buf_), Word16(0));
    std::fill(std::begin(memSynPost_), std::end(memSynPost_), Word16(0));
    memPreemphasis_ = 0;
    pastGain_ = 4096;
    outputFilter_.reset();
    lsfWarnings_ = 0;
}

void G729Decoder::decodeFrame(const uint16_t params[kParameterCount], bool erased, int16_t out[kFrameLength])
{
    Word16 prm[kParameterCount];
    for (int i = 0; i < kParameterCount; ++i)
        prm[i] = static_cast<Word16>(params[i]);
    prm[3] = checkPitchParity(prm[2], prm[3]);
    Word16 az[2 * kOrderPlus1];
    Word16 delays[2];
    Word16* synth = synthBuf_ + kOrder;
    synthesise(prm, erased, synth, az, delays);
    postFilter(synth, az, delays);
    outputFilter_.filter(synth, kFrameLength);
    std::copy(synth, synth + kFrameLength, out);
}

void G729Decoder::decodeLsp(const Word16 params[2], bool erased, Word16 lsp[kOrder])
{
    Word16 lsf[kOrder];
    if (!erased) {
        const Word16 mode = Word16(shr(params[0], 7) & 1);
        const Word16 code0 = Word16(params[0] & (kCodebook1Size - 1));
        const Word16 code1 = Word16(shr(params[1], 5) & (kCodebook2Size - 1));
        const Word16 code2 = Word16(params[1] & (kCodebook2Size - 1));
        int w = lspGetQuantised(code0, code1, code2, kLspPredictor[mode], freqPrev_, lsf, kLspPredictorSum[mode]);
        lsfWarnings_ += (w & 1) + ((w >> 1) & 1);
        std::copy(lsf, lsf + kOrder, prevLsf_);
        prevMa_ = mode;
    } else {
        std::copy(prevLsf_, prevLsf_ + kOrder, lsf);
        Word16 buf[kOrder];
        lspExtract(prevLsf_, buf, kLspPredictor[prevMa_], freqPrev_, kLspPredictorSumInverse[prevMa_]);
        lspShiftHistory(buf, freqPrev_);
    }
    lsfToLsp(lsf, lsp);
}

void G729Decoder::decodeGains(Word16 index, const Word16 code[], bool erased)
{
    if (erased) {
        gainPitch_ = mult(gainPitch_, 29491);
        if (gainPitch_ > 29491)
            gainPitch_ = 29491;
        gainCode_ = mult(gainCode_, 32111);
        gainUpdateErasure(pastEnergy_);
        return;
    }
    const Word16 index1 = kGainInverseMap1[shr(index, 4)];
    const Word16 index2 = kGainInverseMap2[index & (kGainCodebook2Size - 1)];
    gainPitch_ = add(kGainCodebook1[index1][0], kGainCodebook2[index2][0]);
    Word16 gcode0, expGcode0;
    gainPredict(pastEnergy_, code, gcode0, expGcode0);
    const Word32 gbk12 = L_add(kGainCodebook1[index1][1], kGainCodebook2[index2][1]);  // Q13
    const Word16 tmp = extract_l(L_shr(gbk12, 1));
    Word32 acc = L_mult(tmp, gcode0);
    acc = L_shl(acc, add(negate(expGcode0), -12 - 1 + 1 + 16));
    gainCode_ = extract_h(acc);
    gainUpdate(pastEnergy_, gbk12);
}

void G729Decoder::synthesise(const Word16 prm[], bool erased, Word16 synth[], Word16 az[], Word16 delays[2])
{
    Word16* exc = oldExc_ + kExcOffset;
    Word16 lspNew[kOrder];
    decodeLsp(prm, erased, lspNew);
    interpolateLpc(lspOld_, lspNew, az);
    std::copy(lspNew, lspNew + kOrder, lspOld_);

    const Word16* p = prm + 2;
    Word16 t0 = 0, t0Frac = 0;
    Word16 code[kSubframeLength];
    for (int sf = 0; sf < kFrameLength; sf += kSubframeLength) {
        const Word16* a = az + (sf / kSubframeLength) * kOrderPlus1;
        Word16 index = *p++;
        bool badPitch = erased;
        if (sf == 0) {
            const Word16 parityError = *p++;
            badPitch = erased || parityError != 0;
        }
        if (!badPitch) {
            decodeLag(index, sf, t0, t0Frac);
            oldT0_ = t0;
        } else {
            t0 = oldT0_;
            t0Frac = 0;
            oldT0_ = add(oldT0_, 1);
            if (oldT0_ > kPitchMax)
                oldT0_ = kPitchMax;
        }
        delays[sf / kSubframeLength] = t0;

        predictLongTerm(&exc[sf], t0, t0Frac, kSubframeLength);

        Word16 positions = p[0], signs = p[1];
        if (erased) {
            positions = Word16(nextRandom(seedErasure_) & 0x1fff);
            signs = Word16(nextRandom(seedErasure_) & 0x000f);
        }
        decodeAcelp(signs, positions, code);
        p += 2;
        const Word16 sharpQ15 = shl(sharp_, 1);
        if (t0 < kSubframeLength)
            for (int i = t0; i < kSubframeLength; ++i)
                code[i] = add(code[i], mult(code[i - t0], sharpQ15));

        decodeGains(*p++, code, erased);
        sharp_ = std::clamp(gainPitch_, kSharpMin, kSharpMax);

        for (int i = 0; i < kSubframeLength; ++i) {
            Word32 t = L_mult(exc[i + sf], gainPitch_);
            t = L_mac(t, code[i], gainCode_);
            t = L_shl(t, 1);
            exc[i + sf] = round16(t);
        }

        gOverflow = false;
        synthesisFilter(a, &exc[sf], &synth[sf], kSubframeLength, memSyn_, false);
        if (gOverflow) {
            // Overflow in the synthesis: scale the excitation down and redo it.
            for (auto& v : oldExc_)
                v = shr(v, 2);
            synthesisFilter(a, &exc[sf], &synth[sf], kSubframeLength, memSyn_, true);
        } else {
            std::copy(&synth[sf + kSubframeLength - kOrder], &synth[sf + kSubframeLength], memSyn_);
        }
    }
    std::copy(oldExc_ + kFrameLength, oldExc_ + kFrameLength + kExcOffset, oldExc_);
}

void G729Decoder::postFilter(Word16 syn[], const Word16 azAll[], const Word16 delays[2])
{
    Word16* res2 = res2Buf_ + kPitchMax;
    Word16* scaledRes2 = scaledRes2Buf_ + kPitchMax;
    Word16 synPost[kFrameLength];
    Word16 res2Post[kSubframeLength];
    Word16 ap3[kOrderPlus1], ap4[kOrderPlus1];
    Word16 h[kImpulseLength];

    for (int sf = 0; sf < kFrameLength; sf += kSubframeLength) {
        const Word16* az = azAll + (sf / kSubframeLength) * kOrderPlus1;
        Word16 t0Min = sub(delays[sf / kSubframeLength], 3);
        Word16 t0Max = add(t0Min, 6);
        if (t0Max > kPitchMax) {
            t0Max = kPitchMax;
            t0Min = sub(t0Max, 6);
        }
        weightAz(az, kGamma2Post, ap3);
        weightAz(az, kGamma1Post, ap4);
        residual(ap3, &syn[sf], res2, kSubframeLength);
        for (int j = 0; j < kSubframeLength; ++j)
            scaledRes2[j] = shr(res2[j], 2);

        pitchPostFilter(res2, scaledRes2, t0Min, t0Max, res2Post);

        // Tilt compensation from the impulse response of A(z/g2)/A(z/g1).
        std::copy(ap3, ap3 + kOrderPlus1, h);
        std::fill(h + kOrderPlus1, h + kImpulseLength, Word16(0));
        synthesisFilter(ap4, h, h, kImpulseLength, &h[kOrderPlus1], false);
        Word32 t = L_mult(h[0], h[0]);
        for (int i = 1; i < kImpulseLength; ++i)
            t = L_mac(t, h[i], h[i]);
        const Word16 temp1 = extract_h(t);
        t = L_mult(h[0], h[1]);
        for (int i = 1; i < kImpulseLength - 1; ++i)
            t = L_mac(t, h[i], h[i + 1]);
        Word16 temp2 = extract_h(t);
        if (temp2 <= 0) {
            temp2 = 0;
        } else {
            temp2 = mult(temp2, kTiltFactor);
            temp2 = div_s(temp2, temp1);
        }
        preemphasis(res2Post, temp2);

        synthesisFilter(ap4, res2Post, &synPost[sf], kSubframeLength, memSynPost_, true);
        gainControl(&syn[sf], &synPost[sf]);

        std::copy(&res2[kSubframeLength - kPitchMax], &res2[kSubframeLength], &res2[-kPitchMax]);
        std::copy(&scaledRes2[kSubframeLength - kPitchMax], &scaledRes2[kSubframeLength], &scaledRes2[-kPitchMax]);
    }
    std::copy(&syn[kFrameLength - kOrder], &syn[kFrameLength], &syn[-kOrder]);
    std::copy(synPost, synPost + kFrameLength, syn);
}

void G729Decoder::pitchPostFilter(
    const Word16 signal[], const Word16 scaled[], Word16 t0Min, Word16 t0Max, Word16 out[])
{
    Word32 corMax = kMin32;
    Word16 t0 = t0Min;
    for (Word16 i = t0Min; i <= t0Max; ++i) {
        const Word32 corr = macSeries(0, scaled, 1, scaled - i, 1, kSubframeLength);
        if (L_sub(corr, corMax) > 0) {
            corMax = corr;
            t0 = i;
        }
    }
    const Word32 ener = macSeries(1, scaled - t0, 1, scaled - t0, 1, kSubframeLength);
    const Word32 ener0 = macSeries(1, scaled, 1, scaled, 1, kSubframeLength);
    if (corMax < 0)
        corMax = 0;

    Word32 temp = std::max({corMax, ener, ener0});
    const Word16 j = norm_l(temp);
    Word16 cmax = round16(L_shl(corMax, j));
    Word16 en = round16(L_shl(ener, j));
    const Word16 en0 = round16(L_shl(ener0, j));

    temp = L_mult(cmax, cmax);
    temp = L_sub(temp, L_shr(L_mult(en, en0), 1));
    if (temp < 0) {  // prediction gain below 3 dB: no harmonic post-filter
        std::copy(signal, signal + kSubframeLength, out);
        return;
    }
    Word16 g0, gain;
    if (cmax > en) {
        g0 = kInvGammaP;
        gain = kGammaP2;
    } else {
        cmax = shr(mult(cmax, kGammaP), 1);
        en = shr(en, 1);
        const Word16 s = add(cmax, en);
        if (s > 0) {
            gain = div_s(cmax, s);
            g0 = sub(32767, gain);
        } else {
            g0 = 32767;
            gain = 0;
        }
    }
    for (int i = 0; i < kSubframeLength; ++i)
        out[i] = add(mult(g0, signal[i]), mult(gain, signal[i - t0]));
}

void G729Decoder::preemphasis(Word16 signal[], Word16 g)
{
    const Word16 last = signal[kSubframeLength - 1];
    for (int i = kSubframeLength - 1; i > 0; --i)
        signal[i] = sub(signal[i], mult(g, signal[i - 1]));
    signal[0] = sub(signal[0], mult(g, memPreemphasis_));
    memPreemphasis_ = last;
}

void G729Decoder::gainControl(const Word16 in[], Word16 out[])
{
    Word16 sig[kSubframeLength];
    for (int i = 0; i < kSubframeLength; ++i)
        sig[i] = shr(out[i], 2);
    Word32 s = 0;
    for (int i = 0; i < kSubframeLength; ++i)
        s = L_mac(s, sig[i], sig[i]);
    if (s == 0) {
        pastGain_ = 0;
        return;
    }
    Word16 exp = sub(norm_l(s), 1);
    const Word16 gainOut = round16(L_shl(s, exp));

    for (int i = 0; i < kSubframeLength; ++i)
        sig[i] = shr(in[i], 2);
    s = 0;
    for (int i = 0; i < kSubframeLength; ++i)
        s = L_mac(s, sig[i], sig[i]);
    Word16 g0;
    if (s == 0) {
        g0 = 0;
    } else {
        const Word16 n = norm_l(s);
        const Word16 gainIn = round16(L_shl(s, n));
        exp = sub(exp, n);
        s = L_deposit_l(div_s(gainOut, gainIn));
        s = L_shl(s, 7);
        s = L_shr(s, exp);
        s = Inv_sqrt(s);
        const Word16 r = round16(L_shl(s, 9));
        g0 = mult(r, kAgcFactor1);
    }
    Word16 gain = pastGain_;
    for (int i = 0; i < kSubframeLength; ++i) {
        gain = mult(gain, kAgcFactor);
        gain = add(gain, g0);
        out[i] = extract_h(L_shl(L_mult(out[i], gain), 3));
    }
    pastGain_ = gain;
}

}  // namespace qm::g729
