// Byte-pair swapping of 16-bit sample blocks (header fields: ByteOrder.h).
#pragma once

#include "MacTypes.h"

#include <cstddef>

namespace pcm_bytes {

// Swaps the two bytes of every whole 16-bit word in `bytes` bytes (a trailing
// odd byte stays as it is): big-endian <-> little-endian 16-bit samples.
void SwapBytePairs(UInt8* data, std::size_t bytes);

// How many of the 32-bit floats [from, to) of `data` (as a file holds them,
// least significant byte first or last) lie beyond full scale: above 1.0 or
// below -1.0, infinities too, not a number not.  What a float input's
// decoder clips when it turns them into 32-bit integers.
UInt64 CountFloatsBeyondFullScale(const UInt8* data, std::size_t from, std::size_t to, bool littleEndian);

} // namespace pcm_bytes
