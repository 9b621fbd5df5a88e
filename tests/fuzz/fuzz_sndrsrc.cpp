// The System 7 sound reader on damaged 'snd ' resources: the input becomes
// the data of the first 'snd ' resource of a fresh file; Open, ProbeHeader
// and reading every frame must neither crash nor read out of bounds.
#include "CSndRsrcFile.h"
#include "FuzzTarget.h"
#include "SoundFileFuzzRead.h"
#include "MemoryManager.h"
#include "ZuResourceFile.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Format1(UInt8 encoding, UInt16 bits, UInt32 channels, UInt32 frames, std::size_t bytes)
{
    std::string r(20 + 64 + bytes, '\0');
    auto be16 = [&](std::size_t at, UInt32 v) { r[at] = char(v >> 8); r[at + 1] = char(v); };
    auto be32 = [&](std::size_t at, UInt32 v) { be16(at, v >> 16); be16(at + 2, v); };
    be16(0, 1);
    be16(2, 1);
    be16(4, 5);
    be32(6, 0xA0);
    be16(10, 1);
    be16(12, 0x8051);
    be32(16, 20);
    be32(24, channels);
    be32(28, 0x1F400000);
    r[40] = char(encoding);
    r[41] = 0x3C;
    be32(42, frames);
    be16(68, bits);
    return r;
}

} // namespace

std::vector<std::string> FuzzSeeds()
{
    std::string format2(6 + 8 + 22 + 4, '\0');
    format2[1] = 2;
    format2[5] = 1;
    format2[14 + 7] = 4;
    format2[14 + 20] = 0;
    return {Format1(0xFF, 16, 2, 3, 12), Format1(0xFF, 8, 1, 5, 5), Format1(0x00, 0, 0, 0, 4), format2};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // An empty data fork; the input goes into the resource fork.
    const std::string path = FuzzWriteInput(data, 0, ".sfil");
    try {
        ZuResourceFile file(path, true);
        Handle h = NewHandle(Size(size));
        if (!h)
            return 0;
        if (size > 0)
            std::memcpy(*h, data, size);
        file.PutResource(FOUR_CHAR_CODE("snd "), 128, h, QString());
        DisposeHandle(h);
    } catch (...) {
        return 0;
    }
    return soundfilefuzz::ReadAndProbe<CSndRsrcFile>(path, soundfilefuzz::Walk().Blocks());
}
