// The length of an AMR speech stream: each frame's first byte names its
// mode, and the mode its size.  A last frame shorter than its mode's size
// reaching the end of the file was broken off by a cut, not refused.
#pragma once

#include "TrackLengthRule.h"

class AmrLengthRule : public TrackLengthRule {
public:
    explicit AmrLengthRule(bool wide) : wide_(wide) {}
    // The bytes of the frame whose first byte is `toc` (its own included);
    // 0 for a mode without a fixed size.
    static int FrameBytes(bool wide, uint8_t toc);

    bool Packet(const ::Packet& packet, UInt64* frames, const TrackTally& tally, TrackFinding* found) override;
    TrackFinding Settle(const TrackTally& tally) override;

private:
    bool wide_;
    bool lastShort_ = false;
};
