// The length of an Ogg stream (Vorbis, Opus, FLAC in Ogg): the granule
// position of its last page, read from the file's own pages (the demuxer
// stops at a damaged one), of the logical stream the track is read from.
// A page whose end runs into damage still tells, by its header, how far
// the stream had come; so does the page broken off
// at the end of a cut file, which is said as cut when nothing else is
// damaged.  Sound short of the last granule is lost, less what the codec
// itself never gives: the pre-skip, and the first Vorbis packet (which only
// primes the decoder).
#pragma once

#include "CodecTraits.h"
#include "PositionedFile.h"
#include "TrackLengthRule.h"

#include <vector>

class OggLengthRule : public TrackLengthRule {
public:
    // What the pages of an Ogg file say of its first logical stream, and of
    // the chain of streams it may go on with.
    struct Pages {
        int64_t lastGranule = -1;     // of the last whole page (-1: none)
        int64_t highestGranule = -1;  // of any whole page
        int64_t claimedGranule = -1;  // of a later page running into damage
        bool endsInsidePage = false;  // the file was cut inside a page
        bool damaged = false;         // bytes that are no page, or a page failing its checksum
        // The chain: the logical streams one after another, and the
        // granules the streams after the first state (their last granule,
        // less an Opus stream's pre-skip), with what their decoders may
        // keep back (a Vorbis stream's first packet).
        int streams = 0;
        int unendedLinks = 0;  // streams followed by another without their end-of-stream flag
        int64_t laterGranules = 0;
        int64_t laterSlack = 0;
        bool otherRates = false;  // a stream's header states another rate than the first's
        // A stream's header states another channel count, or word length
        // (FLAC's), than the first's.
        bool otherChannels = false;
        bool otherBits = false;
        // A stream chained after the first states a rate no type holds (0,
        // or beyond the highest a track is given at).
        bool rateNoTypeHolds = false;
        // The page sequence of every stream: pages whose numbers are
        // missing, and the granules of pages met twice (by number, or by
        // a granule the page before ended on) or after a later one.
        int64_t missingPages = 0;
        int64_t repeatedGranules = 0;
        int64_t lateGranules = 0;
        bool granulesFall = false;  // a page's granule below one earlier in the sequence
        // The last page read whole carries the end-of-stream flag.
        bool endMarked = false;
        // Granules the bytes after the last page held (bytes that are no
        // pages there, at the last stream's granules per byte).
        int64_t tailGranules = 0;
        // The logical streams of the first link, and the granules of the
        // picked stream's last page (beyond the page before it).
        int tracks = 0;
        int64_t lastPageGranules = -1;
    };
    // Which logical stream of each link of the chain is the track's: the
    // `ordinal`-th of those whose header names `codec` (an Ogg file may
    // carry several, as a video and its sound, or a Skeleton beside them).
    // A link of one stream is the track's whatever it carries.
    // (None: any codec.)
    using Codec = OggMapping;
    struct Pick {
        Codec codec = Codec::None;
        int ordinal = 0;
    };
    // False for a file that does not start with a page.  Only the pages of
    // the picked stream count (bytes that are no page count for all).
    static bool Walk(PositionedFile& file, Pages* out, Pick pick);
    static bool Walk(PositionedFile& file, Pages* out) { return Walk(file, out, Pick{Codec::None, 0}); }
    // Whether the file at `path` is one logical stream whose pages are all
    // there, whole and in order, its granules rising to a last page that
    // carries the end-of-stream flag: its packets then tell its length,
    // which the last granule (in `lastGranule`) states.  The walk is kept
    // for Settle.
    bool Intact(const std::string& path, int64_t* lastGranule);
    // Whether `file` is an Ogg file that ends inside a page, or after its
    // header pages.
    static bool CutBeforeSound(PositionedFile& file);

    // The stream the track is read from.
    static Pick PickOf(const TrackTally& tally);

    // What the pages of the file at `path` say (null: it is no Ogg file):
    // whether its chain holds streams of more than one rate, channel count
    // or word length.  The walk is kept for Settle.
    const Pages* Walked(const std::string& path);

    bool Packet(const ::Packet& packet, UInt64* frames, const TrackTally& tally, TrackFinding* found) override;
    TrackFinding Settle(const TrackTally& tally) override;

private:
    bool walked_ = false;  // `pages_` holds the walk of the file (Intact)
    bool ogg_ = false;
    Pages pages_;
    bool firstSeen_ = false;
    int64_t firstEnd_ = 0;  // time stamp where the first packet ends
};
