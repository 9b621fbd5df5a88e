#include "pcm_bytes.h"

#include <cstring>
#include <utility>

namespace pcm_bytes {

void SwapBytePairs(UInt8* data, std::size_t bytes)
{
    for (std::size_t i = 0; i + 1 < bytes; i += 2) {
        std::swap(data[i], data[i + 1]);
    }
}

UInt64 CountFloatsBeyondFullScale(const UInt8* data, std::size_t from, std::size_t to, bool littleEndian)
{
    // On the magnitude's bits: above those of 1.0, up to those of infinity.
    // One branch-free pass the compiler runs in vector registers.
    constexpr UInt32 kOne = 0x3F800000u;
    constexpr UInt32 kInfinity = 0x7F800000u;
    UInt64 count = 0;
    for (std::size_t i = from; i < to; ++i) {
        UInt32 word;
        std::memcpy(&word, data + 4 * i, 4);
        if (littleEndian != (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__))
            word = __builtin_bswap32(word);
        const UInt32 magnitude = word & 0x7FFFFFFFu;
        count += UInt64(magnitude - kOne - 1 < kInfinity - kOne);
    }
    return count;
}

} // namespace pcm_bytes
