// The AIFF-C IMA 4:1 marker reading: the FORM chunk walk and the 'MARK'
// chunk parser on arbitrary files, and the parser on bare chunk bodies.
#include "CQTAIFFImaFile.h"
#include "FuzzTarget.h"

#include <cstring>

namespace {

std::string Seed(const std::vector<SFTMarker>& markers, bool oddTail)
{
    const std::vector<UInt8> mark = CQTAIFFImaFile::BuildMarkerChunk(markers);
    std::string body = "AIFC";
    body += std::string("COMM\0\0\0\x02\0\x01", 10);
    if (oddTail)
        body += std::string("junk\0\0\0\x03xyz\0", 12);
    body.append(reinterpret_cast<const char*>(mark.data()), mark.size());
    const UInt32 size = UInt32(body.size());
    std::string file = "FORM";
    for (int shift = 24; shift >= 0; shift -= 8)
        file += char((size >> shift) & 0xFF);
    return file + body;
}

SFTMarker Marker(SInt32 id, UInt32 pos, const char* name)
{
    SFTMarker m;
    m.markerID = id;
    m.pos = pos;
    m.type = name[0] == '#' ? 1 : 2;
    m.name[0] = UInt8(std::strlen(name));
    std::memcpy(m.name + 1, name, m.name[0]);
    return m;
}

} // namespace

std::vector<std::string> FuzzSeeds()
{
    return {Seed({Marker(1, 10, "#3 Verse"), Marker(2, 99, "Intro")}, false), Seed({Marker(5, 7, "odd")}, true)};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<SFTMarker> markers;
    CQTAIFFImaFile::ParseMarkerChunk(data, size, &markers);
    CQTAIFFImaFile file;
    if (file.SetFile(FuzzWriteInput(data, size, ".aifc")) == noErr)
        file.ReadMarkers();
    for (UInt16 i = 0; i < file.GetNumMarkers(); ++i) {
        SFTMarker m;
        if (file.GetMarker(i, &m) != noErr || m.name[0] > 31)
            __builtin_trap();
    }
    return 0;
}
