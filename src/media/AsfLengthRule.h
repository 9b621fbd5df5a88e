// The length of a sound track in an ASF file (WMA): the header's file
// properties state the play duration (less the preroll) and the number of
// data packets, all of one size.  Fewer whole data packets in the file than
// stated: the file was cut (the packet it breaks off is no refusal of the
// decoder's).  Fewer frames than the duration states, by more than the
// codec's own end (one frame) and the duration's rounding to the
// millisecond, in a whole file: the rest was lost.
#pragma once

#include "TrackLengthRule.h"

class AsfLengthRule : public TrackLengthRule {
public:
    // What the header objects state.
    struct Header {
        UInt64 playDuration = 0;  // 100 ns units, the preroll included
        UInt64 prerollMs = 0;
        UInt64 dataPackets = 0;
        UInt32 packetBytes = 0;   // 0 when the packets vary in size
        bool broadcast = false;   // the duration and counts are not known
        int64_t dataStart = -1;   // first byte of the first data packet
    };
    // False for a file that is no ASF file or whose header is broken.
    static bool ReadHeader(const std::string& path, Header* out);

    void Settle(TrackTally& tally) override;
};
