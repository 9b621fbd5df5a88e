#include "ieee_extended.h"

#include <cmath>
#include <cstring>

void ConvertToIeeeExtended(double value, UInt8* out)
{
    std::memset(out, 0, 10);
    UInt16 sign = 0;
    if (std::signbit(value)) {
        sign = 0x8000;
        value = -value;
    }
    UInt16 exponent = 0;
    UInt64 mantissa = 0;
    if (std::isnan(value) || std::isinf(value)) {
        exponent = 0x7FFF;
        mantissa = std::isnan(value) ? 0xC000000000000000ull : 0x8000000000000000ull;
    } else if (value != 0.0) {
        int e2 = 0;
        const double fraction = std::frexp(value, &e2);  // value = fraction * 2^e2, 0.5 <= fraction < 1
        int biased = e2 - 1 + 16383;
        if (biased <= 0) {
            // Below the extended range's normal numbers: a denormal (unreachable for doubles,
            // kept for completeness).
            biased = 0;
        }
        exponent = UInt16(biased);
        // fraction * 2^64 has its top bit set and fits 64 bits exactly (a double has 53).
        mantissa = UInt64(std::ldexp(fraction, 64));
    }
    exponent |= sign;
    out[0] = UInt8(exponent >> 8);
    out[1] = UInt8(exponent);
    for (int i = 0; i < 8; ++i) {
        out[2 + i] = UInt8(mantissa >> (56 - 8 * i));
    }
}

double ConvertFromIeeeExtended(const UInt8* in)
{
    const UInt16 word = UInt16((in[0] << 8) | in[1]);
    const double sign = (word & 0x8000) ? -1.0 : 1.0;
    const int exponent = word & 0x7FFF;
    const UInt32 hi = (UInt32(in[2]) << 24) | (UInt32(in[3]) << 16) | (UInt32(in[4]) << 8) | in[5];
    const UInt32 lo = (UInt32(in[6]) << 24) | (UInt32(in[7]) << 16) | (UInt32(in[8]) << 8) | in[9];
    return sign * std::ldexp(double(hi), exponent - 16414) + sign * std::ldexp(double(lo), exponent - 16446);
}
