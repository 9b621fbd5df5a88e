#include "MovieTestSupport.h"

#include <cstdlib>

namespace movietest {

bool RunCommand(const std::string& command)
{
    return std::system(command.c_str()) == 0;
}

std::vector<int32_t> ReadAt(CSoundFile& file, UInt32 frame, UInt32 frames)
{
    const UInt32 channels = file.GetNumChannels();
    const UInt32 bytes = UInt32(file.GetNumBits() / 8);
    std::vector<int32_t> out;
    const UInt32 end = std::min<UInt32>(frame + frames, file.GetNumFrames());
    for (UInt32 at = frame; at < end;) {
        if (file.ReadBlock(at) != noErr)
            return out;
        const UInt32 n = std::min(file.GetBufferFrames(), end - at);
        const UInt8* p = file.GetReadBuffer();
        for (UInt32 i = 0; i < n * channels; ++i, p += bytes) {
            uint32_t v = 0;
            for (UInt32 k = 0; k < bytes; ++k)
                v |= uint32_t(p[k]) << (24 - 8 * k);
            out.push_back(int32_t(v));
        }
        at += n;
    }
    return out;
}

std::vector<int32_t> DecodeBlocks(CSoundFile& file)
{
    return ReadAt(file, 0, file.GetNumFrames());
}

std::vector<int32_t> Truncate(std::vector<int32_t> samples, int bits)
{
    const uint32_t mask = bits >= 32 ? 0xFFFFFFFFu : ~((1u << (32 - bits)) - 1);
    for (int32_t& s : samples)
        s = int32_t(uint32_t(s) & mask);
    return samples;
}

} // namespace movietest
