#include "MatroskaLengthRule.h"

#include "ByteChecksum.h"
#include "ByteFields.h"
#include "PositionedFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "media_calls.h"

namespace {

constexpr UInt32 kEBML = 0x1A45DFA3;
constexpr UInt32 kSegment = 0x18538067;
constexpr UInt32 kInfo = 0x1549A966;
constexpr UInt32 kDuration = 0x4489;
constexpr UInt32 kTimestampScale = 0x2AD7B1;
constexpr UInt32 kCluster = 0x1F43B675;
constexpr UInt32 kCrc32 = 0xBF;

// An element's head: its ID (with its length marker) and the size of its
// body (-1: unknown, as a live writer leaves it).
struct ElementHead {
    UInt32 id = 0;
    int64_t size = -1;
    int bytes = 0;  // of the head
};

// A variable-length integer at `p` (of at most `available` bytes): its
// value with or without the length marker, and its length; 0 when none.
int ReadVint(const uint8_t* p, std::size_t available, bool keepMarker, UInt64* value)
{
    if (available == 0 || p[0] == 0)
        return 0;
    int length = 1;
    while (!(p[0] & (0x80 >> (length - 1))))
        ++length;
    if (std::size_t(length) > available)
        return 0;
    UInt64 v = keepMarker ? p[0] : p[0] & (0xFFu >> length);
    bool allOnes = v == (0xFFu >> length);
    for (int i = 1; i < length; ++i) {
        v = v << 8 | p[i];
        allOnes = allOnes && p[i] == 0xFF;
    }
    *value = keepMarker || !allOnes ? v : ~UInt64(0);
    return length;
}

bool ReadHead(PositionedFile& file, int64_t at, ElementHead* out)
{
    uint8_t bytes[12];
    const std::size_t got = file.Read(at, bytes, sizeof bytes);
    UInt64 id = 0;
    UInt64 size = 0;
    const int idBytes = ReadVint(bytes, got, true, &id);
    if (idBytes == 0 || idBytes > 4)
        return false;
    const int sizeBytes = ReadVint(bytes + idBytes, got - std::size_t(idBytes), false, &size);
    if (sizeBytes == 0)
        return false;
    out->id = UInt32(id);
    out->size = size == ~UInt64(0) ? -1 : int64_t(std::min<UInt64>(size, UInt64(1) << 56));
    out->bytes = idBytes + sizeBytes;
    return true;
}

// Whether the cluster whose body is [body, end) holds, where its first
// element is a CRC-32 of the rest of it.
bool ClusterChecksumHolds(PositionedFile& file, int64_t body, int64_t end)
{
    ElementHead crc;
    uint8_t stored[4];
    if (!ReadHead(file, body, &crc) || crc.id != kCrc32 || crc.size != 4 ||
        file.Read(body + crc.bytes, stored, 4) != 4)
        return true;
    uint32_t sum = 0xFFFFFFFFu;
    std::vector<uint8_t> block(1 << 16);
    for (int64_t at = body + crc.bytes + 4; at < end;) {
        const std::size_t n = file.Read(at, block.data(), std::size_t(std::min<int64_t>(end - at, 1 << 16)));
        if (n == 0)
            break;
        sum = ByteChecksum::Crc32Reflected(block.data(), n, sum);
        at += int64_t(n);
    }
    return ~sum == ReadLE32(stored);
}

}  // namespace

bool MatroskaLengthRule::Walk(PositionedFile& file, Layout* out)
{
    const int64_t size = file.Size();
    ElementHead head;
    if (!ReadHead(file, 0, &head) || head.id != kEBML || head.size < 0)
        return false;
    int64_t at = head.bytes + head.size;
    ElementHead segment;
    if (!ReadHead(file, at, &segment) || segment.id != kSegment)
        return false;
    at += segment.bytes;
    const int64_t segmentEnd = segment.size >= 0 ? at + segment.size : size;
    out->cut = segmentEnd > size;
    double duration = 0;
    UInt64 scale = 1000000;
    while (at < std::min(segmentEnd, size)) {
        if (!ReadHead(file, at, &head) || head.size < 0)
            break;
        const int64_t end = at + head.bytes + head.size;
        if (head.id == kInfo && end <= size && head.size < (1 << 20)) {
            std::vector<uint8_t> info(std::size_t(head.size));
            file.Read(at + head.bytes, info.data(), info.size());
            for (std::size_t in = 0; in < info.size();) {
                UInt64 id = 0, bytes = 0;
                const int idBytes = ReadVint(&info[in], info.size() - in, true, &id);
                const int sizeBytes = idBytes ? ReadVint(&info[in + std::size_t(idBytes)],
                                                         info.size() - in - std::size_t(idBytes), false, &bytes)
                                              : 0;
                if (sizeBytes == 0 || bytes > info.size() - in - std::size_t(idBytes + sizeBytes))
                    break;
                const uint8_t* body = &info[in + std::size_t(idBytes + sizeBytes)];
                if (id == kDuration && bytes == 4) {
                    const UInt32 word = ReadBE32(body);
                    float f;
                    std::memcpy(&f, &word, 4);
                    duration = double(f);
                } else if (id == kDuration && bytes == 8) {
                    const UInt64 word = ReadBE64(body);
                    std::memcpy(&duration, &word, 8);
                } else if (id == kTimestampScale && bytes >= 1 && bytes <= 8) {
                    scale = 0;
                    for (UInt64 i = 0; i < bytes; ++i)
                        scale = scale << 8 | body[i];
                }
                in += std::size_t(idBytes + sizeBytes) + std::size_t(bytes);
            }
        }
        if (end > size) {
            out->cut = true;
            break;
        }
        if (head.id == kCluster && !ClusterChecksumHolds(file, at + head.bytes, end))
            ++out->checksumFails;
        at = end;
    }
    if (std::isfinite(duration) && duration > 0 && scale > 0)
        out->durationSeconds = std::min(duration * double(scale) / 1e9, 1e9);
    return true;
}

bool MatroskaLengthRule::Packet(const ::Packet& packet, UInt64*, const TrackTally&, TrackFinding*)
{
    if (packet.pts != AV_NOPTS_VALUE && packet.duration >= 0)
        trackEnd_ = std::max(trackEnd_, packet.pts + packet.duration);
    return false;
}

namespace {

// A track's DURATION tag ("01:02:03.456000000"), in seconds (0: none).
double TaggedSeconds(const AVStream* st)
{
    const AVDictionaryEntry* tag = av_dict_get(st->metadata, "DURATION", nullptr, 0);
    unsigned hours = 0, minutes = 0;
    double seconds = 0;
    if (!tag || std::sscanf(tag->value, "%u:%u:%lf", &hours, &minutes, &seconds) != 3 || !std::isfinite(seconds) ||
        seconds < 0 || minutes >= 60 || hours > 1000000)
        return 0;
    return double(hours) * 3600 + double(minutes) * 60 + seconds;
}

}  // namespace

TrackFinding MatroskaLengthRule::Settle(const TrackTally& tally)
{
    TrackFinding result("Matroska");
    Layout layout;
    PositionedFile file(tally.path);
    if (!Walk(file, &layout)) {
        result.Say("no EBML header and segment");
        return result;
    }
    const UInt64 counted = tally.Counted();
    const AVCodecParameters* par = tally.format->streams[tally.stream]->codecpar;
    const int rate = tally.SampleRate();
    // Of several tracks, the sound track's own length: its tag, else (no
    // cut told by it) where its last block ends.
    const AVStream* st = tally.format->streams[tally.stream];
    const double tagged = tally.format->nb_streams > 1 ? TaggedSeconds(st) : 0;
    double seconds = layout.durationSeconds;
    const char* whose = "the segment's";
    bool lengthStated = true;  // a length of the track's (not where its packets happen to end)
    if (tally.format->nb_streams > 1 && tagged > 0) {
        seconds = std::min(seconds > 0 ? seconds : tagged, tagged);
        whose = "the track's tag";
    } else if (tally.format->nb_streams > 1) {
        seconds = trackEnd_ >= 0 ? std::min(seconds, double(trackEnd_) * av_q2d(st->time_base)) : 0;
        whose = "the track's last block";
        lengthStated = false;
    }
    const UInt64 stated = UInt64(std::llround(seconds * rate));
    // The duration ends with the last block's time, to the millisecond, and
    // counts what the codec's delay and priming take.
    const UInt64 slack = UInt64(std::max(par->frame_size, 1024) + std::max(par->initial_padding, 0) + rate / 500);
    if (lengthStated && stated > 0)
        result.stated = StatedLength{.frames = stated, .tolerance = slack, .exact = true};
    // (How much is gone, the comparison of what is stated with what is
    // delivered says: LengthComparison.)
    if (layout.cut) {
        result.cut = true;
        tally.TakeBackLastRefusal(&result);
    } else if (stated > counted + slack && !tally.sofar.Cut()) {
        result.damaged = true;
    }
    // Clusters failing their checksums are damage, said as places where
    // nothing says how much was lost.
    const bool lossSaid = tally.sofar.Loss().Any() || layout.cut || (lengthStated && stated > counted + slack);
    if (layout.checksumFails > 0 && !lossSaid) {
        result.damaged = true;
        result.added.gaps = UInt64(layout.checksumFails);
    }
    result.Say("duration %.3f s, %s %.3f s (%llu frames, %llu slack); %s; %d clusters failing their checksums; "
               "counted %llu",
               layout.durationSeconds, whose, seconds, (unsigned long long)stated, (unsigned long long)slack,
               layout.cut ? "an element runs past the end" : "whole", layout.checksumFails,
               (unsigned long long)counted);
    return result;
}
