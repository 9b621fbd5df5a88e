#include "OggLengthRule.h"

#include "ByteChecksum.h"
#include "ByteFields.h"
#include "PositionedFile.h"
#include "RateChangeBridge.h"

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
    std::vector<int64_t> arrivalGranules;  // and their granules
    int64_t lastGranule = -1;
    int64_t preSkip = 0;      // an Opus stream's
    int64_t slack = 0;        // what a Vorbis decoder keeps back of the stream's first packet
    int64_t soundBytes = 0;   // bytes of the pages that end a packet of sound
    int64_t soundPages = 0;
    UInt32 rate = 0;          // a Vorbis or FLAC stream's (0: not told)
    UInt32 channels = 0;      // as its header states them (0: not told)
    UInt32 bits = 0;          // a FLAC stream's word length
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
        // A page met again by its number repeats its sound; so does one
        // of a new number that ends packets at the granule the page before
        // it ended on (a page written twice and numbered on): the granules
        // of the page it repeats.
        std::set<UInt32> seen;
        UInt32 highest = 0;
        int64_t previous = -1, previousSpan = 0;
        for (std::size_t i = 0; i < arrivals.size(); ++i) {
            const UInt32 sequence = arrivals[i];
            const int64_t granule = arrivalGranules[i];
            if (!seen.insert(sequence).second) {
                AddGranules(&out->repeatedGranules, Scaled(span(sequence), scale));
                continue;
            }
            if (sequence < highest)
                AddGranules(&out->lateGranules, Scaled(span(sequence), scale));
            highest = std::max(highest, sequence);
            if (granule < 0)
                continue;
            if (granule > 0 && granule == previous) {
                AddGranules(&out->repeatedGranules, Scaled(previousSpan, scale));
                continue;
            }
            previousSpan = previous >= 0 ? std::max<int64_t>(granule - previous, 0) : 0;
            previous = granule;
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
    OggLengthRule::Codec codec = OggLengthRule::Codec::None;
    int64_t preSkip = 0;
    int64_t slack = 0;
    UInt32 rate = 0;
    bool rateStated = false;  // a Vorbis or FLAC header states one (0 among them)
    UInt32 channels = 0;
    UInt32 bits = 0;
};

StreamHead ReadStreamHead(const uint8_t* first, int64_t body)
{
    StreamHead h;
    if (body >= 19 && std::memcmp(first, "OpusHead", 8) == 0) {
        h.codec = OggLengthRule::Codec::Opus;
        h.preSkip = ReadLE16(first + 10);
        h.channels = first[9];
    } else if (body >= 30 && std::memcmp(first, "\x01vorbis", 7) == 0) {
        h.codec = OggLengthRule::Codec::Vorbis;
        h.slack = int64_t(1) << (first[28] >> 4);
        h.rate = ReadLE32(first + 12);
        h.rateStated = true;
        h.channels = first[11];
    } else if (body >= 5 && std::memcmp(first, "\x7F" "FLAC", 5) == 0) {
        h.codec = OggLengthRule::Codec::Flac;
        // (STREAMINFO's rate: 20 bits from its 11th byte, after the
        // mapping's 13 bytes and the block header; then three bits of
        // channels less one and five of the word length less one.)
        if (body >= 31) {
            h.rate = UInt32(first[27]) << 12 | UInt32(first[28]) << 4 | first[29] >> 4;
            h.rateStated = true;
            h.channels = ((first[29] >> 1) & 7) + 1;
            h.bits = ((UInt32(first[29]) & 1) << 4 | first[30] >> 4) + 1;
        }
    } else if (body >= 8 && std::memcmp(first, "Speex   ", 8) == 0) {
        h.codec = OggLengthRule::Codec::Speex;
    }
    return h;
}

// One page as the walk reads it: where it lies, and what its header says.
struct PageRead {
    int64_t at = 0;
    int64_t end = 0;
    int64_t body = 0;
    std::size_t segments = 0;
    UInt32 serial = 0;
    UInt32 sequence = 0;
    int64_t granule = 0;
    uint8_t flags = 0;
    bool checksumFails = false;
};

// The walk through a file's pages: the chain of links it meets, the
// picked stream of each, and what the bytes that are no pages say.
class PageWalk {
public:
    PageWalk(PositionedFile& file, OggLengthRule::Pages* out, OggLengthRule::Pick pick)
        : file_(file), out_(out), pick_(pick), size_(file.Size())
    {
    }

    // False for a file that does not start with a page.
    bool Run()
    {
        for (int64_t at = 0; at >= 0 && at < size_;) {
            PageRead p;
            if (!ReadPage(&at, &p))
                continue;
            const bool inLink =
                std::any_of(link_.begin(), link_.end(), [&](const StreamHead& h) { return h.serial == p.serial; });
            if ((p.flags & 2) && !inLink) {
                StartStream(p);
            } else {
                if (!linkClosed_ && !(p.flags & 2))
                    CloseLink();
                OtherPage(p, inLink);
            }
            lastPageEnd_ = p.end;
            at = p.end;
        }
        if (!linkClosed_)
            CloseLink();
        if (!ogg_)
            return false;
        Chain();
        Tail();
        return true;
    }

private:
    bool IsPage(int64_t at)
    {
        char capture[4] = {};
        return file_.Read(at, capture, 4) == 4 && std::memcmp(capture, "OggS", 4) == 0;
    }
    // The next page after `from`, or -1.
    int64_t NextPage(int64_t from)
    {
        std::vector<uint8_t> block(1 << 16);
        for (; from < size_; from += int64_t(block.size()) - 3) {
            const std::size_t n = file_.Read(from, block.data(), block.size());
            for (std::size_t i = 0; i + 4 <= n; ++i)
                if (std::memcmp(&block[i], "OggS", 4) == 0)
                    return from + int64_t(i);
            if (n < block.size())
                break;
        }
        return -1;
    }

    // The page at `*at`, read whole into `page_`: false where there is none
    // (`*at` then where the walk goes on, or -1 where it stops).
    bool ReadPage(int64_t* at, PageRead* p)
    {
        const std::size_t got = file_.Read(*at, head_, 27);
        const std::size_t segments = got == 27 ? head_[26] : 0;
        if (got < 27 || std::memcmp(head_, "OggS", 4) != 0 || file_.Read(*at + 27, head_ + 27, segments) != segments) {
            if (!ogg_) {
                *at = -1;
                return false;
            }
            // A page broken off at the file's end: the file was cut.
            if (got >= 4 && std::memcmp(head_, "OggS", 4) == 0 && NextPage(*at + 1) < 0) {
                out_->endsInsidePage = true;
                *at = -1;
                return false;
            }
            out_->damaged = true;
            *at = NextPage(*at + 1);
            return false;
        }
        p->at = *at;
        p->segments = segments;
        for (std::size_t i = 0; i < segments; ++i)
            p->body += head_[27 + i];
        p->end = *at + 27 + int64_t(segments) + p->body;
        if (p->end > size_ && NextPage(*at + 1) < 0) {
            out_->endsInsidePage = ogg_;
            *at = -1;
            return false;
        }
        p->serial = ReadLE32(head_ + 14);
        p->sequence = ReadLE32(head_ + 18);
        p->granule = int64_t(UInt64(ReadLE32(head_ + 6)) | UInt64(ReadLE32(head_ + 10)) << 32);
        p->flags = head_[5];
        // A header whose sizes lead elsewhere than to a page is damaged; its
        // granule counts when it follows on from the page before.
        if (p->end > size_ || (p->end < size_ && !IsPage(p->end))) {
            out_->damaged = true;
            if (ogg_ && p->serial == serial_ && p->sequence == lastSequence_ + 1 && out_->lastGranule >= 0 &&
                p->granule >= out_->lastGranule && (p->granule - out_->lastGranule) / 4 <= widestStep_) {
                out_->claimedGranule = std::max(out_->claimedGranule, p->granule);
                claimedEnd_ = p->end;
            }
            *at = NextPage(*at + 1);
            return false;
        }
        page_.resize(std::size_t(p->end - *at));
        p->checksumFails =
            file_.Read(*at, page_.data(), page_.size()) != page_.size() || PageChecksum(page_) != ReadLE32(head_ + 22);
        ogg_ = true;
        return true;
    }

    // The chain: the pages that begin streams, one after another, make a
    // link (its streams multiplexed); one after the link's other pages
    // begins the next link.  The first packet of each, the codec's header,
    // tells what the decoder keeps back.
    void StartStream(const PageRead& p)
    {
        if (linkClosed_) {
            // The stream before it should have ended.
            if (!chain_.empty() && picked_ && !out_->endMarked && chain_.back().soundPages > 0)
                ++out_->unendedLinks;
            link_.clear();
            linkClosed_ = false;
            picked_ = false;
        }
        StreamHead h = ReadStreamHead(page_.data() + 27 + p.segments, p.body);
        h.serial = p.serial;
        h.sequence = p.sequence;
        h.granule = p.granule;
        h.flags = p.flags;
        h.bytes = p.end - p.at;
        link_.push_back(h);
        known_.insert(p.serial);
        if (p.checksumFails)
            out_->damaged = true;
    }

    // The link's headers are all in: which stream is the track's.
    void CloseLink()
    {
        using Codec = OggLengthRule::Codec;
        linkClosed_ = true;
        if (link_.empty())
            return;
        oneStreamLinks_ = oneStreamLinks_ && link_.size() == 1;
        int chosen = -1;
        for (std::size_t i = 0, seen = 0; i < link_.size() && chosen < 0; ++i)
            if ((pick_.codec == Codec::None || link_[i].codec == pick_.codec) && int(seen++) == pick_.ordinal)
                chosen = int(i);
        if (chosen < 0 && link_.size() == 1)
            chosen = 0;
        if (chain_.empty())
            out_->tracks = int(link_.size());
        if (chosen < 0)
            return;
        const StreamHead& h = link_[std::size_t(chosen)];
        // A link after the first stating a rate no type holds (none, or
        // beyond the highest a track is given at) is none the track's rate
        // can be brought to.
        out_->rateNoTypeHolds = out_->rateNoTypeHolds ||
                                (!chain_.empty() && h.rateStated &&
                                 (h.rate == 0 || h.rate > UInt32(RateChangeBridge::kHighestRate)));
        LogicalStream stream;
        stream.serial = h.serial;
        stream.preSkip = h.preSkip;
        stream.slack = h.slack;
        stream.rate = h.rate;
        stream.channels = h.channels;
        stream.bits = h.bits;
        stream.linkStreams = link_.size();
        chain_.push_back(std::move(stream));
        if (chain_.size() == 1)
            serial_ = h.serial;
        picked_ = true;
        lastTaken_ = -1;
        Take(h.sequence, h.granule, h.flags, h.bytes);
    }

    // A page that begins no stream of the link being read.
    void OtherPage(const PageRead& p, bool inLink)
    {
        const bool ours = picked_ && chain_.back().serial == p.serial;
        // Pages of a stream whose beginning is gone: its sound was stated,
        // and lost with it (where each link is one stream: it was the
        // track's).
        const bool orphan = !known_.empty() && !known_.count(p.serial);
        if (orphan) {
            out_->damaged = true;
            if (oneStreamLinks_)
                orphans_[p.serial] = std::max(orphans_[p.serial], p.granule);
        }
        // (A page failing its checksum in a multiplexed link is the track's
        // damage only when it is the track's.)
        if (p.checksumFails && (ours || orphan || known_.empty() || oneStreamLinks_))
            out_->damaged = true;
        if (picked_ && inLink && p.granule > 0) {
            chain_.back().linkBytes += p.end - p.at;
            ++chain_.back().linkPages;
        }
        if (ours)
            Take(p.sequence, p.granule, p.flags, p.end - p.at);
    }

    // A page of the picked stream.
    void Take(UInt32 sequence, int64_t granule, uint8_t flags, int64_t bytes)
    {
        if (chain_.size() == 1) {
            if (granule >= 0) {
                if (out_->lastGranule >= 0 && granule > out_->lastGranule)
                    widestStep_ = std::max(widestStep_, granule - out_->lastGranule);
                out_->lastGranule = granule;
                out_->highestGranule = std::max(out_->highestGranule, granule);
            }
            lastSequence_ = sequence;
        }
        LogicalStream& stream = chain_.back();
        stream.arrivals.push_back(sequence);
        stream.arrivalGranules.push_back(granule);
        stream.granules.emplace(sequence, granule);
        if (granule > 0) {
            stream.soundBytes += bytes;
            ++stream.soundPages;
            stream.lastGranule = std::max(stream.lastGranule, granule);
        }
        if (granule >= 0) {
            out_->lastPageGranules = lastTaken_ >= 0 ? granule - lastTaken_ : -1;
            lastTaken_ = granule;
        }
        out_->endMarked = (flags & 4) != 0;
    }

    // A stream chained at another rate is heard at the first one's (the
    // track's rate): its granules count at that rate.
    double Scale(const LogicalStream& link) const
    {
        return chain_.front().rate > 0 && link.rate > 0 ? double(chain_.front().rate) / double(link.rate) : 1.0;
    }

    // What the streams after the first, and those whose beginning is gone,
    // state; the page sequence of each.
    void Chain()
    {
        out_->streams = int(chain_.size());
        for (const auto& orphan : orphans_)
            AddGranules(&out_->laterGranules, std::max<int64_t>(orphan.second, 0));
        for (std::size_t i = 0; i < chain_.size(); ++i) {
            out_->otherRates = out_->otherRates || Scale(chain_[i]) != 1.0;
            const LogicalStream& first = chain_.front();
            out_->otherChannels = out_->otherChannels || (chain_[i].channels > 0 && first.channels > 0 &&
                                                          chain_[i].channels != first.channels);
            out_->otherBits =
                out_->otherBits || (chain_[i].bits > 0 && first.bits > 0 && chain_[i].bits != first.bits);
            chain_[i].Sequence(out_, Scale(chain_[i]));
            if (i > 0) {
                AddGranules(&out_->laterGranules,
                            Scaled(std::max<int64_t>(chain_[i].lastGranule - chain_[i].preSkip, 0), Scale(chain_[i])));
                AddGranules(&out_->laterSlack, Scaled(chain_[i].slack, Scale(chain_[i])));
            }
        }
    }

    // Bytes after the last page that are no pages, where the stream had not
    // ended: they held its sound.
    void Tail()
    {
        const int64_t tailFrom = std::max(lastPageEnd_, claimedEnd_);
        if (out_->endMarked || out_->endsInsidePage || tailFrom >= size_)
            return;
        // At the rate of the last stream that shows one; a tail shorter
        // than half a page is what is left of the last one.
        double perByte = 0;
        int64_t halfPage = 0;
        for (auto link = chain_.rbegin(); link != chain_.rend() && perByte == 0; ++link) {
            perByte = link->GranulesPerByte() * Scale(*link);
            halfPage = link->HalfPage();
        }
        if (size_ - tailFrom > halfPage)
            out_->tailGranules = int64_t(std::min(double(size_ - tailFrom) * perByte, 1e18));
    }

    PositionedFile& file_;
    OggLengthRule::Pages* out_;
    const OggLengthRule::Pick pick_;
    const int64_t size_;
    uint8_t head_[27 + 255];
    std::vector<uint8_t> page_;
    bool ogg_ = false;
    UInt32 serial_ = 0;  // the picked stream's of the first link
    UInt32 lastSequence_ = 0;
    int64_t widestStep_ = 0;  // the most granules one whole page of the stream added
    std::vector<LogicalStream> chain_;  // the picked stream of each link
    std::map<UInt32, int64_t> orphans_;  // the last granule of each stream met without its first page
    std::set<UInt32> known_;             // every stream whose first page was met
    bool oneStreamLinks_ = true;         // every link so far carries one stream
    // The link being read: the first pages of its streams, whether they
    // are all in (a page of another kind has come), and whether one of
    // them is the track's (the last of `chain_`).
    std::vector<StreamHead> link_;
    bool linkClosed_ = true;
    bool picked_ = false;
    int64_t lastTaken_ = -1;   // the granule of the picked stream's page before
    int64_t lastPageEnd_ = 0;  // the end of the last whole page
    int64_t claimedEnd_ = 0;   // where the page claimed ends by its header
};

}  // namespace

bool OggLengthRule::Walk(PositionedFile& file, Pages* out, Pick pick)
{
    if (!file.IsOpen())
        return false;
    return PageWalk(file, out, pick).Run();
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

const OggLengthRule::Pages* OggLengthRule::Walked(const std::string& path)
{
    if (!walked_) {
        PositionedFile file(path);
        ogg_ = Walk(file, &pages_);
        walked_ = true;
    }
    return ogg_ ? &pages_ : nullptr;
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

bool OggLengthRule::Packet(const ::Packet& packet, UInt64*, const TrackTally&, TrackFinding*)
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
    const auto codecOf = [](AVCodecID id) { return CodecTraits::Of(id).ogg; };
    Pick pick;
    pick.codec = codecOf(tally.format->streams[tally.stream]->codecpar->codec_id);
    for (int i = 0; i < tally.stream; ++i)
        if (pick.codec == Codec::None || codecOf(tally.format->streams[i]->codecpar->codec_id) == pick.codec)
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
    if (CodecTraits::Of(par->codec_id).ogg == Codec::Vorbis && firstEnd_ > 0)
        unheard += tally.Frames(firstEnd_);
    // FLAC in Ogg states its length in its stream information (0: unknown,
    // as a writer that cannot go back leaves it).
    UInt64 flacTotal = 0;
    if (CodecTraits::Of(par->codec_id).ogg == Codec::Flac && par->extradata_size >= 18 && pages.streams <= 1)
        flacTotal = UInt64(par->extradata[13] & 0x0F) << 32 | ReadBE32(par->extradata + 14);
    const UInt64 expected = flacTotal > 0 ? flacTotal : stated > unheard ? stated - unheard : 0;
    // (Of pages out of order, the highest granule states how far the
    // stream goes, not the last page's.)
    const UInt64 reach = flacTotal == 0 && pages.lateGranules > 0 && pages.highestGranule > pages.lastGranule
                             ? UInt64(pages.highestGranule - pages.lastGranule)
                             : 0;
    if (expected > 0)
        result.stated = StatedLength{.frames = expected + reach,
                                     .tolerance = UInt64(std::max(par->trailing_padding, 0)) + UInt64(pages.laterSlack),
                                     .exact = true,
                                     .parts = UInt64(std::max(pages.streams, 1))};
    result.expected = expected > 0 ? expected + unheard : 0;
    const bool undamaged = tally.sofar.Loss().refusedPackets == 0 && !damaged;
    bool cut = tally.sofar.Cut();
    // (How much is gone, the comparison of what is stated with what is
    // delivered says: LengthComparison.)
    if (expected > counted && undamaged && (pages.endsInsidePage || !pages.endMarked))
        cut = true;
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
