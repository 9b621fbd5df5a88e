#include "AsfLengthRule.h"

#include "ByteFields.h"
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

}  // namespace

bool AsfLengthRule::ReadHeader(PositionedFile& file, Header* out)
{
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

bool AsfLengthRule::WalkPackets(PositionedFile& file, const Header& header, int number, Objects* out)
{
    if (header.packetBytes < 16 || header.dataStart < 0)
        return false;
    std::vector<uint8_t> packet(header.packetBytes);
    std::vector<int64_t> starts;  // presentation times of the objects, in the file's order
    for (int64_t at = header.dataStart; file.Read(at, packet.data(), packet.size()) == packet.size();
         at += header.packetBytes) {
        const uint8_t* p = packet.data();
        const uint8_t* const end = p + packet.size();
        std::size_t q = (p[0] & 0x80) ? 1 + (p[0] & 0x0F) : 0;
        if (q + 2 > packet.size())
            continue;
        const uint8_t lengthFlags = p[q];
        const uint8_t properties = p[q + 1];
        q += 2;
        bool fits = true;
        // A field of 0, 1, 2 or 4 bytes, as its 2-bit type says.
        const auto field = [&](int type) -> UInt32 {
            static const int kBytes[4] = {0, 1, 2, 4};
            const std::size_t n = std::size_t(kBytes[type & 3]);
            if (p + q + n > end) {
                fits = false;
                return 0;
            }
            UInt32 v = 0;
            for (std::size_t i = 0; i < n; ++i)
                v |= UInt32(p[q + i]) << (8 * i);
            q += n;
            return v;
        };
        field(lengthFlags >> 5);
        field(lengthFlags >> 1);
        field(lengthFlags >> 3);
        q += 6;  // send time, duration
        int payloads = 1;
        int payloadLengthType = 0;
        const bool multiple = lengthFlags & 1;
        if (multiple && p + q < end) {
            payloads = p[q] & 0x3F;
            payloadLengthType = p[q] >> 6;
            ++q;
        }
        for (int k = 0; k < payloads && fits && p + q < end; ++k) {
            const int stream = p[q++] & 0x7F;
            field(properties >> 4);
            const UInt32 offset = field(properties >> 2);
            const UInt32 replicated = field(properties);
            if (replicated == 1 || p + q + replicated > end)
                break;  // compressed payloads: no times to read here
            if (replicated >= 8 && offset == 0 && (number == 0 || stream == number))
                starts.push_back(int64_t(ReadLE32(p + q + 4)));
            q += replicated;
            if (multiple)
                q += field(payloadLengthType);
            else
                break;
        }
    }
    if (starts.size() < 3)
        return false;
    // The track's own step: the commonest between two objects.
    std::vector<int64_t> steps;
    for (std::size_t i = 1; i < starts.size(); ++i)
        if (starts[i] > starts[i - 1])
            steps.push_back(starts[i] - starts[i - 1]);
    if (steps.empty())
        return false;
    std::nth_element(steps.begin(), steps.begin() + std::ptrdiff_t(steps.size() / 2), steps.end());
    const int64_t step = steps[steps.size() / 2];
    int64_t latest = starts[0];
    for (std::size_t i = 1; i < starts.size(); ++i) {
        if (starts[i] <= latest) {
            out->repeatedMs += step;
        } else {
            if (starts[i] - latest > 2 * step + 2) {
                out->missingMs += starts[i] - latest - step;
                ++out->gaps;
            }
            latest = starts[i];
        }
    }
    out->endMs = latest + step;
    return true;
}

TrackFinding AsfLengthRule::Settle(const TrackTally& tally)
{
    TrackFinding result("ASF header and packets");
    Header header;
    PositionedFile file(tally.path);
    if (!ReadHeader(file, &header) || header.broadcast || header.packetBytes == 0 || tally.fileBytes < 0) {
        result.rule = "ASF header";
        result.Say("states no length that can be used; counted %llu", (unsigned long long)tally.Counted());
        return result;
    }
    const UInt64 counted = tally.Counted();
    const UInt64 rate = UInt64(tally.SampleRate());
    const auto framesOf = [&](int64_t ms) { return UInt64(std::max<int64_t>(ms, 0)) * rate / 1000; };
    const UInt64 prerollTicks = header.prerollMs * 10000;
    const UInt64 ticks = header.playDuration > prerollTicks ? header.playDuration - prerollTicks : 0;  // 100 ns each
    UInt64 stated = ticks / 10000000 * rate + ticks % 10000000 * rate / 10000000;
    // Repeated objects: what the track gives beyond the duration (the
    // demuxer passes some of them over), else what the objects span.
    Objects objects;
    const int number = tally.format->nb_streams == 1 ? 0 : tally.format->streams[tally.stream]->id;
    const bool walked = WalkPackets(file, header, number, &objects);
    // Of several streams, the duration may be another's: the sound track's
    // ends with its latest object.
    if (number != 0)
        stated = walked ? std::min(stated, framesOf(objects.endMs - int64_t(header.prerollMs))) : 0;
    result.expected = stated;
    // The codec's own end (its last frame, which the duration counts whole
    // though the sound ends inside it), and the rounding of the duration
    // and the preroll, which writers state to the millisecond.
    const AVCodecParameters* par = tally.format->streams[tally.stream]->codecpar;
    const UInt64 oneFrame = UInt64(par->frame_size > 0 ? par->frame_size : 2048);
    const UInt64 rounding = (2 * rate + 999) / 1000;
    if (stated > 0)
        result.stated = StatedLength{.frames = stated, .tolerance = rounding};
    if (walked) {
        if (objects.repeatedMs > 0) {
            result.damaged = true;
            result.added.repeatedFrames = stated > 0 && counted > stated && objects.gaps == 0
                                              ? counted - stated
                                              : framesOf(objects.repeatedMs);
        }
        if (objects.gaps > 0) {
            result.damaged = true;
            result.missingAtLeast = framesOf(objects.missingMs);
        }
    }
    const int64_t held = std::max<int64_t>(tally.fileBytes - header.dataStart, 0) / header.packetBytes;
    const char* found = "whole";
    if (UInt64(held) < header.dataPackets && objects.gaps == 0) {
        result.cut = true;
        tally.TakeBackLastRefusal(&result);
        found = "cut";
    } else if (objects.gaps == 0 && stated > 0) {
        if (stated > counted + oneFrame + rounding) {
            result.damaged = true;
            found = "lost";
        }
    } else if (objects.gaps > 0) {
        found = "packets taken out";
    }
    result.Say("%llu packets of %u bytes stated, %lld held; %llu frames stated, counted %llu; objects repeated %lld "
               "ms, taken out %lld ms at %d places: %s",
               (unsigned long long)header.dataPackets, header.packetBytes, (long long)held, (unsigned long long)stated,
               (unsigned long long)counted, (long long)objects.repeatedMs, (long long)objects.missingMs, objects.gaps,
               found);
    return result;
}
