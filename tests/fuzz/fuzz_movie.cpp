// The movie reader's open path (probe, demultiplexing, counting, layout)
// and its reads on damaged MPEG audio (tagged too), RIFF and the containers
// the length rules walk (ContainerFuzzSeeds.h).
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

// The MP3 frames between tags: two ID3v2 tags first, an APEv2 tag and an
// ID3v1 tag last (the tag walks of the raw-stream rule).
std::string TaggedMP3Image()
{
    const std::string id3v2 = std::string("ID3\3\0\0\0\0\0\x0A", 10) + std::string(10, 'x');
    std::string ape = "APETAGEX";
    ape += std::string("\xD0\x07\0\0\x20\0\0\0\0\0\0\0\0\0\0\0", 16) + std::string(8, '\0');
    return id3v2 + id3v2 + MP3Image() + ape + "TAG" + std::string(125, '\0');
}

} // namespace

std::vector<std::string> FuzzSeeds()
{
    std::vector<std::string> seeds = {MP3Image(), WAVEImage(), TaggedMP3Image()};
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
