#include "AsfLengthRule.h"

#include "ByteOrder.h"
#include "PositionedFile.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "media_calls.h"

namespace {

const uint8_t kHeaderObject[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                   0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const uint8_t kFileProperties[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                     0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const uint8_t kDataObject[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

UInt64 ReadLE64(const uint8_t* p)
{
    return UInt64(ReadLE32(p)) | UInt64(ReadLE32(p + 4)) << 32;
}

}  // namespace

bool AsfLengthRule::ReadHeader(const std::string& path, Header* out)
{
    PositionedFile file(path);
    uint8_t top[30];
    if (file.Read(0, top, sizeof top) != sizeof top || std::memcmp(top, kHeaderObject, 16) != 0)
        return false;
    // The header, and the data object's head after it, are in the file.
    const UInt64 headerBytes = ReadLE64(top + 16);
    if (headerBytes < 30 || headerBytes > UInt64(file.Size()) || headerBytes > (1u << 24))
        return false;
    std::vector<uint8_t> header(std::size_t(headerBytes - 30));
    if (file.Read(30, header.data(), header.size()) != header.size())
        return false;
    bool properties = false;
    for (std::size_t at = 0; at + 24 <= header.size();) {
        const UInt64 size = ReadLE64(&header[at + 16]);
        if (size < 24 || size > header.size() - at)
            return false;
        if (std::memcmp(&header[at], kFileProperties, 16) == 0 && size >= 104) {
            const uint8_t* p = &header[at];
            out->dataPackets = ReadLE64(p + 56);
            out->playDuration = ReadLE64(p + 64);
            out->prerollMs = ReadLE64(p + 80);
            out->broadcast = (ReadLE32(p + 88) & 1) != 0;
            const UInt32 least = ReadLE32(p + 92);
            out->packetBytes = least == ReadLE32(p + 96) ? least : 0;
            properties = true;
        }
        at += std::size_t(size);
    }
    uint8_t data[50];
    if (!properties || file.Read(int64_t(headerBytes), data, sizeof data) != sizeof data ||
        std::memcmp(data, kDataObject, 16) != 0)
        return false;
    out->dataStart = int64_t(headerBytes) + 50;
    return true;
}

void AsfLengthRule::Settle(TrackTally& tally)
{
    Header header;
    if (!ReadHeader(tally.path, &header) || header.broadcast || header.packetBytes == 0 || tally.fileBytes < 0)
        return;
    const int64_t held = std::max<int64_t>(tally.fileBytes - header.dataStart, 0) / header.packetBytes;
    if (UInt64(held) < header.dataPackets) {
        tally.cutShort = true;
        tally.UncountLastRefusal();
        return;
    }
    const UInt64 prerollTicks = header.prerollMs * 10000;
    if (header.playDuration <= prerollTicks)
        return;
    const UInt64 ticks = header.playDuration - prerollTicks;  // 100 ns each
    const UInt64 rate = UInt64(tally.SampleRate());
    const UInt64 stated = ticks / 10000000 * rate + ticks % 10000000 * rate / 10000000;
    tally.expected = stated;
    // The codec's own end (its last frame, which the duration counts whole
    // though the sound ends inside it), and the rounding of the duration
    // and the preroll, which writers state to the millisecond.
    const AVCodecParameters* par = tally.format->streams[tally.stream]->codecpar;
    const UInt64 oneFrame = UInt64(par->frame_size > 0 ? par->frame_size : 2048);
    const UInt64 rounding = (2 * rate + 999) / 1000;
    if (stated > tally.frames + oneFrame + rounding) {
        tally.loss.missingFrames = std::max(tally.loss.missingFrames, stated - tally.frames);
        tally.damageSeen = true;
    }
}
