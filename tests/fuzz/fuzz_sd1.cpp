// The CSD1File reader on damaged files: Open, ProbeHeader and reading every
// frame must neither crash nor read out of bounds.
#include "CSD1File.h"
#include "FuzzTarget.h"
#include "SonicFuzzSeeds.h"
#include "SoundFileFuzzRead.h"

std::vector<std::string> FuzzSeeds()
{
    return {SD1FuzzImage(16,20),SD1FuzzImage(8,9)};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return soundfilefuzz::ReadAndProbe<CSD1File>(FuzzWriteInput(data, size, ".sd1"));
}
