#include "G729Math.h"

#include "G729Tables.h"

namespace qm::g729 {

thread_local bool gOverflow = false;

namespace {

// Linear interpolation in one of the 16-bit function tables: the index is
// the high word of v less `first`, the weight the 15 bits below it.
Word32 Interpolate(const int16_t* table, Word32 v, Word16 first)
{
    const Word16 i = sub(extract_h(v), first);
    v = L_shr(v, 1);
    const Word16 a = Word16(extract_l(v) & 0x7fff);
    const Word32 y = L_deposit_h(table[i]);
    const Word16 t = sub(table[i], table[i + 1]);
    return L_msu(y, t, a);
}

}  // namespace

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
    const Word32 x = Interpolate(kPowerTable, L_mult(fraction, 32), 0);
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
    fraction = extract_h(Interpolate(kLogTable, L_shr(v, 9), 32));
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
    return L_shr(Interpolate(kInverseSqrtTable, L_shr(v, 9), 16), e);
}

}  // namespace qm::g729
