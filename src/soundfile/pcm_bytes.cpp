#include "pcm_bytes.h"

#include <utility>

namespace pcm_bytes {

void SwapBytePairs(UInt8* data, std::size_t bytes)
{
    for (std::size_t i = 0; i + 1 < bytes; i += 2) {
        std::swap(data[i], data[i + 1]);
    }
}

} // namespace pcm_bytes
