// The CD image: the PQ descriptor record parser on arbitrary bytes, and the
// image reader on arbitrary images (opened, probed and read to the end).
#include "CImageDATFile.h"
#include "FuzzTarget.h"
#include "SoundFileFuzzRead.h"

#include <cstring>

namespace {

std::string Record(const char* text)
{
    std::string out(text);
    out.resize(64, ' ');
    return out;
}

} // namespace

std::vector<std::string> FuzzSeeds()
{
    return {Record("VVVS0100000000") + Record("VVVS0101000200") + Record("VVVSAA01000500"),
            Record("VVVS01 1  000000") + std::string(13, '\x7f'), std::string(16, '\0')};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (std::size_t at = 0; at + 64 <= size; at += 64) {
        const CImageDATFile::PQRecord record = CImageDATFile::ParsePQRecord(data + at);
        (void)record;
    }
    return soundfilefuzz::ReadAndProbe<CImageDATFile>(FuzzWriteInput(data, size, ".dat"));
}
