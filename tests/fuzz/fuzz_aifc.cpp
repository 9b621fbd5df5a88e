// The AIFF-C reader on damaged files, including its sample conversions
// (little-endian and float data) and its header probe.
#include "AIFFFuzzSeeds.h"
#include "CAIFCFile.h"
#include "FuzzTarget.h"

#include <vector>

std::vector<std::string> FuzzSeeds()
{
    return {AIFFFuzzImage(true, "NONE", 16, 2, 5), AIFFFuzzImage(true, "sowt", 16, 1, 3),
            AIFFFuzzImage(true, "fl32", 32, 1, 4), AIFFFuzzImage(true, "in24", 24, 2, 3),
            AIFFFuzzImage(true, "NONE", 8, 1, 7)};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzWriteInput(data, size, ".aifc");
    CAIFCFile file;
    file.SetBufferFrames(64);
    if (file.SetFile(path) != noErr) {
        return 0;
    }
    const OSErr err = file.Open();
    if (err == noErr && file.GetNumChannels() > 0 && file.GetNumChannels() <= 64) {
        std::vector<double> samples(std::size_t(file.GetNumChannels()) * 64);
        for (UInt32 frame = 0; frame < file.GetNumFrames() && frame < 4096; frame += 64) {
            UInt32 count = 64;
            if (file.ReadFrames(frame, &count, samples.data()) != noErr || count == 0) {
                break;
            }
        }
    }
    file.Close();
    SInt16 bits = 0;
    OSType compression = 0;
    ProbeFORMFile(QString::fromStdString(path), kAIFCFileType, &bits, &compression);
    return 0;
}
