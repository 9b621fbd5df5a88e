// One packet of a track's index, as the count found it: where it lies, the
// frames of the track before it, and what it gives.
#pragma once

#include "MacTypes.h"

#include <cstdint>

struct IndexEntry {
    int64_t pos;
    int64_t dts;
    UInt64 start;      // frames of the track before this packet
    bool seekable;     // no pending start skip; a known, increasing position
    UInt32 trim = 0;   // decoded frames dropped from the packet's start (the stream's delay)
    UInt32 frames = 0; // frames of the track the packet gives after that
    UInt32 priming = 0; // decoded frames that only prime the decoder (trimmed or discarded)
    UInt32 bytes = 0;   // the packet's size
    bool refused = false;  // the count found that the decoder refuses it
};
