// The G.729 reader on arbitrary files: the layout found from the first
// bytes (serial words either way round, RIFF chunks, packed frames), every
// frame decoded in blocks and backwards, then probed.
#include "CG729File.h"
#include "FuzzTarget.h"
#include "SoundFileFuzzRead.h"

#include <string>
#include <vector>

std::vector<std::string> FuzzSeeds()
{
    std::string serial;
    for (int i = 0; i < 2; ++i) {
        serial += std::string("\x6B\x21\x00\x50", 4);
        for (int b = 0; b < 80; ++b)
            serial += (b % 3) ? std::string("\x00\x81", 2) : std::string("\x00\x7F", 2);
    }
    std::string little = serial;
    for (std::size_t i = 0; i + 1 < little.size(); i += 2)
        std::swap(little[i], little[i + 1]);
    const std::vector<UInt8> h = CG729File::BuildRiffHeader(2);
    std::string riff(h.begin(), h.end());
    riff += std::string(20, '\x5A');
    return {serial, little, riff, std::string(30, '\xC3'), std::string("RIFF\x08\x00\x00\x00WAVEdata", 16)};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzWriteInput(data, size, ".g729");
    soundfilefuzz::ReadAndProbe<CG729File>(path);
    {
        // Backwards: the decoder restarts.
        CG729File file;
        file.SetBufferFrames(64);
        if (file.SetFile(path) == noErr && file.Open() == noErr && file.GetNumFrames() > 200) {
            std::vector<double> samples(64);
            UInt32 count = 64;
            file.ReadFrames(file.GetNumFrames() - 100, &count, samples.data());
            count = 64;
            file.ReadFrames(17, &count, samples.data());
            file.Close();
        }
    }
    return 0;
}
