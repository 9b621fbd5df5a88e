// The sizes of the MPEG audio frames of a track: an MPEG audio frame
// shorter than its header says, or than a header, is one the file was cut
// inside when it is the last; inside the track, damage the decoder refuses.
// A frame whose packet is longer than its header says holds bytes that are
// no frame: damage.
#pragma once

#include "TrackVerdict.h"

#include <cstddef>
#include <cstdint>

class MpegFrameSizeRule {
public:
    // The packet `ordinal` of the track (`size` bytes at `data`, `frames`
    // frames); true with a finding of damage where it holds bytes beyond
    // its frame.
    bool Packet(const uint8_t* data, int size, UInt64 frames, std::size_t ordinal, TrackFinding* found);
    // Whether the last of `packets` packets is a frame cut short (its
    // frames are then no frames of the track: CutFrames).
    bool LastCut(std::size_t packets) const { return packets > 0 && lastShort_ == packets - 1; }
    UInt64 CutFrames() const { return lastShortFrames_; }
    // Once every packet is seen: true with the finding (the last frame cut
    // short, or one inside the track damaged).
    bool Settle(std::size_t packets, TrackFinding* found) const;

private:
    std::size_t lastShort_ = ~std::size_t(0);
    UInt64 lastShortFrames_ = 0;
};
