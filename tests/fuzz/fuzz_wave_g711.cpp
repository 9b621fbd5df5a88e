// The mu-law and A-law WAVE readers on damaged files.
#include "CWAVE_ALawFile.h"
#include "CWAVE_AuFile.h"
#include "FuzzTarget.h"
#include "SoundFileFuzzRead.h"
#include "WAVEFuzzSeeds.h"

#include <vector>

using namespace wavefuzz;

std::vector<std::string> FuzzSeeds()
{
    const std::string fact = Bytes().u32(5).s;
    return {Riff(Bytes().chunk("fmt ", Fmt(7, 1, 8, 1) + Bytes().u16(0).s).chunk("fact", fact).chunk("data", Samples(5)).s +
                 Annotations()),
            Riff(Bytes().chunk("fmt ", Fmt(6, 2, 8, 2) + Bytes().u16(0).s).chunk("fact", fact).chunk("data", Samples(10)).s),
            Riff(Bytes().chunk("fmt ", ExtensibleFmt(3, 8, 7, 7)).chunk("data", Samples(9)).s)};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzWriteInput(data, size, ".wav");
    soundfilefuzz::ReadAndProbe<CWAVE_AuFile>(path);
    return soundfilefuzz::ReadAndProbe<CWAVE_ALawFile>(path);
}
