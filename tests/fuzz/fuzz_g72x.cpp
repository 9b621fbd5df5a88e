// The G.72x readers on arbitrary code streams, at a code width the input picks: open,
// decode every frame in blocks and backwards, probe.
#include "CCITTFile.h"
#include "FuzzTarget.h"

#include <algorithm>
#include <string>
#include <vector>

std::vector<std::string> FuzzSeeds()
{
    return {std::string("\x00\xFF\x55\xAA\x12\x34\x56\x78\x9A", 9), std::string(1, '\x7F'), std::string(300, '\xE5')};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The first byte picks the code width; the whole input is the stream.
    const std::string path = FuzzWriteInput(data, size, ".g726");
    for (int bits = 2 + (size ? data[0] % 4 : 0), once = 0; once < 1; ++once) {
        CCITTFile file(FOUR_CHAR_CODE("26-4"), bits, "fuzz");
        file.SetBufferFrames(64);
        if (file.SetFile(path) != noErr || file.Open() != noErr)
            continue;
        std::vector<double> samples(64);
        for (UInt32 frame = 0; frame < file.GetNumFrames() && frame < 256; frame += 64) {
            UInt32 count = 64;
            if (file.ReadFrames(frame, &count, samples.data()) != noErr)
                break;
        }
        UInt32 count = 64;
        file.ReadFrames(std::min<UInt32>(file.GetNumFrames() / 2, 200), &count, samples.data());  // backwards: restarts
        file.Close();
        SInt16 result = 0;
        CCITTFile probe(FOUR_CHAR_CODE("23-2"), bits, "fuzz");
        if (probe.SetFile(path) == noErr)
            probe.ProbeHeader(&result);
    }
    return 0;
}
