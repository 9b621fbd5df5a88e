// The Broadcast Wave reader ('bext', 'regn' and the WAVE chunks) on
// damaged files.
#include "CBWFLinearFile.h"
#include "FuzzTarget.h"
#include "WAVEFuzzSeeds.h"

#include <vector>

using namespace wavefuzz;

std::vector<std::string> FuzzSeeds()
{
    return {Riff(Bytes().chunk("fmt ", Fmt(1, 2, 16, 4)).chunk("bext", Bext(123456789012ull)).chunk("data", Samples(24)).s +
                 Annotations() + Bytes().chunk("regn", Regn()).s),
            Riff(Bytes().chunk("fmt ", ExtensibleFmt(3, 24, 7, 1)).chunk("bext", Bext(0)).chunk("data", Samples(18)).s +
                 Bytes().chunk("regn", Bytes().u32(0).s).s)};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzWriteInput(data, size, ".wav");
    {
        CBWFLinearFile file;
        file.SetBufferFrames(64);
        if (file.SetFile(path) == noErr) {
            if (file.Open() == noErr && file.GetNumChannels() > 0 && file.GetNumChannels() <= 64) {
                std::vector<double> samples(std::size_t(file.GetNumChannels()) * 64);
                for (UInt32 frame = 0; frame < file.GetNumFrames() && frame < 4096; frame += 64) {
                    UInt32 count = 64;
                    if (file.ReadFrames(frame, &count, samples.data()) != noErr || count == 0)
                        break;
                }
                (void)file.GetSpecifics().value("bwfAnnotation");
            }
            if (file.IsOpen())
                file.Close();
        }
    }
    {
        CBWFLinearFile probe;
        SInt16 result = 0;
        if (probe.SetFile(path) == noErr)
            probe.ProbeHeader(&result);
    }
    return 0;
}
