// The length of a sound track in a Matroska or WebM file: the segment
// states its size, every element at its top (clusters of blocks, the cue
// index) its own, and the segment's information the duration of the whole.
// A file whose segment or last element breaks off before its stated end
// was cut (the duration tells how much went with the cut); one that is
// whole but gives less sound than its duration lost it to damage.  The
// duration is the longest track's: in a file of several tracks the sound
// track's own length is the one its tags state (as writers note each
// track's), else where its last block ends.
#pragma once

#include "PositionedFile.h"
#include "TrackLengthRule.h"

class MatroskaLengthRule : public TrackLengthRule {
public:
    // What the top of a Matroska file says.
    struct Layout {
        double durationSeconds = 0;   // the segment information's duration (0: none)
        bool cut = false;             // the segment, or an element in it, ends past the file's end
        // Clusters whose CRC-32 element (the checksum a writer may put
        // first in an element) fails.
        int checksumFails = 0;
    };
    // False for a file that does not start with an EBML header and a segment.
    static bool Walk(PositionedFile& file, Layout* out);

    bool Packet(const ::Packet& packet, UInt64* frames, const TrackTally& tally, TrackFinding* found) override;
    TrackFinding Settle(const TrackTally& tally) override;

private:
    int64_t trackEnd_ = -1;  // where the track's last block ends, in its time base
};
