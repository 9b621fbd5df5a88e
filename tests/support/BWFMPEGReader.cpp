#include "BWFMPEGReader.h"

#include <algorithm>

namespace {

uint32_t LE32(const char* p)
{
    return uint32_t(uint8_t(p[0])) | uint32_t(uint8_t(p[1])) << 8 | uint32_t(uint8_t(p[2])) << 16 |
           uint32_t(uint8_t(p[3])) << 24;
}
uint16_t LE16(const char* p)
{
    return uint16_t(uint8_t(p[0]) | uint8_t(p[1]) << 8);
}
// A zero-terminated text field of at most `size` bytes.
QByteArray Text(const char* p, int size)
{
    int n = 0;
    while (n < size && p[n])
        ++n;
    return QByteArray(p, n);
}

}  // namespace

bool BWFMPEGReader::Parse(const QByteArray& bytes, Info* info)
{
    Info r;
    const uint64_t length = uint64_t(bytes.size());
    if (length < 12 || bytes.left(4) != "RIFF" || bytes.mid(8, 4) != "WAVE")
        return false;
    const char* d = bytes.constData();
    bool haveFmt = false, haveData = false;
    uint64_t pos = 12;
    while (pos + 8 <= length && !haveData) {
        const QByteArray id = bytes.mid(qsizetype(pos), 4);
        const uint64_t size = LE32(d + pos + 4);
        const uint64_t body = pos + 8;
        if (id == "data") {
            r.dataOffset = body;
            r.dataSize = std::min(size, length - body);
            haveData = true;
            break;
        }
        if (size > length - body)
            return false;
        const char* p = d + body;
        if (id == "bext" && size >= 602) {
            r.hasBext = true;
            r.description = Text(p, 256);
            r.originator = Text(p + 256, 32);
            r.originatorReference = Text(p + 288, 32);
            r.date = Text(p + 320, 10);
            r.time = Text(p + 330, 8);
            r.codingHistory = Text(p + 602, int(std::min<uint64_t>(size - 602, 4096)));
        } else if (id == "mext" && size >= 2) {
            r.hasMext = true;
            r.soundInformation = LE16(p);
        } else if (id == "fmt " && size >= 16) {
            haveFmt = true;
            r.formatTag = LE16(p);
            r.channels = LE16(p + 2);
            r.sampleRate = LE32(p + 4);
            r.bytesPerSecond = LE32(p + 8);
            if (size >= 30) {
                r.layer = LE16(p + 18);
                r.bitRate = LE32(p + 20);
                r.mode = LE16(p + 24);
                r.modeExtension = LE16(p + 26);
            }
        } else if (id == "fact" && size >= 4) {
            r.hasFact = true;
            r.factFrames = LE32(p);
        }
        pos = body + size + (size & 1);
    }
    if (!haveFmt || !haveData || r.formatTag != 0x0050)
        return false;
    if (info)
        *info = r;
    return true;
}
