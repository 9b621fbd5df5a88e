// The CSonicAIFFFile reader on damaged files: Open, ProbeHeader and reading every
// frame must neither crash nor read out of bounds.
#include "CSonicAIFFFile.h"
#include "FuzzTarget.h"
#include "SonicFuzzSeeds.h"
#include "SoundFileFuzzRead.h"

std::vector<std::string> FuzzSeeds()
{
    return {SonicAIFFFuzzImage(1,2,8),SonicAIFFFuzzImage(2,1,5),SonicAIFFFuzzImage(3,1,6),SonicAIFFFuzzImage(10,2,3),SonicAIFFFuzzImage(11,1,4)};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return soundfilefuzz::ReadAndProbe<CSonicAIFFFile>(FuzzWriteInput(data, size, ".aif"));
}
