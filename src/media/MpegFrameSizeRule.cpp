#include "MpegFrameSizeRule.h"

#include "mpeg_audio_frames.h"

using namespace movie_input;

bool MpegFrameSizeRule::Packet(const uint8_t* data, int size, UInt64 frames, std::size_t ordinal, TrackFinding* found)
{
    const std::size_t stated = size < 4 ? 0 : MPEGFrameBytes(data);
    if (size < 4 || std::size_t(size) < stated) {
        lastShort_ = ordinal;
        lastShortFrames_ = frames;
    }
    else if (std::size_t(size) != stated) {
        *found = TrackFinding("MPEG frame sizes");
        found->damaged = true;  // bytes that are no frame, taken into one
        return true;
    }
    return false;
}

bool MpegFrameSizeRule::Settle(std::size_t packets, TrackFinding* found) const
{
    if (LastCut(packets)) {
        *found = TrackFinding("MPEG frame sizes");
        found->cut = true;
        found->Say("the last frame is shorter than its header says: cut");
        return true;
    }
    if (lastShort_ != ~std::size_t(0)) {
        *found = TrackFinding("MPEG frame sizes");
        found->damaged = true;
        found->Say("a frame inside the track is shorter than its header says: damaged");
        return true;
    }
    return false;
}
