// The length of a sound track in an ASF file (WMA): the header's file
// properties state the play duration (less the preroll) and the number of
// data packets, all of one size.  Fewer whole data packets in the file than
// stated: the file was cut (the packet it breaks off is no refusal of the
// decoder's).  Fewer frames than the duration states, by more than the
// codec's own end (one frame) and the duration's rounding to the
// millisecond, in a whole file: the rest was lost.  The packets' payloads
// give the presentation time of each media object of the track: one met
// again, or after a later one, was repeated; a step far wider than the
// track's own took packets out (how much the step says), which is damage,
// not a cut, however few packets the file then holds.  The duration is
// the longest stream's: in a file of several, the sound track's own ends
// with its latest object.
#pragma once

#include "PositionedFile.h"
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
    static bool ReadHeader(PositionedFile& file, Header* out);

    // What the data packets' media objects of stream `number` (0: any)
    // show, in milliseconds.
    struct Objects {
        int64_t repeatedMs = 0;  // objects met again or after a later one
        int64_t missingMs = 0;   // steps wider than the track's own
        int gaps = 0;
        int64_t endMs = 0;       // where the latest object ends (a step after it), the preroll included
    };
    static bool WalkPackets(PositionedFile& file, const Header& header, int number, Objects* out);

    TrackFinding Settle(const TrackTally& tally) override;
};
