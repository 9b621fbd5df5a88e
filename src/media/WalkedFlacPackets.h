// While counting: a native FLAC file's frames, where FlacFrameWalk proves
// it whole, handed out as the demuxer gives them (their position, size,
// time stamps and duration).  Their bytes are not read again: the count
// judges a walked frame by these alone (the walk proved it whole), so the
// packet holds none.
#pragma once

#include "FlacFrameWalk.h"
#include "PacketSource.h"

#include <vector>

struct TrackState;

class WalkedFlacPackets : public PacketSource {
public:
    WalkedFlacPackets(TrackState& track, std::vector<FlacFrameWalk::Frame> frames)
        : track_(track), frames_(std::move(frames))
    {
    }

    bool Next() override;
    const uint8_t* Data() const override;
    std::size_t Size() const override;
    bool ProvenWhole() const override { return true; }

private:
    TrackState& track_;
    std::vector<FlacFrameWalk::Frame> frames_;
};
