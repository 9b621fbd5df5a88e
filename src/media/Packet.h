// One packet of a track as a packet source hands it out (PacketSource): a
// value, whose bytes stay valid until the source's next call.
#pragma once

#include "MacTypes.h"

#include <cstdint>

struct AVPacket;

struct Packet {
    // A time the packet does not state (the libraries' "no time").
    static constexpr int64_t kNoTime = INT64_MIN;

    // Its bytes: null where only their place is known (a frame the FLAC
    // walk proved whole is judged by its position and size alone).
    const uint8_t* data = nullptr;
    int size = 0;
    // Where its bytes begin in the file (-1: unknown).
    int64_t pos = -1;
    // Its times and duration in the stream's time base.
    int64_t pts = kNoTime;
    int64_t dts = kNoTime;
    int64_t duration = 0;
    // Its duration in frames of the track (0 where it states none).
    UInt64 frames = 0;
    // What its side data states: the frames the decoder drops from the
    // start of what follows (`skip`) and from the end of this packet's
    // sound (`padding`).
    bool skipStated = false;
    UInt32 skip = 0;
    UInt32 padding = 0;
    // The container says to drop it whole (a fragment met again).
    bool discard = false;
    // A frame the FLAC walk proved whole.
    bool provenWhole = false;
    // Its place among the track's packets (0 the first).
    int64_t ordinal = -1;
    // The demuxer's own packet, for the libraries' decoder (null where the
    // packet was not read by a demuxer: a decoder makes one of its bytes).
    const AVPacket* library = nullptr;
};
