// The shape of a track's decoded frames: its channels and rate.  A frame
// of another channel count is none of the track's (MPEG audio may change
// its channel mode from frame to frame: a single-channel frame of a stereo
// track is given in both), and is noted; a frame at another rate reaches
// the track at its rate only through a RateChangeBridge.
#pragma once

#include "MacTypes.h"

struct AVFrame;
class FrameDecoder;

struct FrameShape {
    UInt32 channels = 0;
    int rate = 0;
    bool channelModeChanges = false;

    // Whether `frame` holds sound of the track's channels; one of another
    // channel count sets *channelsChange.
    bool Usable(const AVFrame* frame, bool* channelsChange) const;
    // Whether `frame` is at another rate than the track's.
    bool OtherRate(const AVFrame* frame) const;
    // The next frame `decoder` gives of the track's channels at its rate,
    // into *frame (others are passed over); false when it wants another
    // packet, or refused the rest of the one sent (*refused: true then).
    bool Receive(FrameDecoder& decoder, AVFrame** frame, bool* refused, bool* channelsChange) const;
};
