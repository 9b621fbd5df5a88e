#include "G729Math.h"

#include "G729Tables.h"

namespace qm::g729 {

thread_local bool gOverflow = false;

Word16 div_s(Word16 num, Word16 den)
{
    // Outside the defined range the result is clamped rather than undefined.
    if (den <= 0 || num < 0)
        return 0;
    if (num >= den)
        return kMax16;
    // The reference's 15-step restoring division is the truncated quotient.
    return static_cast<Word16>((Word32(num) << 15) / den);
}

Word32 Div_32(Word32 num, Word16 denHi, Word16 denLo)
{
    // 1/den by one Newton step from a 16-bit first approximation, times num.
    Word16 approx = div_s(0x3fff, denHi);
    Word32 t = Mpy_32_16(denHi, denLo, approx);
    t = L_sub(kMax32, t);
    Word16 hi, lo;
    L_Extract(t, hi, lo);
    t = Mpy_32_16(hi, lo, approx);
    L_Extract(t, hi, lo);
    Word16 nHi, nLo;
    L_Extract(num, nHi, nLo);
    t = Mpy_32(nHi, nLo, hi, lo);
    return L_shl(t, 2);
}

Word32 Pow2(Word16 exponent, Word16 fraction)
{
    Word32 x = L_mult(fraction, 32);
    Word16 i = extract_h(x);
    x = L_shr(x, 1);
    Word16 a = Word16(extract_l(x) & 0x7fff);
    x = L_deposit_h(kPowerTable[i]);
    Word16 t = sub(kPowerTable[i], kPowerTable[i + 1]);
    x = L_msu(x, t, a);
    return L_shr_r(x, sub(30, exponent));
}

void Log2(Word32 v, Word16& exponent, Word16& fraction)
{
    if (v <= 0) {
        exponent = 0;
        fraction = 0;
        return;
    }
    Word16 e = norm_l(v);
    v = L_shl(v, e);
    exponent = sub(30, e);
    v = L_shr(v, 9);
    Word16 i = extract_h(v);
    v = L_shr(v, 1);
    Word16 a = Word16(extract_l(v) & 0x7fff);
    i = sub(i, 32);
    Word32 y = L_deposit_h(kLogTable[i]);
    Word16 t = sub(kLogTable[i], kLogTable[i + 1]);
    y = L_msu(y, t, a);
    fraction = extract_h(y);
}

Word32 Inv_sqrt(Word32 v)
{
    if (v <= 0)
        return 0x3fffffff;
    Word16 e = norm_l(v);
    v = L_shl(v, e);
    e = sub(30, e);
    if ((e & 1) == 0)
        v = L_shr(v, 1);
    e = shr(e, 1);
    e = add(e, 1);
    v = L_shr(v, 9);
    Word16 i = extract_h(v);
    v = L_shr(v, 1);
    Word16 a = Word16(extract_l(v) & 0x7fff);
    i = sub(i, 16);
    Word32 y = L_deposit_h(kInverseSqrtTable[i]);
    Word16 t = sub(kInverseSqrtTable[i], kInverseSqrtTable[i + 1]);
    y = L_msu(y, t, a);
    return L_shr(y, e);
}

}  // namespace qm::g729
