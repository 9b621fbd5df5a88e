// Saturating 16/32-bit fixed-point arithmetic of the G.729 codec, as the
// Recommendation defines it (every kernel depends on these exact roundings).
// The overflow flag is per thread; a coder clears it where the algorithm reads it.
#pragma once

#include <cstdint>

namespace qm::g729 {

using Word16 = int16_t;
using Word32 = int32_t;

constexpr Word32 kMax32 = 0x7fffffff;
constexpr Word32 kMin32 = static_cast<Word32>(0x80000000u);
constexpr Word16 kMax16 = 0x7fff;
constexpr Word16 kMin16 = static_cast<Word16>(-32768);

// Set by a saturating operation; read by a few kernels.
extern thread_local bool gOverflow;

inline Word16 saturate(Word32 v)
{
    if (v > 0x7fff) {
        gOverflow = true;
        return kMax16;
    }
    if (v < -32768) {
        gOverflow = true;
        return kMin16;
    }
    return static_cast<Word16>(v);
}
inline Word16 add(Word16 a, Word16 b)
{
    return saturate(Word32(a) + b);
}
inline Word16 sub(Word16 a, Word16 b)
{
    return saturate(Word32(a) - b);
}
inline Word16 abs_s(Word16 a)
{
    return a == kMin16 ? kMax16 : (a < 0 ? Word16(-a) : a);
}
inline Word16 negate(Word16 a)
{
    return a == kMin16 ? kMax16 : Word16(-a);
}
inline Word16 extract_h(Word32 v)
{
    return static_cast<Word16>(v >> 16);
}
inline Word16 extract_l(Word32 v)
{
    return static_cast<Word16>(v);
}
inline Word32 L_deposit_h(Word16 v)
{
    return static_cast<Word32>(static_cast<uint32_t>(static_cast<int32_t>(v)) << 16);
}
inline Word32 L_deposit_l(Word16 v)
{
    return v;
}

Word16 shl(Word16 a, Word16 n);
inline Word16 shr(Word16 a, Word16 n)
{
    if (n < 0)
        return shl(a, Word16(-n));
    if (n >= 15)
        return a < 0 ? Word16(-1) : Word16(0);
    return static_cast<Word16>(a >> n);
}
inline Word16 shl(Word16 a, Word16 n)
{
    if (n < 0)
        return shr(a, Word16(-n));
    Word32 r = Word32(a) * (Word32(1) << (n > 16 ? 16 : n));
    if ((n > 15 && a != 0) || r != Word32(Word16(r))) {
        gOverflow = true;
        return a > 0 ? kMax16 : kMin16;
    }
    return Word16(r);
}

inline Word16 mult(Word16 a, Word16 b)
{
    Word32 p = (Word32(a) * Word32(b)) >> 15;
    return saturate(p);
}
inline Word32 L_mult(Word16 a, Word16 b)
{
    Word32 p = Word32(a) * Word32(b);
    if (p != 0x40000000)
        return p * 2;
    gOverflow = true;
    return kMax32;
}
inline Word32 L_add(Word32 a, Word32 b)
{
    Word32 s;
    if (__builtin_add_overflow(a, b, &s)) {
        gOverflow = true;
        return a < 0 ? kMin32 : kMax32;
    }
    return s;
}
inline Word32 L_sub(Word32 a, Word32 b)
{
    Word32 d;
    if (__builtin_sub_overflow(a, b, &d)) {
        gOverflow = true;
        return a < 0 ? kMin32 : kMax32;
    }
    return d;
}
inline Word32 L_mac(Word32 acc, Word16 a, Word16 b)
{
    return L_add(acc, L_mult(a, b));
}
inline Word32 L_msu(Word32 acc, Word16 a, Word16 b)
{
    return L_sub(acc, L_mult(a, b));
}
inline Word32 L_negate(Word32 v)
{
    return v == kMin32 ? kMax32 : -v;
}
inline Word32 L_abs(Word32 v)
{
    return v == kMin32 ? kMax32 : (v < 0 ? -v : v);
}

Word32 L_shl(Word32 v, Word16 n);
inline Word32 L_shr(Word32 v, Word16 n)
{
    if (n < 0)
        return L_shl(v, Word16(-n));
    if (n >= 31)
        return v < 0 ? -1 : 0;
    return v >> n;
}
inline Word32 L_shl(Word32 v, Word16 n)
{
    if (n <= 0)
        return L_shr(v, Word16(-n));
    for (; n > 0; --n) {
        if (v > 0x3fffffff) {
            gOverflow = true;
            return kMax32;
        }
        if (v < Word32(-0x40000000)) {
            gOverflow = true;
            return kMin32;
        }
        v *= 2;
    }
    return v;
}
inline Word16 round16(Word32 v)
{
    return extract_h(L_add(v, 0x00008000));
}
inline Word16 mult_r(Word16 a, Word16 b)
{
    Word32 p = Word32(a) * Word32(b) + 0x4000;
    return saturate(p >> 15);
}
inline Word16 mac_r(Word32 acc, Word16 a, Word16 b)
{
    return round16(L_mac(acc, a, b));
}
inline Word16 msu_r(Word32 acc, Word16 a, Word16 b)
{
    return round16(L_msu(acc, a, b));
}
inline Word16 shr_r(Word16 v, Word16 n)
{
    if (n > 15)
        return 0;
    Word16 r = shr(v, n);
    if (n > 0 && (v & (1 << (n - 1))) != 0)
        r++;
    return r;
}
inline Word32 L_shr_r(Word32 v, Word16 n)
{
    if (n > 31)
        return 0;
    Word32 r = L_shr(v, n);
    if (n > 0 && (v & (Word32(1) << (n - 1))) != 0)
        r++;
    return r;
}
inline Word16 norm_s(Word16 v)
{
    if (v == 0)
        return 0;
    if (v == -1)
        return 15;
    if (v < 0)
        v = Word16(~v);
    Word16 n = 0;
    for (; v < 0x4000; ++n)
        v = Word16(v << 1);
    return n;
}
inline Word16 norm_l(Word32 v)
{
    if (v == 0)
        return 0;
    if (v == -1)
        return 31;
    if (v < 0)
        v = ~v;
    Word16 n = 0;
    for (; v < 0x40000000; ++n)
        v <<= 1;
    return n;
}
// L_mac (or L_msu) of n products x[i*xStep] * y[i*yStep] onto acc, in
// order.  When no partial sum can leave the 32-bit range the exact sum is
// taken at once; otherwise the saturating chain runs as the reference does.
inline Word32 macSeries(Word32 acc, const Word16* x, int xStep, const Word16* y, int yStep, int n)
{
    int64_t sum = acc, bound = acc < 0 ? -int64_t(acc) : acc;
    for (int i = 0; i < n; ++i) {
        const int64_t p = 2 * int64_t(x[i * xStep]) * y[i * yStep];
        sum += p;
        bound += p < 0 ? -p : p;
    }
    if (bound <= kMax32)
        return Word32(sum);
    for (int i = 0; i < n; ++i)
        acc = L_mac(acc, x[i * xStep], y[i * yStep]);
    return acc;
}
inline Word32 msuSeries(Word32 acc, const Word16* x, int xStep, const Word16* y, int yStep, int n)
{
    int64_t sum = acc, bound = acc < 0 ? -int64_t(acc) : acc;
    for (int i = 0; i < n; ++i) {
        const int64_t p = 2 * int64_t(x[i * xStep]) * y[i * yStep];
        sum -= p;
        bound += p < 0 ? -p : p;
    }
    if (bound <= kMax32)
        return Word32(sum);
    for (int i = 0; i < n; ++i)
        acc = L_msu(acc, x[i * xStep], y[i * yStep]);
    return acc;
}

// 2 * sum of x[i] * y[i] for a caller that has shown (by the energies of
// x and y) that no partial sum of the L_mac chain can saturate: the exact
// chain result, computed without the checks.
inline Word32 dotUnsaturated(const Word16* x, const Word16* y, int n)
{
    Word32 s = 0;
    for (int i = 0; i < n; ++i)
        s += Word32(x[i]) * y[i];
    return s * 2;
}
inline Word32 dotUnsaturated2(const Word16* x, const Word16* y, int n)
{  // every other sample
    Word32 s = 0;
    for (int i = 0; i < n; ++i)
        s += Word32(x[2 * i]) * y[2 * i];
    return s * 2;
}
inline int64_t energy(const Word16* x, int n)
{
    int64_t e = 0;
    for (int i = 0; i < n; ++i)
        e += Word32(x[i]) * x[i];
    return e;
}
// Whether every partial sum of 2 x.y (and init) stays inside 32 bits, by
// Cauchy-Schwarz on the energies of the two vectors.
inline bool dotCannotSaturate(int64_t ex, int64_t ey, Word32 init = 0)
{
    const int64_t margin = int64_t(kMax32) - (init < 0 ? -int64_t(init) : init);
    if (margin <= 0)
        return false;
    // 2 sqrt(ex ey) <= margin  <=>  4 ex ey <= margin^2
    return static_cast<unsigned __int128>(4) * static_cast<unsigned __int128>(ex) * static_cast<unsigned __int128>(ey)
        <= static_cast<unsigned __int128>(margin) * static_cast<unsigned __int128>(margin);
}

// Fractional division: 0 <= num <= den, den > 0 (the codec keeps to this range).
Word16 div_s(Word16 num, Word16 den);

// Double-precision (hi, lo) format: L = hi<<16 + lo<<1.
inline void L_Extract(Word32 v, Word16& hi, Word16& lo)
{
    hi = extract_h(v);
    lo = extract_l(L_msu(L_shr(v, 1), hi, 16384));
}
inline Word32 L_Comp(Word16 hi, Word16 lo)
{
    return L_mac(L_deposit_h(hi), lo, 1);
}
inline Word32 Mpy_32(Word16 hi1, Word16 lo1, Word16 hi2, Word16 lo2)
{
    Word32 r = L_mult(hi1, hi2);
    r = L_mac(r, mult(hi1, lo2), 1);
    return L_mac(r, mult(lo1, hi2), 1);
}
inline Word32 Mpy_32_16(Word16 hi, Word16 lo, Word16 n)
{
    return L_mac(L_mult(hi, n), mult(lo, n), 1);
}
Word32 Div_32(Word32 num, Word16 denHi, Word16 denLo);

// 2^(exponent.fraction), log2 and 1/sqrt by table interpolation.
Word32 Pow2(Word16 exponent, Word16 fraction);
void Log2(Word32 v, Word16& exponent, Word16& fraction);
Word32 Inv_sqrt(Word32 v);

}  // namespace qm::g729
