// The WAVE and WAVE float readers and the detection probes on damaged
// files: Open, ProbeHeader and reading every frame must neither crash nor
// read out of bounds.
#include "CWAVEFile.h"
#include "CWAVEFloatFile.h"
#include "FuzzTarget.h"
#include "WAVEFuzzSeeds.h"

#include <fstream>
#include <memory>
#include <vector>

using namespace wavefuzz;

std::vector<std::string> FuzzSeeds()
{
    return {Riff(Bytes().chunk("fmt ", Fmt(1, 2, 16, 4)).chunk("data", Samples(24)).s + Annotations()),
            Riff(Bytes().chunk("fmt ", Fmt(1, 1, 8, 1)).chunk("data", Samples(5)).s),
            Riff(Bytes().chunk("fmt ", ExtensibleFmt(6, 24, 0x137, 1)).chunk("data", Samples(36)).s),
            Riff(Bytes().chunk("fmt ", Fmt(1, 1, 12, 2)).chunk("data", Samples(8)).s),
            Riff(Bytes().chunk("fmt ", Fmt(3, 2, 32, 8)).chunk("data", Samples(32)).s + Annotations())};
}

namespace {

void ReadThrough(CWAVEFile& file)
{
    file.SetBufferFrames(64);
    if (file.Open() == noErr && file.GetNumChannels() > 0 && file.GetNumChannels() <= 64) {
        std::vector<double> samples(std::size_t(file.GetNumChannels()) * 64);
        for (UInt32 frame = 0; frame < file.GetNumFrames() && frame < 4096; frame += 64) {
            UInt32 count = 64;
            if (file.ReadFrames(frame, &count, samples.data()) != noErr || count == 0)
                break;
        }
        for (UInt16 c = 0; c < file.GetNumChannels() && c < 10; ++c)
            (void)file.GetChannelName(c);
    }
    if (file.IsOpen())
        file.Close();
    SInt16 result = 0;
    file.ProbeHeader(&result);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzWriteInput(data, size, ".wav");
    {
        CWAVEFile file;
        if (file.SetFile(path) == noErr)
            ReadThrough(file);
    }
    {
        CWAVEFloatFile file;
        if (file.SetFile(path) == noErr)
            ReadThrough(file);
    }
    (void)GetWAVENumChannels(path);
    std::ifstream stream(path, std::ios::binary);
    for (const char* id : {"fmt ", "bext", "data", "RIFF"})
        (void)FindRIFFChunk(id, 1, stream);
    return 0;
}
