// The movie reader's open path (probe, demultiplexing, counting, layout)
// and its reads on damaged MPEG audio, RIFF and the containers the length
// rules walk (ContainerFuzzSeeds.h).
#include "CQTMovieFile.h"
#include "ContainerFuzzSeeds.h"
#include "FuzzTarget.h"
#include "MovieSource.h"
#include "SoundFileFuzzRead.h"

#include <string>
#include <vector>

namespace {

// Four silent MPEG-1 Layer III frames (128 kbit/s, 44.1 kHz, stereo).
std::string MP3Image()
{
    std::string s;
    for (int frame = 0; frame < 4; ++frame) {
        std::string f(417, '\0');
        f[0] = char(0xFF);
        f[1] = char(0xFB);
        f[2] = char(0x90);
        f[3] = char(0x64);
        s += f;
    }
    return s;
}

// A RIFF WAVE of 8-bit unsigned samples.
std::string WAVEImage()
{
    auto le32 = [](std::string& s, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            s.push_back(char(v >> (8 * i)));
    };
    std::string s = "RIFF";
    le32(s, 36 + 64);
    s += "WAVEfmt ";
    le32(s, 16);
    s += std::string("\1\0\1\0", 4);
    le32(s, 8000);
    le32(s, 8000);
    s += std::string("\1\0\x08\0", 4);
    s += "data";
    le32(s, 64);
    for (int i = 0; i < 64; ++i)
        s.push_back(char(128 + i));
    return s;
}

} // namespace

std::vector<std::string> FuzzSeeds()
{
    std::vector<std::string> seeds = {MP3Image(), WAVEImage()};
    for (std::string& seed : containerseeds::All())
        seeds.push_back(std::move(seed));
    return seeds;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzWriteInput(data, size, ".mp3");
    MovieSource::Probe(path, nullptr, nullptr);
    return soundfilefuzz::ReadAndProbe<CQTMovieFile>(path);
}
