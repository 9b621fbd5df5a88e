// The WAVE and WAVE float readers and the detection probes on damaged
// files: Open, ProbeHeader and reading every frame must neither crash nor
// read out of bounds.
#include "CWAVEFile.h"
#include "CWAVEFloatFile.h"
#include "FuzzTarget.h"
#include "SoundFileFuzzRead.h"
#include "WAVEFuzzSeeds.h"

#include <fstream>
#include <vector>

using namespace wavefuzz;

std::vector<std::string> FuzzSeeds()
{
    return {Riff(Bytes().chunk("fmt ", Fmt(1, 2, 16, 4)).chunk("data", Samples(24)).s + Annotations()),
            Riff(Bytes().chunk("fmt ", Fmt(1, 1, 8, 1)).chunk("data", Samples(5)).s),
            Riff(Bytes().chunk("fmt ", ExtensibleFmt(6, 24, 0x137, 1)).chunk("data", Samples(36)).s),
            Riff(Bytes().chunk("fmt ", Fmt(1, 1, 12, 2)).chunk("data", Samples(8)).s),
            Riff(Bytes().chunk("fmt ", Fmt(3, 2, 32, 8)).chunk("data", Samples(32)).s + Annotations()),
            // As a writer to a pipe leaves it: sizes unknown.
            Bytes().text("RIFF").u32(0xFFFFFFFF).text("WAVE").chunk("fmt ", Fmt(1, 2, 16, 4)).s +
                Bytes().text("data").u32(0).s + Samples(24)};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzWriteInput(data, size, ".wav");
    soundfilefuzz::ReadAndProbe<CWAVEFile>(path, soundfilefuzz::Walk().ChannelNames());
    soundfilefuzz::ReadAndProbe<CWAVEFloatFile>(path, soundfilefuzz::Walk().ChannelNames());
    (void)GetWAVENumChannels(path);
    std::ifstream stream(path, std::ios::binary);
    for (const char* id : {"fmt ", "bext", "data", "RIFF"})
        (void)FindRIFFChunk(id, 1, stream);
    return 0;
}
