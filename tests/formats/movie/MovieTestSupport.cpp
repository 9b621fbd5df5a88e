#include "MovieTestSupport.h"
#include "SoundFileSamples.h"

#include <cstdlib>

namespace movietest {

bool RunCommand(const std::string& command)
{
    return std::system(command.c_str()) == 0;
}

std::vector<int32_t> ReadAt(CSoundFile& file, UInt32 frame, UInt32 frames)
{
    return soundfilesamples::ReadSamples(file, frame, frames);
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
