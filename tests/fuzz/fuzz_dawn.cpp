// The CDawnAIFFFile reader on damaged files: Open, ProbeHeader and reading every
// frame must neither crash nor read out of bounds.
#include "CDawnAIFFFile.h"
#include "FuzzTarget.h"
#include "SonicFuzzSeeds.h"
#include "SoundFileFuzzRead.h"

std::vector<std::string> FuzzSeeds()
{
    return {DawnFuzzImage(12,240),DawnFuzzImage(3,0)};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return soundfilefuzz::ReadAndProbe<CDawnAIFFFile>(FuzzWriteInput(data, size, ".aif"));
}
