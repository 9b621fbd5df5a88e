// The AIFF-C reader on damaged files, including its sample conversions
// (little-endian and float data) and its header probe.
#include "AIFFFuzzSeeds.h"
#include "CAIFCFile.h"
#include "FuzzTarget.h"
#include "SoundFileFuzzRead.h"

std::vector<std::string> FuzzSeeds()
{
    return {AIFFFuzzImage(true, "NONE", 16, 2, 5), AIFFFuzzImage(true, "sowt", 16, 1, 3),
            AIFFFuzzImage(true, "fl32", 32, 1, 4), AIFFFuzzImage(true, "in24", 24, 2, 3),
            AIFFFuzzImage(true, "NONE", 8, 1, 7), StreamedAIFFImage(AIFFFuzzImage(true, "sowt", 16, 1, 3))};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzWriteInput(data, size, ".aifc");
    soundfilefuzz::ReadAndProbe<CAIFCFile>(path);
    SInt16 bits = 0;
    OSType compression = 0;
    ProbeFORMFile(QString::fromStdString(path), kAIFCFileType, &bits, &compression);
    return 0;
}
