#include "OggLengthRule.h"

#include "ByteOrder.h"
#include "PositionedFile.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "media_calls.h"

namespace {

// The page checksum: CRC-32 of polynomial 0x04C11DB7, not reflected, over
// the page with its checksum field zeroed.
UInt32 PageChecksum(const std::vector<uint8_t>& page)
{
    static const std::array<UInt32, 256> table = [] {
        std::array<UInt32, 256> t{};
        for (UInt32 i = 0; i < 256; ++i) {
            UInt32 r = i << 24;
            for (int k = 0; k < 8; ++k)
                r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
            t[i] = r;
        }
        return t;
    }();
    UInt32 crc = 0;
    for (std::size_t i = 0; i < page.size(); ++i) {
        const uint8_t byte = i >= 22 && i < 26 ? 0 : page[i];
        crc = (crc << 8) ^ table[((crc >> 24) ^ byte) & 0xFF];
    }
    return crc;
}

}  // namespace

bool OggLengthRule::Walk(const std::string& path, Pages* out)
{
    PositionedFile file(path);
    if (!file.IsOpen())
        return false;
    const int64_t size = file.Size();
    const auto read = [&](int64_t at, void* into, std::size_t bytes) { return file.Read(at, into, bytes); };
    const auto isPage = [&](int64_t at) {
        char capture[4] = {};
        return read(at, capture, 4) == 4 && std::memcmp(capture, "OggS", 4) == 0;
    };
    // The next page after `from`, or -1.
    const auto nextPage = [&](int64_t from) -> int64_t {
        std::vector<uint8_t> block(1 << 16);
        for (; from < size; from += int64_t(block.size()) - 3) {
            const std::size_t n = read(from, block.data(), block.size());
            for (std::size_t i = 0; i + 4 <= n; ++i)
                if (std::memcmp(&block[i], "OggS", 4) == 0)
                    return from + int64_t(i);
            if (n < block.size())
                break;
        }
        return -1;
    };
    uint8_t head[27 + 255];
    std::vector<uint8_t> page;
    bool ogg = false;
    UInt32 serial = 0;
    UInt32 lastSequence = 0;
    int64_t widestStep = 0;  // the most granules one whole page of the stream added
    for (int64_t at = 0; at >= 0 && at < size;) {
        const std::size_t got = read(at, head, 27);
        const std::size_t segments = got == 27 ? head[26] : 0;
        if (got < 27 || std::memcmp(head, "OggS", 4) != 0 || read(at + 27, head + 27, segments) != segments) {
            if (!ogg)
                break;
            // A page broken off at the file's end: the file was cut.
            if (got >= 4 && std::memcmp(head, "OggS", 4) == 0 && nextPage(at + 1) < 0) {
                out->endsInsidePage = true;
                break;
            }
            out->damaged = true;
            at = nextPage(at + 1);
            continue;
        }
        int64_t body = 0;
        for (std::size_t i = 0; i < segments; ++i)
            body += head[27 + i];
        const int64_t end = at + 27 + int64_t(segments) + body;
        if (end > size && nextPage(at + 1) < 0) {
            out->endsInsidePage = ogg;
            break;
        }
        const UInt32 pageSerial = ReadLE32(head + 14);
        const UInt32 sequence = ReadLE32(head + 18);
        const int64_t granule = int64_t(UInt64(ReadLE32(head + 6)) | UInt64(ReadLE32(head + 10)) << 32);
        // A header whose sizes lead elsewhere than to a page is damaged; its
        // granule counts when it follows on from the page before.
        if (end > size || (end < size && !isPage(end))) {
            out->damaged = true;
            if (ogg && pageSerial == serial && sequence == lastSequence + 1 && out->lastGranule >= 0 &&
                granule >= out->lastGranule && granule - out->lastGranule <= 4 * widestStep)
                out->claimedGranule = std::max(out->claimedGranule, granule);
            at = nextPage(at + 1);
            continue;
        }
        page.resize(std::size_t(end - at));
        if (read(at, page.data(), page.size()) != page.size() || PageChecksum(page) != ReadLE32(head + 22))
            out->damaged = true;
        if (!ogg)
            serial = pageSerial;
        ogg = true;
        if (pageSerial == serial) {
            if (granule >= 0) {
                if (out->lastGranule >= 0 && granule > out->lastGranule)
                    widestStep = std::max(widestStep, granule - out->lastGranule);
                out->lastGranule = granule;
            }
            lastSequence = sequence;
        }
        at = end;
    }
    return ogg;
}

bool OggLengthRule::CutInsidePage(const std::string& path)
{
    Pages pages;
    return Walk(path, &pages) && pages.endsInsidePage;
}

void OggLengthRule::Packet(const AVPacket& packet, UInt64*, TrackTally&)
{
    if (firstSeen_)
        return;
    firstSeen_ = true;
    // Where the stream starts at its first packet (a damaged first page
    // leaves the demuxer to start further on: nothing to take off then).
    if (packet.pts != AV_NOPTS_VALUE && packet.pts <= 0 && packet.duration > 0)
        firstEnd_ = packet.pts + packet.duration;
}

void OggLengthRule::Settle(TrackTally& tally)
{
    Pages pages;
    if (tally.format->nb_streams != 1 || !Walk(tally.path, &pages))
        return;
    tally.damageSeen = tally.damageSeen || pages.damaged;
    const AVCodecParameters* par = tally.format->streams[tally.stream]->codecpar;
    const UInt64 stated = UInt64(std::max<int64_t>(std::max(pages.lastGranule, pages.claimedGranule), 0));
    tally.expected = stated;
    // What the decoder never gives of that.
    UInt64 unheard = UInt64(std::max(par->initial_padding, 0));
    if (par->codec_id == AV_CODEC_ID_VORBIS && firstEnd_ > 0)
        unheard += tally.Frames(firstEnd_);
    const UInt64 expected = stated > unheard ? stated - unheard : 0;
    const bool undamaged = tally.loss.refusedPackets == 0 && !tally.damageSeen;
    if (expected > tally.frames) {
        if (undamaged && pages.endsInsidePage)
            tally.cutShort = true;
        else if (expected - tally.frames > UInt64(std::max(par->trailing_padding, 0)))
            tally.loss.missingFrames = std::max(tally.loss.missingFrames, expected - tally.frames);
    }
    if (pages.endsInsidePage && undamaged)
        tally.cutShort = true;
}
