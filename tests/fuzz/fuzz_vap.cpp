// The annotated-voice reader on damaged files: header fields that point
// anywhere, short files, and reads of every frame.
#include "CDialogicVAPFile.h"
#include "FuzzTarget.h"
#include "SoundFileFuzzRead.h"

#include <string>
#include <vector>

namespace {

std::string Header(UInt32 rate, UInt32 offset, const std::string& name)
{
    std::string h;
    for (UInt32 v : {1u, rate, 1u, 0u, 0u, 0u, offset, 100u, 36u})
        for (int i = 0; i < 4; ++i)
            h.push_back(char((v >> (8 * i)) & 0xFF));
    return h + name + std::string(1, '\0');
}

} // namespace

std::vector<std::string> FuzzSeeds()
{
    return {Header(8000, 46, "hello.vap") + std::string(40, '\x17'),
            Header(6000, 37, "") + std::string(3, '\x80'),
            Header(8000, 0xFFFFFFF0u, "far.vap") + "\x12\x34",
            Header(0xFFFFFFFFu, 46, "neg.vap") + "\x01",
            std::string("\x01\x00\x00\x00\x40\x1F", 6)};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return soundfilefuzz::ReadAndProbe<CDialogicVAPFile>(FuzzWriteInput(data, size, ".vap"));
}
