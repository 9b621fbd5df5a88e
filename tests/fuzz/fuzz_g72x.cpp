// The G.72x readers on arbitrary code streams, every code width: open,
// decode every frame in blocks and backwards, probe.
#include "CCITTFile.h"
#include "FuzzTarget.h"

#include <string>
#include <vector>

std::vector<std::string> FuzzSeeds()
{
    return {std::string("\x00\xFF\x55\xAA\x12\x34\x56\x78\x9A", 9), std::string(1, '\x7F'), std::string(300, '\xE5')};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzWriteInput(data, size, ".g726");
    for (int bits = 2; bits <= 5; ++bits) {
        CCITTFile file(FOUR_CHAR_CODE("26-4"), bits, "fuzz");
        file.SetBufferFrames(64);
        if (file.SetFile(path) != noErr || file.Open() != noErr)
            continue;
        std::vector<double> samples(64);
        for (UInt32 frame = 0; frame < file.GetNumFrames() && frame < 4096; frame += 64) {
            UInt32 count = 64;
            if (file.ReadFrames(frame, &count, samples.data()) != noErr)
                break;
        }
        UInt32 count = 64;
        file.ReadFrames(file.GetNumFrames() / 2, &count, samples.data());
        file.Close();
        SInt16 result = 0;
        CCITTFile probe(FOUR_CHAR_CODE("23-2"), bits, "fuzz");
        if (probe.SetFile(path) == noErr)
            probe.ProbeHeader(&result);
    }
    return 0;
}
