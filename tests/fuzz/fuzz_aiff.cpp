// The AIFF reader on damaged files: Open, ProbeHeader and reading every
// frame must neither crash nor read out of bounds.
#include "AIFFFuzzSeeds.h"
#include "CAIFFFile.h"
#include "FuzzTarget.h"
#include "SoundFileFuzzRead.h"

std::vector<std::string> FuzzSeeds()
{
    return {AIFFFuzzImage(false, "", 16, 2, 5), AIFFFuzzImage(false, "", 8, 1, 3),
            AIFFFuzzImage(false, "", 24, 1, 4), AIFFFuzzImage(false, "", 12, 2, 2),
            StreamedAIFFImage(AIFFFuzzImage(false, "", 16, 2, 5))};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    (void)GetAIFFNumChannels;
    return soundfilefuzz::ReadAndProbe<CAIFFFile>(
        FuzzWriteInput(data, size, ".aif"), soundfilefuzz::Walk().Warnings({-22204}).ChannelNames());
}
