// Reading a movie source the way the media tests compare it.
#pragma once

#include "MovieSource.h"

#include <algorithm>
#include <vector>

// `frames` frames from `source`'s position, interleaved, each with only the
// bits of `keep` (0xFFFFFF00: cut to 24 bits, the reach of float decoders).
inline std::vector<SInt32> ReadInterleaved(MovieSource& source, UInt64 frames, UInt32 keep = 0xFFFFFFFFu)
{
    const UInt32 channels = source.Channels();
    constexpr UInt32 kBlock = 3000;
    std::vector<std::vector<SInt32>> planes(channels, std::vector<SInt32>(kBlock));
    std::vector<SInt32*> pointers;
    for (auto& plane : planes)
        pointers.push_back(plane.data());
    std::vector<SInt32> out;
    while (frames > 0) {
        UInt32 delivered = 0;
        if (source.Read(pointers.data(), UInt32(std::min<UInt64>(frames, kBlock)), &delivered) != noErr ||
            delivered == 0)
            break;
        for (UInt32 i = 0; i < delivered; ++i)
            for (UInt32 c = 0; c < channels; ++c)
                out.push_back(SInt32(UInt32(planes[c][i]) & keep));
        frames -= delivered;
    }
    return out;
}
