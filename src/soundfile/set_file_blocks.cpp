#include "set_file_blocks.h"

#include <cstring>

std::size_t SetSampleBytes(SInt16 bits)
{
    switch (bits) {
    case 8: return 1;
    case 16: return 2;
    case 24: return 3;
    case 32: return 4;
    default: return 0;
    }
}

namespace {

// Copies `frames` samples of `sampleBytes` each, stepping `srcStep` bytes in
// the source and `dstStep` bytes in the destination.
void CopyStridedSamples(const UInt8* src, std::size_t srcStep, UInt8* dst, std::size_t dstStep, std::size_t frames,
                        std::size_t sampleBytes)
{
    for (std::size_t i = 0; i < frames; ++i, src += srcStep, dst += dstStep)
        std::memcpy(dst, src, sampleBytes);
}

} // namespace

void InterleaveMemberBlocks(const std::vector<const UInt8*>& members, UInt8* interleaved,
                            std::size_t frames, std::size_t sampleBytes)
{
    if (!interleaved || sampleBytes == 0)
        return;
    const std::size_t count = members.size();
    const std::size_t frameBytes = count * sampleBytes;
    for (std::size_t k = 0; k < count; ++k) {
        const UInt8* src = members[k];
        UInt8* dst = interleaved + k * sampleBytes;
        if (!src) {
            for (std::size_t i = 0; i < frames; ++i, dst += frameBytes)
                std::memset(dst, 0, sampleBytes);
            continue;
        }
        CopyStridedSamples(src, sampleBytes, dst, frameBytes, frames, sampleBytes);
    }
}

void DeinterleaveMemberBlocks(const UInt8* interleaved, const std::vector<UInt8*>& members,
                              std::size_t frames, std::size_t sampleBytes)
{
    if (!interleaved || sampleBytes == 0)
        return;
    const std::size_t count = members.size();
    const std::size_t frameBytes = count * sampleBytes;
    for (std::size_t k = 0; k < count; ++k) {
        UInt8* dst = members[k];
        if (!dst)
            continue;
        CopyStridedSamples(interleaved + k * sampleBytes, frameBytes, dst, sampleBytes, frames, sampleBytes);
    }
}

void ClearMemberBlockTail(UInt8* block, std::size_t from, std::size_t frames, std::size_t sampleBytes)
{
    if (!block || from >= frames || sampleBytes == 0)
        return;
    std::memset(block + from * sampleBytes, 0, (frames - from) * sampleBytes);
}
