// The CDawnAIFFFile reader on damaged files: Open, ProbeHeader and reading every
// frame must neither crash nor read out of bounds.
#include "CDawnAIFFFile.h"
#include "FuzzTarget.h"
#include "SonicFuzzSeeds.h"

#include <vector>

std::vector<std::string> FuzzSeeds()
{
    return {DawnFuzzImage(12,240),DawnFuzzImage(3,0)};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzWriteInput(data, size, ".aif");
    {
        CDawnAIFFFile file;
        file.SetBufferFrames(64);
        if (file.SetFile(path) == noErr) {
            if (file.Open() == noErr && file.GetNumChannels() > 0 && file.GetNumChannels() <= 64) {
                std::vector<double> samples(std::size_t(file.GetNumChannels()) * 64);
                for (UInt32 frame = 0; frame < file.GetNumFrames() && frame < 4096; frame += 64) {
                    UInt32 count = 64;
                    if (file.ReadFrames(frame, &count, samples.data()) != noErr || count == 0) {
                        break;
                    }
                }
            }
            file.Close();
        }
    }
    {
        CDawnAIFFFile probe;
        SInt16 result = 0;
        if (probe.SetFile(path) == noErr) {
            probe.ProbeHeader(&result);
        }
    }
    return 0;
}
