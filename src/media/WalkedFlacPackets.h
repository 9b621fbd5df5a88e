// While counting: a native FLAC file's frames, where FlacFrameWalk proves
// it whole, handed out as the demuxer gives them (their position, size,
// time stamps and duration).  Their bytes are not read: the count judges a
// walked frame by these alone (the walk proved it whole), so a packet holds
// none.
#pragma once

#include "FlacFrameWalk.h"
#include "ListedPackets.h"

#include <vector>

class WalkedFlacPackets : public ListedPackets {
public:
    // The frames of a stream at `rate` whose time base is `num`/`den`.
    WalkedFlacPackets(std::vector<FlacFrameWalk::Frame> frames, int num, int den, int rate)
        : frames_(std::move(frames)), num_(num), den_(den), rate_(rate)
    {
    }

    std::optional<Packet> Next() override;

private:
    // `value` from one time base to the other (the same where the stream's
    // counts samples, as a native FLAC stream's does: no library needed).
    int64_t ToTicks(int64_t frames) const;
    int64_t ToFrames(int64_t ticks) const;

    std::vector<FlacFrameWalk::Frame> frames_;
    int num_, den_, rate_;
};
