// The mu-law and A-law WAVE readers on damaged files.
#include "CWAVE_ALawFile.h"
#include "CWAVE_AuFile.h"
#include "FuzzTarget.h"
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

namespace {

void ReadThrough(CWAVE_AuFile& file)
{
    file.SetBufferFrames(64);
    if (file.Open() == noErr && file.GetNumChannels() > 0 && file.GetNumChannels() <= 64) {
        std::vector<double> samples(std::size_t(file.GetNumChannels()) * 64);
        for (UInt32 frame = 0; frame < file.GetNumFrames() && frame < 4096; frame += 64) {
            UInt32 count = 64;
            if (file.ReadFrames(frame, &count, samples.data()) != noErr || count == 0)
                break;
        }
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
        CWAVE_AuFile file;
        if (file.SetFile(path) == noErr)
            ReadThrough(file);
    }
    {
        CWAVE_ALawFile file;
        if (file.SetFile(path) == noErr)
            ReadThrough(file);
    }
    return 0;
}
