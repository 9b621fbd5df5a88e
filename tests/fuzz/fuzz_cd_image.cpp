// The CD image: the PQ descriptor record parser on arbitrary bytes, and the
// image reader on arbitrary images (opened, probed and read to the end).
#include "CImageDATFile.h"
#include "FuzzTarget.h"

#include <cstring>
#include <vector>

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
    const std::string path = FuzzWriteInput(data, size, ".dat");
    {
        CImageDATFile file;
        file.SetBufferFrames(64);
        if (file.SetFile(path) == noErr) {
            if (file.Open() == noErr) {
                std::vector<double> samples(2 * 64);
                for (UInt32 frame = 0; frame < file.GetNumFrames() && frame < 4096; frame += 64) {
                    UInt32 count = 64;
                    if (file.ReadFrames(frame, &count, samples.data()) != noErr || count == 0) {
                        break;
                    }
                }
            }
            file.Close();
        }
    }
    {
        CImageDATFile probe;
        SInt16 result = 0;
        if (probe.SetFile(path) == noErr) {
            probe.ProbeHeader(&result);
        }
    }
    return 0;
}
