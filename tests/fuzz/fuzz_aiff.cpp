// The AIFF reader on damaged files: Open, ProbeHeader and reading every
// frame must neither crash nor read out of bounds.
#include "AIFFFuzzSeeds.h"
#include "CAIFFFile.h"
#include "FuzzTarget.h"

#include <vector>

std::vector<std::string> FuzzSeeds()
{
    return {AIFFFuzzImage(false, "", 16, 2, 5), AIFFFuzzImage(false, "", 8, 1, 3),
            AIFFFuzzImage(false, "", 24, 1, 4), AIFFFuzzImage(false, "", 12, 2, 2)};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzWriteInput(data, size, ".aif");
    {
        CAIFFFile file;
        file.SetBufferFrames(64);
        if (file.SetFile(path) == noErr) {
            const OSErr err = file.Open();
            if ((err == noErr || err == -22204) && file.GetNumChannels() > 0 && file.GetNumChannels() <= 64) {
                std::vector<double> samples(std::size_t(file.GetNumChannels()) * 64);
                for (UInt32 frame = 0; frame < file.GetNumFrames() && frame < 4096; frame += 64) {
                    UInt32 count = 64;
                    if (file.ReadFrames(frame, &count, samples.data()) != noErr || count == 0) {
                        break;
                    }
                }
                for (UInt16 c = 0; c < file.GetNumChannels() && c < 10; ++c) {
                    (void)file.GetChannelName(c);
                }
            }
            file.Close();
        }
    }
    {
        CAIFFFile probe;
        SInt16 result = 0;
        if (probe.SetFile(path) == noErr) {
            probe.ProbeHeader(&result);
        }
    }
    (void)GetAIFFNumChannels;
    return 0;
}
