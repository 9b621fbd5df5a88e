// The 80-bit IEEE extended numbers that AIFF, AIFF-C and a few other formats
// use for their sample rates: 10 bytes, most significant first: sign and a
// 15-bit exponent (bias 16383), then a 64-bit mantissa with an explicit
// integer bit.
#pragma once

#include "MacTypes.h"

// Encodes `value` into `out` (10 bytes).  Zero encodes as ten zero bytes;
// infinities and not-a-number encode as the largest exponent.
void ConvertToIeeeExtended(double value, UInt8* out);
// Decodes 10 bytes: sign * hi * 2^(e - 16414) + sign * lo * 2^(e - 16446).
double ConvertFromIeeeExtended(const UInt8* in);
