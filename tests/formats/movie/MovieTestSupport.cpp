#include "MovieTestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace movietest {

bool RunCommand(const std::string& command)
{
    return std::system(command.c_str()) == 0;
}

std::vector<uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<int32_t> FfmpegDecode(const std::string& path)
{
    const std::string raw = path + ".s32";
    if (!RunCommand("ffmpeg -nostdin -loglevel error -y -i '" + path + "' -f s32le '" + raw + "'"))
        return {};
    const std::vector<uint8_t> bytes = ReadBytes(raw);
    std::remove(raw.c_str());
    std::vector<int32_t> samples(bytes.size() / 4);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = int32_t(uint32_t(bytes[4 * i]) | (uint32_t(bytes[4 * i + 1]) << 8) |
                             (uint32_t(bytes[4 * i + 2]) << 16) | (uint32_t(bytes[4 * i + 3]) << 24));
    return samples;
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
