// Byte-order helpers shared by the format classes: big-endian header
// fields in raw byte buffers, and byte-pair swapping of 16-bit sample blocks.
#pragma once

#include "MacTypes.h"

#include <cstddef>

namespace pcm_bytes {

inline UInt16 GetBE16(const UInt8* p)
{
    return UInt16((p[0] << 8) | p[1]);
}

inline UInt32 GetBE32(const UInt8* p)
{
    return (UInt32(p[0]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | UInt32(p[3]);
}

inline void PutBE16(UInt8* p, UInt16 v)
{
    p[0] = UInt8(v >> 8);
    p[1] = UInt8(v);
}

inline void PutBE32(UInt8* p, UInt32 v)
{
    p[0] = UInt8(v >> 24);
    p[1] = UInt8(v >> 16);
    p[2] = UInt8(v >> 8);
    p[3] = UInt8(v);
}

// Swaps the two bytes of every whole 16-bit word in `bytes` bytes (a trailing
// odd byte stays as it is): big-endian <-> little-endian 16-bit samples.
void SwapBytePairs(UInt8* data, std::size_t bytes);

} // namespace pcm_bytes
