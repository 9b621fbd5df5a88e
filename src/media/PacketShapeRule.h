// The shape the first frame header of MPEG audio or ADTS states, and
// whether later ones state another rate or channel count: a run of a few
// whole frames of one other shape (a damaged frame's bytes may read as a
// header of any shape).  MPEG audio frames of one channel in a stereo
// track are given in both (no change of channel count).
#pragma once

#include "CodecTraits.h"

#include <cstdint>

class PacketShapeRule {
public:
    void Packet(const CodecTraits& codec, const uint8_t* data, int size);
    bool RateChanges() const { return rateChanges_; }
    bool ChannelsChange() const { return channelsChange_; }

private:
    static constexpr int kShapeRun = 3;
    int firstRate_ = 0;
    int firstChannels_ = 0;
    int runRate_ = 0;
    int runChannels_ = 0;
    int run_ = 0;
    bool rateChanges_ = false;
    bool channelsChange_ = false;
};
