// The Core Audio Format reader on damaged files: the container walk, the
// layout mapping and the decoding behind it.
#include "CafFile.h"
#include "FuzzTarget.h"
#include "SoundFileFuzzRead.h"

#include <string>
#include <vector>

namespace {

void Put32(std::string& s, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        s.push_back(char(v >> shift));
}

void Put64(std::string& s, uint64_t v)
{
    Put32(s, uint32_t(v >> 32));
    Put32(s, uint32_t(v));
}

// A linear-PCM CAF of `channels` 16-bit channels with a layout tag.
std::string CafImage(uint32_t channels, uint32_t tag, uint32_t frames)
{
    std::string s = "caff";
    s += std::string("\0\1\0\0", 4);
    s += "desc";
    Put64(s, 32);
    Put64(s, 0x40E5888000000000ull); // 44100.0
    s += "lpcm";
    Put32(s, 0);
    Put32(s, 2 * channels);
    Put32(s, 1);
    Put32(s, channels);
    Put32(s, 16);
    s += "chan";
    Put64(s, 12);
    Put32(s, tag);
    Put32(s, 0);
    Put32(s, 0);
    s += "data";
    Put64(s, 4 + uint64_t(frames) * 2 * channels);
    Put32(s, 0);
    for (uint32_t i = 0; i < frames * channels; ++i) {
        s.push_back(char(i * 37));
        s.push_back(char(i * 11));
    }
    return s;
}

} // namespace

std::vector<std::string> FuzzSeeds()
{
    return {CafImage(2, 0x650002, 40), CafImage(6, 0x7A0006, 20), CafImage(1, 0x640001, 30)};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return soundfilefuzz::ReadAndProbe<CafFile>(FuzzWriteInput(data, size, ".caf"));
}
