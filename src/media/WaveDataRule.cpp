#include "WaveDataRule.h"

#include "ByteFields.h"

#include <algorithm>
#include <cstring>

#include "media_calls.h"

namespace {

// A Wave64 chunk's name: four letters and the GUID every one of them ends
// with (the container's own, "riff" and "wave", end otherwise).
constexpr uint8_t kWave64Tail[12] = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
constexpr uint8_t kWave64Riff[16] = {'r', 'i', 'f', 'f', 0x2E, 0x91, 0xCF, 0x11,
                                     0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};

bool FindWave64Data(PositionedFile& file, WaveDataRule::Data* out)
{
    const int64_t size = file.Size();
    for (int64_t at = 40; at + 24 <= size;) {
        uint8_t head[24];
        if (file.Read(at, head, 24) != 24)
            return false;
        const UInt64 length = ReadLE64(head + 16);  // the chunk's header with it
        if (std::memcmp(head, "data", 4) == 0 && std::memcmp(head + 4, kWave64Tail, 12) == 0) {
            if (length < 24)
                return false;
            out->body = at + 24;
            out->bytes = length - 24;
            out->padding = 7;
            return true;
        }
        if (length < 24 || length > UInt64(size - at))
            return false;
        at += int64_t((length + 7) & ~UInt64(7));
    }
    return false;
}

}  // namespace

bool WaveDataRule::FindData(PositionedFile& file, Data* out)
{
    uint8_t head[16];
    if (file.Read(0, head, 16) != 16)
        return false;
    if (std::memcmp(head, kWave64Riff, 16) == 0)
        return FindWave64Data(file, out);
    const bool wide = std::memcmp(head, "RF64", 4) == 0 || std::memcmp(head, "BW64", 4) == 0;
    if ((!wide && std::memcmp(head, "RIFF", 4) != 0) || std::memcmp(head + 8, "WAVE", 4) != 0)
        return false;
    const int64_t size = file.Size();
    UInt64 wideData = 0;  // the data size the 'ds64' chunk states
    for (int64_t at = 12; at + 8 <= size;) {
        uint8_t chunk[16];
        if (file.Read(at, chunk, 8) != 8)
            return false;
        const UInt32 length = ReadLE32(chunk + 4);
        if (std::memcmp(chunk, "ds64", 4) == 0 && length >= 16 && file.Read(at + 8, chunk, 16) == 16)
            wideData = ReadLE64(chunk + 8);
        if (std::memcmp(chunk, "data", 4) == 0) {
            out->body = at + 8;
            out->bytes = wide && length == 0xFFFFFFFFu ? wideData : length;
            out->padding = 1;
            // (0 and 0xFFFFFFFF where nothing states the size: to the end.)
            return out->bytes > 0 && !(!wide && length == 0xFFFFFFFFu);
        }
        at += 8 + int64_t(length) + int64_t(length & 1);
    }
    return false;
}

TrackFinding WaveDataRule::Settle(const TrackTally& tally)
{
    TrackFinding found("WAVE data");
    PositionedFile file(tally.path);
    Data data;
    if (!FindData(file, &data)) {
        found.Say("states no size; counted %llu", (unsigned long long)tally.Counted());
        return found;
    }
    const int blockAlign = tally.format->streams[tally.stream]->codecpar->block_align;
    const bool cut = tally.fileBytes >= 0 && data.body + int64_t(std::min<UInt64>(data.bytes, INT64_MAX / 2)) >
                                                 tally.fileBytes + data.padding;
    if (cut) {
        found.cut = true;
        tally.TakeBackLastRefusal(&found);
    }
    if (sampleFrames_ && blockAlign > 0)
        found.stated = StatedLength{.frames = data.bytes / UInt64(blockAlign),
                                    .tolerance = UInt64(data.padding / blockAlign),
                                    .exact = true};
    found.Say("%llu bytes stated from %lld, %lld in the file; counted %llu: %s", (unsigned long long)data.bytes,
              (long long)data.body, (long long)tally.fileBytes, (unsigned long long)tally.Counted(),
              cut ? "cut" : "whole");
    return found;
}
