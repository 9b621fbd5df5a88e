// The Paris reader (8, 16 and packed 24-bit, both byte orders) and its
// channel probe on damaged files.
#include "CParisLinearFile.h"
#include "FuzzTarget.h"
#include "SoundFileFuzzRead.h"

#include <string>
#include <vector>

namespace {

std::string Header(bool little, unsigned format, unsigned channels, std::size_t data)
{
    std::string s(little ? "fap " : " paf");
    for (unsigned v : {0u, little ? 1u : 0u, 44100u, format, channels, 5u})
        for (int b = 0; b < 4; ++b)
            s.push_back(char(little ? v >> (8 * b) : v >> (24 - 8 * b)));
    s.resize(2048, 0);
    for (std::size_t i = 0; i < data; ++i)
        s.push_back(char(i * 53));
    return s;
}

} // namespace

std::vector<std::string> FuzzSeeds()
{
    return {Header(false, 0, 2, 40), Header(true, 0, 1, 22), Header(false, 1, 2, 130), Header(true, 1, 3, 200),
            Header(false, 2, 1, 17)};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzWriteInput(data, size, ".paf");
    GetParisNumChannels(path);
    return soundfilefuzz::ReadAndProbe<CParisLinearFile>(
        path, soundfilefuzz::Walk().AnyChannels().PastEnd(7));
}
