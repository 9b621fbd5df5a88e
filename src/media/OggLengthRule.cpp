#include "OggLengthRule.h"

#include "ByteChecksum.h"
#include "ByteFields.h"
#include "PositionedFile.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "media_calls.h"

namespace {

// The page checksum: CRC-32 over the page with its checksum field zeroed.
UInt32 PageChecksum(const std::vector<uint8_t>& page)
{
    static const uint8_t kZeros[4] = {};
    UInt32 crc = ByteChecksum::Crc32(page.data(), 22);
    crc = ByteChecksum::Crc32(kZeros, 4, crc);
    return ByteChecksum::Crc32(page.data() + 26, page.size() - 26, crc);
}

}  // namespace

namespace {

// Granules as a damaged file may state them: sums that stop at the largest.
void AddGranules(int64_t* total, int64_t more)
{
    *total = more > INT64_MAX - *total ? INT64_MAX : *total + more;
}

// Granules of a stream at another rate, at the first stream's.
int64_t Scaled(int64_t granules, double scale)
{
    return scale == 1.0 ? granules : int64_t(std::min(double(granules) * scale, 1e18));
}

// One logical stream of the chain, as its pages come.
struct LogicalStream {
    UInt32 serial = 0;
    std::map<UInt32, int64_t> granules;  // by sequence number
    std::vector<UInt32> arrivals;        // sequence numbers in the file's order
    int64_t lastGranule = -1;
    int64_t preSkip = 0;      // an Opus stream's
    int64_t slack = 0;        // what a Vorbis decoder keeps back of the stream's first packet
    int64_t soundBytes = 0;   // bytes of the pages that end a packet of sound
    int64_t soundPages = 0;
    UInt32 rate = 0;          // a Vorbis or FLAC stream's (0: not told)
    // The streams of its link, and the bytes of the link's pages that end
    // a packet (of any of them): bytes of a multiplexed file hold them all.
    std::size_t linkStreams = 1;
    int64_t linkBytes = 0;
    int64_t linkPages = 0;

    // Granules per byte of the stream's sound pages (0: unknown).
    double GranulesPerByte() const
    {
        const int64_t bytes = linkStreams > 1 ? linkBytes : soundBytes;
        return bytes > 0 && lastGranule > 0 ? double(lastGranule) / double(bytes) : 0.0;
    }
    int64_t HalfPage() const
    {
        return linkStreams > 1 ? (linkPages > 0 ? linkBytes / linkPages / 2 : 0)
                               : (soundPages > 0 ? soundBytes / soundPages / 2 : 0);
    }
    // The page sequence: missing numbers, and the granules of the pages met
    // twice or after a later one (each page's granules counted from the
    // page before it in the sequence).
    void Sequence(OggLengthRule::Pages* out, double scale) const
    {
        if (granules.empty())
            return;
        out->missingPages +=
            int64_t(granules.rbegin()->first) - int64_t(granules.begin()->first) + 1 - int64_t(granules.size());
        const auto span = [&](UInt32 sequence) -> int64_t {
            const auto it = granules.find(sequence);
            if (it == granules.end() || it->second < 0)
                return 0;
            for (auto before = it; before != granules.begin();) {
                --before;
                if (before->second >= 0)
                    return std::max<int64_t>(it->second - before->second, 0);
            }
            return 0;
        };
        int64_t before = -1;
        for (const auto& [sequence, granule] : granules) {
            if (granule >= 0 && granule < before)
                out->granulesFall = true;
            before = std::max(before, granule);
        }
        std::set<UInt32> seen;
        UInt32 highest = 0;
        for (const UInt32 sequence : arrivals) {
            if (!seen.insert(sequence).second)
                AddGranules(&out->repeatedGranules, Scaled(span(sequence), scale));
            else if (sequence < highest)
                AddGranules(&out->lateGranules, Scaled(span(sequence), scale));
            highest = std::max(highest, sequence);
        }
    }
};

// A page that begins a logical stream: what its first packet (the codec's
// header) tells, kept until the link's headers are all in.
struct StreamHead {
    UInt32 serial = 0;
    UInt32 sequence = 0;
    int64_t granule = 0;
    uint8_t flags = 0;
    int64_t bytes = 0;
    OggLengthRule::Codec codec = OggLengthRule::Codec::Any;
    int64_t preSkip = 0;
    int64_t slack = 0;
    UInt32 rate = 0;
};

StreamHead ReadStreamHead(const uint8_t* first, int64_t body)
{
    StreamHead h;
    if (body >= 19 && std::memcmp(first, "OpusHead", 8) == 0) {
        h.codec = OggLengthRule::Codec::Opus;
        h.preSkip = ReadLE16(first + 10);
    } else if (body >= 30 && std::memcmp(first, "\x01vorbis", 7) == 0) {
        h.codec = OggLengthRule::Codec::Vorbis;
        h.slack = int64_t(1) << (first[28] >> 4);
        h.rate = ReadLE32(first + 12);
    } else if (body >= 5 && std::memcmp(first, "\x7F" "FLAC", 5) == 0) {
        h.codec = OggLengthRule::Codec::Flac;
        // (STREAMINFO's rate: 20 bits from its 11th byte, after the
        // mapping's 13 bytes and the block header.)
        if (body >= 30)
            h.rate = UInt32(first[27]) << 12 | UInt32(first[28]) << 4 | first[29] >> 4;
    } else if (body >= 8 && std::memcmp(first, "Speex   ", 8) == 0) {
        h.codec = OggLengthRule::Codec::Speex;
    }
    return h;
}

}  // namespace

bool OggLengthRule::Walk(PositionedFile& file, Pages* out, Pick pick)
{
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
    UInt32 serial = 0;  // the picked stream's of the first link
    UInt32 lastSequence = 0;
    int64_t widestStep = 0;  // the most granules one whole page of the stream added
    std::vector<LogicalStream> chain;  // the picked stream of each link
    std::map<UInt32, int64_t> orphans;  // the last granule of each stream met without its first page
    std::set<UInt32> known;             // every stream whose first page was met
    bool oneStreamLinks = true;         // every link so far carries one stream
    // The link being read: the first pages of its streams, whether they
    // are all in (a page of another kind has come), and whether one of
    // them is the track's (the last of `chain`).
    std::vector<StreamHead> link;
    bool linkClosed = true;
    bool picked = false;
    int64_t lastTaken = -1;   // the granule of the picked stream's page before
    int64_t lastPageEnd = 0;  // the end of the last whole page
    int64_t claimedEnd = 0;   // where the page claimed ends by its header
    // A page of the picked stream.
    const auto take = [&](UInt32 sequence, int64_t granule, uint8_t flags, int64_t bytes) {
        if (chain.size() == 1) {
            if (granule >= 0) {
                if (out->lastGranule >= 0 && granule > out->lastGranule)
                    widestStep = std::max(widestStep, granule - out->lastGranule);
                out->lastGranule = granule;
            }
            lastSequence = sequence;
        }
        LogicalStream& stream = chain.back();
        stream.arrivals.push_back(sequence);
        stream.granules.emplace(sequence, granule);
        if (granule > 0) {
            stream.soundBytes += bytes;
            ++stream.soundPages;
            stream.lastGranule = std::max(stream.lastGranule, granule);
        }
        if (granule >= 0) {
            out->lastPageGranules = lastTaken >= 0 ? granule - lastTaken : -1;
            lastTaken = granule;
        }
        out->endMarked = (flags & 4) != 0;
    };
    // The link's headers are all in: which stream is the track's.
    const auto closeLink = [&] {
        linkClosed = true;
        if (link.empty())
            return;
        oneStreamLinks = oneStreamLinks && link.size() == 1;
        int chosen = -1;
        for (std::size_t i = 0, seen = 0; i < link.size() && chosen < 0; ++i)
            if ((pick.codec == Codec::Any || link[i].codec == pick.codec) && int(seen++) == pick.ordinal)
                chosen = int(i);
        if (chosen < 0 && link.size() == 1)
            chosen = 0;
        if (chain.empty())
            out->tracks = int(link.size());
        if (chosen < 0)
            return;
        const StreamHead& h = link[std::size_t(chosen)];
        LogicalStream stream;
        stream.serial = h.serial;
        stream.preSkip = h.preSkip;
        stream.slack = h.slack;
        stream.rate = h.rate;
        stream.linkStreams = link.size();
        chain.push_back(std::move(stream));
        if (chain.size() == 1)
            serial = h.serial;
        picked = true;
        lastTaken = -1;
        take(h.sequence, h.granule, h.flags, h.bytes);
    };
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
                granule >= out->lastGranule && (granule - out->lastGranule) / 4 <= widestStep) {
                out->claimedGranule = std::max(out->claimedGranule, granule);
                claimedEnd = end;
            }
            at = nextPage(at + 1);
            continue;
        }
        page.resize(std::size_t(end - at));
        const bool checksumFails =
            read(at, page.data(), page.size()) != page.size() || PageChecksum(page) != ReadLE32(head + 22);
        ogg = true;
        // The chain: the pages that begin streams, one after another, make
        // a link (its streams multiplexed); one after the link's other
        // pages begins the next link.  The first packet of each, the
        // codec's header, tells what the decoder keeps back.
        const uint8_t* first = page.data() + 27 + segments;
        const bool inLink =
            std::any_of(link.begin(), link.end(), [&](const StreamHead& h) { return h.serial == pageSerial; });
        if ((head[5] & 2) && !inLink) {
            if (linkClosed) {
                // The stream before it should have ended.
                if (!chain.empty() && picked && !out->endMarked && chain.back().soundPages > 0)
                    ++out->unendedLinks;
                link.clear();
                linkClosed = false;
                picked = false;
            }
            StreamHead h = ReadStreamHead(first, body);
            h.serial = pageSerial;
            h.sequence = sequence;
            h.granule = granule;
            h.flags = head[5];
            h.bytes = end - at;
            link.push_back(h);
            known.insert(pageSerial);
            if (checksumFails)
                out->damaged = true;
            lastPageEnd = end;
            at = end;
            continue;
        }
        if (!linkClosed && !(head[5] & 2))
            closeLink();
        const bool ours = picked && chain.back().serial == pageSerial;
        // Pages of a stream whose beginning is gone: its sound was stated,
        // and lost with it (where each link is one stream: it was the
        // track's).
        const bool orphan = !known.empty() && !known.count(pageSerial);
        if (orphan) {
            out->damaged = true;
            if (oneStreamLinks)
                orphans[pageSerial] = std::max(orphans[pageSerial], granule);
        }
        // (A page failing its checksum in a multiplexed link is the track's
        // damage only when it is the track's.)
        if (checksumFails && (ours || orphan || known.empty() || oneStreamLinks))
            out->damaged = true;
        if (picked && inLink && granule > 0) {
            chain.back().linkBytes += end - at;
            ++chain.back().linkPages;
        }
        if (ours)
            take(sequence, granule, head[5], end - at);
        lastPageEnd = end;
        at = end;
    }
    if (!linkClosed)
        closeLink();
    if (!ogg)
        return false;
    out->streams = int(chain.size());
    for (const auto& orphan : orphans)
        AddGranules(&out->laterGranules, std::max<int64_t>(orphan.second, 0));
    // A stream chained at another rate is heard at the first one's (the
    // track's rate): its granules count at that rate.
    const auto scale = [&](const LogicalStream& link) {
        return chain.front().rate > 0 && link.rate > 0 ? double(chain.front().rate) / double(link.rate) : 1.0;
    };
    for (std::size_t i = 0; i < chain.size(); ++i) {
        out->otherRates = out->otherRates || scale(chain[i]) != 1.0;
        chain[i].Sequence(out, scale(chain[i]));
        if (i > 0) {
            AddGranules(&out->laterGranules,
                        Scaled(std::max<int64_t>(chain[i].lastGranule - chain[i].preSkip, 0), scale(chain[i])));
            AddGranules(&out->laterSlack, Scaled(chain[i].slack, scale(chain[i])));
        }
    }
    // Bytes after the last page that are no pages, where the stream had not
    // ended: they held its sound.
    const int64_t tailFrom = std::max(lastPageEnd, claimedEnd);
    if (!out->endMarked && !out->endsInsidePage && tailFrom < size) {
        // At the rate of the last stream that shows one; a tail shorter
        // than half a page is what is left of the last one.
        double perByte = 0;
        int64_t halfPage = 0;
        for (auto link = chain.rbegin(); link != chain.rend() && perByte == 0; ++link) {
            perByte = link->GranulesPerByte() * scale(*link);
            halfPage = link->HalfPage();
        }
        if (size - tailFrom > halfPage)
            out->tailGranules = int64_t(std::min(double(size - tailFrom) * perByte, 1e18));
    }
    return true;
}

bool OggLengthRule::Intact(const std::string& path, int64_t* lastGranule)
{
    PositionedFile file(path);
    ogg_ = Walk(file, &pages_);
    walked_ = true;
    const Pages& pages = pages_;
    if (!ogg_ || pages.streams != 1 || pages.damaged || pages.endsInsidePage || !pages.endMarked ||
        pages.claimedGranule >= 0 || pages.missingPages > 0 || pages.repeatedGranules > 0 || pages.lateGranules > 0 ||
        pages.granulesFall || pages.unendedLinks > 0 || pages.laterGranules > 0 || pages.tailGranules > 0 ||
        pages.lastGranule < 0)
        return false;
    *lastGranule = pages.lastGranule;
    return true;
}

bool OggLengthRule::RatesChange(const std::string& path)
{
    if (!walked_) {
        PositionedFile file(path);
        ogg_ = Walk(file, &pages_);
        walked_ = true;
    }
    return ogg_ && pages_.otherRates;
}

bool OggLengthRule::CutBeforeSound(PositionedFile& file)
{
    Pages pages;
    if (!Walk(file, &pages))
        return false;
    // Whole pages that hold only the codec's headers (no granule past 0),
    // the last without the end-of-stream flag, are a stream cut where its
    // sound was to begin.
    return pages.endsInsidePage ||
           (pages.streams == 1 && !pages.damaged && !pages.endMarked && pages.lastGranule <= 0);
}

bool OggLengthRule::Packet(const AVPacket& packet, UInt64*, const TrackTally&, TrackFinding*)
{
    if (firstSeen_)
        return false;
    firstSeen_ = true;
    // Where the stream starts at its first packet (a damaged first page
    // leaves the demuxer to start further on: nothing to take off then).
    if (packet.pts != AV_NOPTS_VALUE && packet.pts <= 0 && packet.duration > 0)
        firstEnd_ = packet.pts + packet.duration;
    return false;
}

OggLengthRule::Pick OggLengthRule::PickOf(const TrackTally& tally)
{
    // The demuxer gives the streams in the order their first pages come.
    const auto codecOf = [](AVCodecID id) {
        switch (id) {
        case AV_CODEC_ID_VORBIS: return Codec::Vorbis;
        case AV_CODEC_ID_OPUS: return Codec::Opus;
        case AV_CODEC_ID_FLAC: return Codec::Flac;
        case AV_CODEC_ID_SPEEX: return Codec::Speex;
        default: return Codec::Any;
        }
    };
    Pick pick;
    pick.codec = codecOf(tally.format->streams[tally.stream]->codecpar->codec_id);
    for (int i = 0; i < tally.stream; ++i)
        if (pick.codec == Codec::Any || codecOf(tally.format->streams[i]->codecpar->codec_id) == pick.codec)
            ++pick.ordinal;
    return pick;
}

TrackFinding OggLengthRule::Settle(const TrackTally& tally)
{
    TrackFinding result("Ogg pages");
    Pages pages = pages_;
    bool ogg = ogg_;
    if (!walked_) {
        PositionedFile file(tally.path);
        ogg = Walk(file, &pages, PickOf(tally));
    }
    if (!ogg || pages.streams == 0) {
        result.Say("not walked (%u tracks, none of the track's codec)", tally.format->nb_streams);
        return result;
    }
    const UInt64 counted = tally.Counted();
    result.damaged = pages.damaged || pages.missingPages > 0 || pages.repeatedGranules > 0 || pages.lateGranules > 0 ||
                     pages.tailGranules > 0 || pages.unendedLinks > 0 || pages.granulesFall;
    const bool damaged = tally.sofar.Damaged() || result.damaged;
    const AVCodecParameters* par = tally.format->streams[tally.stream]->codecpar;
    // The first stream's last granule (with the sound of a tail of damage
    // after it), and those of the streams chained after it.
    const UInt64 stated = UInt64(std::max<int64_t>(std::max(pages.lastGranule, pages.claimedGranule), 0)) +
                          UInt64(pages.laterGranules) + UInt64(pages.tailGranules);
    // What the decoder never gives of that.
    UInt64 unheard = UInt64(std::max(par->initial_padding, 0));
    if (par->codec_id == AV_CODEC_ID_VORBIS && firstEnd_ > 0)
        unheard += tally.Frames(firstEnd_);
    // FLAC in Ogg states its length in its stream information (0: unknown,
    // as a writer that cannot go back leaves it).
    UInt64 flacTotal = 0;
    if (par->codec_id == AV_CODEC_ID_FLAC && par->extradata_size >= 18 && pages.streams <= 1)
        flacTotal = UInt64(par->extradata[13] & 0x0F) << 32 | ReadBE32(par->extradata + 14);
    const UInt64 expected = flacTotal > 0 ? flacTotal : stated > unheard ? stated - unheard : 0;
    result.expected = expected > 0 ? expected + unheard : 0;
    const bool undamaged = tally.sofar.Loss().refusedPackets == 0 && !damaged;
    bool cut = tally.sofar.Cut();
    if (expected > counted) {
        if (undamaged && (pages.endsInsidePage || !pages.endMarked))
            cut = true;
        else if (expected - counted > UInt64(std::max(par->trailing_padding, 0)) + UInt64(pages.laterSlack))
            result.missingAtLeast = expected - counted;
    }
    // A stream of the chain cut off before the next began: how much went
    // with its last pages no page says.
    result.added.gaps = UInt64(pages.unendedLinks);
    result.added.repeatedFrames = tally.Frames(pages.repeatedGranules);
    result.added.misplacedFrames = tally.Frames(pages.lateGranules);
    if (pages.endsInsidePage && undamaged)
        cut = true;
    // A stream whose last page does not end it: the file may have been cut
    // between two pages; its last granule says how far it had come.
    if (!pages.endMarked && !pages.endsInsidePage && undamaged) {
        cut = true;
        result.unmarkedEndAtLeast = std::max<UInt64>(counted, 1);
    }
    if (cut)
        result.cut = true;
    if (cut && flacTotal > counted)
        result.cutFramesAtLeast = flacTotal - counted;
    // More frames than the stream states: where a granule fell before the
    // last page (the demuxer then loses the end's trim) and the excess is
    // within what the last page holds, the last granule ends the track;
    // otherwise the statement and the count disagree, and both are said.
    const char* found = cut ? "cut" : damaged ? "damaged" : "whole";
    if (expected > 0 && counted > expected && flacTotal == 0 && pages.streams == 1 && !cut) {
        if (pages.granulesFall && pages.endMarked && pages.lastPageGranules > 0 &&
            counted - expected <= UInt64(pages.lastPageGranules)) {
            result.frames = expected;
            found = "damaged; the end trimmed where the last granule states";
        } else if (pages.granulesFall) {
            result.headerAndHeld = std::make_pair(expected, counted);
            found = "damaged; more frames than the last granule states";
        } else {
            found = "more frames than the last granule states";
        }
    }
    result.Say("%d streams; last granule %lld (claimed %lld), later streams %lld, tail %lld; %lld pages missing, "
               "%lld granules repeated, %lld out of order, %d streams unended; end %s; expected %llu frames less "
               "%llu unheard, counted %llu; %d tracks%s; %s",
               pages.streams, (long long)pages.lastGranule, (long long)pages.claimedGranule,
               (long long)pages.laterGranules, (long long)pages.tailGranules, (long long)pages.missingPages,
               (long long)pages.repeatedGranules, (long long)pages.lateGranules, pages.unendedLinks,
               pages.endsInsidePage ? "inside a page" : pages.endMarked ? "marked" : "unmarked",
               (unsigned long long)stated, (unsigned long long)unheard, (unsigned long long)counted, pages.tracks,
               pages.granulesFall ? ", a granule falls" : "", found);
    return result;
}
