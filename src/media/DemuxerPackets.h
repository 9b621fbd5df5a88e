// The libraries' demuxer's packets of the sound track: what is read past a
// viewed file's end is the view's, a raw MPEG audio stream's tags (and the
// zeros before a frame) are none, nor are a FLAC frame written again or the
// header packets of a chained Ogg FLAC link.
#pragma once

#include "PacketSource.h"

struct TrackState;

class DemuxerPackets : public PacketSource {
public:
    explicit DemuxerPackets(TrackState& track) : track_(track) {}

    bool Next() override;
    const uint8_t* Data() const override;
    std::size_t Size() const override;

    // Whether the packet read last is a tag of a raw MPEG audio stream.
    bool IsTag() const;
    // Whether it is a header packet of a link chained after the first in
    // an Ogg FLAC stream (no frame: not one that starts with a frame's
    // sync code).
    bool IsLinkHeader() const;

private:
    TrackState& track_;
};
