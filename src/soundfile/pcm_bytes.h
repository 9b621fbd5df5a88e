// Byte-pair swapping of 16-bit sample blocks (header fields: ByteOrder.h).
#pragma once

#include "MacTypes.h"

#include <cstddef>

namespace pcm_bytes {

// Swaps the two bytes of every whole 16-bit word in `bytes` bytes (a trailing
// odd byte stays as it is): big-endian <-> little-endian 16-bit samples.
void SwapBytePairs(UInt8* data, std::size_t bytes);

} // namespace pcm_bytes
