// The Broadcast Wave MPEG header reader on damaged files: never a field or
// a data range beyond the bytes given.
#include "BWFMPEGReader.h"
#include "FuzzTarget.h"

#include <cstdlib>

namespace {

std::string LE32(uint32_t v)
{
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}
std::string LE16(uint16_t v)
{
    return std::string{char(v), char(v >> 8)};
}
std::string Chunk(const std::string& id, const std::string& body)
{
    return id + LE32(uint32_t(body.size())) + body + (body.size() & 1 ? std::string(1, '\0') : std::string());
}

}  // namespace

std::vector<std::string> FuzzSeeds()
{
    std::string bext(602, '\0');
    bext.replace(0, 11, "Description");
    bext += "A=MPEG1L2,F=48000\r\n";
    const std::string fmt = LE16(0x50) + LE16(2) + LE32(48000) + LE32(24000) + LE16(1152) + LE16(0) + LE16(22) +
                            LE16(2) + LE32(192000) + LE16(1) + LE16(0) + LE16(0) + LE16(0) + LE32(0) + LE32(0);
    const std::string mext = LE16(1) + LE16(0) + LE16(0) + LE16(0) + LE32(0);
    const std::string frames = std::string("\xff\xfd\xa4\x00", 4) + std::string(40, '\x55');
    const std::string body = "WAVE" + Chunk("bext", bext) + Chunk("mext", mext) + Chunk("fmt ", fmt) +
                             Chunk("fact", LE32(1152)) + Chunk("data", frames);
    const std::string whole = "RIFF" + LE32(uint32_t(body.size())) + body;
    std::string huge = whole;
    huge.replace(huge.find("data") + 4, 4, LE32(0xffffffffu));
    return {whole, huge, "RIFF" + LE32(4) + "WAVE"};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    BWFMPEGReader::Info info;
    if (BWFMPEGReader::Parse(bytes, &info)) {
        if (info.dataOffset > size || info.dataSize > size - info.dataOffset || info.description.size() > 256 ||
            info.date.size() > 10 || info.time.size() > 8)
            std::abort();
    }
    return 0;
}
