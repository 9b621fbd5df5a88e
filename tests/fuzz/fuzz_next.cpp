// The NeXT/Sun readers (linear, A-law, mu-law) on damaged files.
#include "CNeXTALawFile.h"
#include "CNeXTAUFile.h"
#include "CNeXT_SUNFile.h"
#include "FuzzTarget.h"

#include <string>
#include <vector>

namespace {

std::string Header(unsigned offset, unsigned size, unsigned encoding, unsigned channels, std::size_t data)
{
    std::string s;
    for (unsigned v : {0x2E736E64u, offset, size, encoding, 8000u, channels})
        for (int b = 24; b >= 0; b -= 8)
            s.push_back(char(v >> b));
    s.resize(offset, 'i');
    for (std::size_t i = 0; i < data; ++i)
        s.push_back(char(i * 37));
    return s;
}

void ReadThrough(CNeXT_SUNFile& file)
{
    file.SetBufferFrames(64);
    if (file.Open() == noErr) {
        std::vector<double> samples(std::size_t(file.GetNumChannels()) * 64);
        for (UInt32 frame = 0; frame < file.GetNumFrames() && frame < 4096; frame += 64) {
            UInt32 count = 64;
            if (file.ReadFrames(frame, &count, samples.data()) != noErr || count == 0)
                break;
        }
        file.ReadBlock(file.GetNumFrames() + 3);
    }
    if (file.IsOpen())
        file.Close();
    SInt16 result = 0;
    file.ProbeHeader(&result);
}

} // namespace

std::vector<std::string> FuzzSeeds()
{
    return {Header(28, 40, 3, 2, 40), Header(24, 0, 2, 1, 9), Header(40, 0xFFFFFFFFu, 4, 3, 30),
            Header(28, 12, 5, 1, 16), Header(32, 10, 1, 2, 10), Header(28, 0, 27, 1, 7)};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzWriteInput(data, size, ".au");
    {
        CNeXT_SUNFile file;
        if (file.SetFile(path) == noErr)
            ReadThrough(file);
    }
    {
        CNeXTALawFile file;
        if (file.SetFile(path) == noErr)
            ReadThrough(file);
    }
    {
        CNeXTAUFile file;
        if (file.SetFile(path) == noErr)
            ReadThrough(file);
    }
    return 0;
}
