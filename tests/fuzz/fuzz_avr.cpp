// The AVR reader on damaged files: Open, ProbeHeader and reading every frame
// must neither crash nor read out of bounds.
#include "CAVRFile.h"
#include "FuzzTarget.h"
#include "SoundFileFuzzRead.h"

#include <vector>

namespace {

std::string Image(bool stereo, UInt16 bits, bool isSigned, UInt32 frames, bool loop)
{
    std::string h(128, '\0');
    h.replace(0, 4, "2BIT");
    h.replace(4, 8, "fuzzname");
    auto put16 = [&](std::size_t at, UInt16 v) {
        h[at] = char(v >> 8);
        h[at + 1] = char(v);
    };
    auto put32 = [&](std::size_t at, UInt32 v) {
        put16(at, UInt16(v >> 16));
        put16(at + 2, UInt16(v));
    };
    put16(12, stereo ? 0xFFFF : 0);
    put16(14, bits);
    put16(16, isSigned ? 0xFFFF : 0);
    put16(18, loop ? 0xFFFF : 0);
    put16(20, 0xFFFF);
    put32(22, 22050);
    put32(26, frames);
    put32(30, loop ? 1 : 0);
    put32(34, loop ? frames : 0);
    const std::size_t bytes = std::size_t(frames) * (stereo ? 2 : 1) * (bits / 8);
    for (std::size_t i = 0; i < bytes; ++i) {
        h.push_back(char(i * 53));
    }
    return h;
}

} // namespace

std::vector<std::string> FuzzSeeds()
{
    return {Image(false, 8, false, 5, false), Image(true, 16, true, 4, true), Image(false, 16, false, 3, true),
            Image(true, 8, true, 6, false)};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return soundfilefuzz::ReadAndProbe<CAVRFile>(FuzzWriteInput(data, size, ".avr"));
}
