#include "ieee_extended.h"
#include "ByteOrder.h"

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
    WriteBE16(out, exponent);
    WriteBE64(out + 2, mantissa);
}

double ConvertFromIeeeExtended(const UInt8* in)
{
    const UInt16 word = ReadBE16(in);
    const double sign = (word & 0x8000) ? -1.0 : 1.0;
    const int exponent = word & 0x7FFF;
    const UInt32 hi = ReadBE32(in + 2);
    const UInt32 lo = ReadBE32(in + 6);
    return sign * std::ldexp(double(hi), exponent - 16414) + sign * std::ldexp(double(lo), exponent - 16446);
}
