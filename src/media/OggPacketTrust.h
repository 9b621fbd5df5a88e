// Opus and Vorbis in an Ogg file whose pages are whole: the packets tell
// the frames (an Opus packet's duration, from its table of contents; a
// Vorbis packet's from its mode, VorbisBlocks: the demuxer's durations of
// those on the last page can be amiss); the demuxer gives the pre-skip and
// the trim of the end, and the last granule checks the sum (Holds).  The
// packets of any other track are not told apart here.  The packets of a
// chain whose links are of more than one rate (FLAC's) tell the frames of
// each link at its own rate: the decoder counts them.
#pragma once

#include "CodecTraits.h"
#include "IndexEntry.h"
#include "Packet.h"
#include "VorbisBlocks.h"

#include <cstdint>
#include <string>

struct AVStream;
class TrackLengthRule;

class OggPacketTrust {
public:
    // The track `st` (`codec`), alone in the file at `path`, which the
    // container's rule `rule` reads (`viewed`: through a FileView): whether
    // its packets tell its frames (Applies).
    bool Open(TrackLengthRule* rule, const std::string& path, bool viewed, unsigned streams, OggMapping codec,
              const AVStream* st);
    bool Applies() const { return applies_; }
    // The frames of one packet (`padding`: the end trim its side data
    // states), and whether the durations stay known.
    void Packet(const ::Packet& packet, UInt64 padding, UInt64* frames, bool* durationsKnown);
    // The first packet of a Vorbis track only primes the decoder: true,
    // with its entry and frames set so.
    bool FirstPacketPrimes(const ::Packet& packet, IndexEntry* entry, UInt64* frames);
    // Whether the sum of the `packets` packets' frames, `total`, is what
    // the last granule states, less the pre-skip or the first Vorbis
    // packet.
    bool Holds(UInt64 total, std::size_t packets, const AVStream* st) const;
    // Whether a link of the chain states another channel count, or word
    // length, than the first: the track cannot be read as one sound.
    bool ChannelsChange() const { return channelsChange_; }
    bool WordLengthChanges() const { return bitsChange_; }
    // Whether a link states a rate no type holds: it cannot be read.
    bool RateNoTypeHolds() const { return rateNoTypeHolds_; }

private:
    OggMapping codec_ = OggMapping::None;
    bool applies_ = false;
    int64_t granule_ = -1;
    VorbisBlocks vorbisBlocks_;
    int64_t vorbisUnheard_ = -1;  // where the first Vorbis packet ends
    bool ratesChange_ = false;
    bool channelsChange_ = false;
    bool bitsChange_ = false;
    bool rateNoTypeHolds_ = false;
};
