// The Creative Voice readers on damaged files: Open, ProbeHeader, reading
// every frame and the detection block walk must neither crash nor read out
// of bounds.
#include "CVOCFile.h"
#include "CVOC_SBFile.h"
#include "FuzzTarget.h"
#include "SoundFileFuzzRead.h"

#include <fstream>
#include <vector>

namespace {

std::string Image(const std::string& blocks)
{
    return std::string("Creative Voice File\x1A\x1A\x00\x0A\x01\x29\x11", 26) + blocks;
}

} // namespace

std::vector<std::string> FuzzSeeds()
{
    return {Image(std::string("\x01\x06\x00\x00\x83\x00\x80\x90\xA0\xB0\x00", 11)),
            Image(std::string("\x05\x02\x00\x00hi\x01\x04\x00\x00\x83\x00\x10\x20\x00", 15)),
            Image(std::string("\x08\x04\x00\x00\x80\xC1\x00\x01\x01\x06\x00\x00\x00\x00\x11\x22\x33\x44\x00", 19)),
            Image(std::string("\x09\x14\x00\x00\x40\x1F\x00\x00\x10\x02\x04\x00\x00\x00\x00\x00"
                              "\x01\x02\x03\x04\x05\x06\x07\x08\x00", 25)),
            Image(std::string("\x09\x0E\x00\x00\x40\x1F\x00\x00\x08\x01\x00\x00\x00\x00\x00\x00\x7F\x80\x00", 19))};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzWriteInput(data, size, ".voc");
    soundfilefuzz::ReadAndProbe<CVOCFile>(path, soundfilefuzz::Walk().Blocks());
    soundfilefuzz::ReadAndProbe<CVOC_SBFile>(path, soundfilefuzz::Walk().Blocks());
    for (UInt8 type : {1, 8, 9}) {
        std::ifstream in(path, std::ios::binary);
        FindVOCBlock(type, in);
    }
    return 0;
}
