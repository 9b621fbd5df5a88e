// The IFF 8SVX reader on damaged files: Open, ProbeHeader and reading every
// frame must neither crash nor read out of bounds.
#include "CIFF8SVXFile.h"
#include "FuzzTarget.h"
#include "SoundFileFuzzRead.h"

#include <vector>

namespace {

std::string BE32(UInt32 v)
{
    return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

std::string Image(UInt32 frames, UInt16 rate, bool anno, UInt32 formSize)
{
    std::string vhdr = BE32(frames) + BE32(0) + BE32(0) + std::string{char(rate >> 8), char(rate)} +
                       std::string(2, '\0') + BE32(0x10000);
    std::string body;
    for (UInt32 i = 0; i < frames; ++i) {
        body.push_back(char(i * 37));
    }
    std::string chunks = "VHDR" + BE32(20) + vhdr;
    if (anno) {
        chunks += "ANNO" + BE32(3) + "abc" + std::string(1, '\0');
    }
    chunks += "BODY" + BE32(frames) + body + (frames & 1 ? std::string(1, '\0') : std::string());
    return "FORM" + BE32(formSize ? formSize : UInt32(chunks.size() + 4)) + "8SVX" + chunks;
}

} // namespace

std::vector<std::string> FuzzSeeds()
{
    return {Image(5, 8000, false, 0), Image(8, 22050, true, 0), Image(3, 11025, true, 0xFFFFFFFF)};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return soundfilefuzz::ReadAndProbe<CIFF8SVXFile>(FuzzWriteInput(data, size, ".8svx"));
}
