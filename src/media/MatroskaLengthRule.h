// The length of a sound track in a Matroska or WebM file: the segment
// states its size, every element at its top (clusters of blocks, the cue
// index) its own, and the segment's information the duration of the whole.
// A file whose segment or last element breaks off before its stated end
// was cut (the duration tells how much went with the cut); one that is
// whole but gives less sound than its duration lost it to damage.
#pragma once

#include "PositionedFile.h"
#include "TrackLengthRule.h"

class MatroskaLengthRule : public TrackLengthRule {
public:
    // What the top of a Matroska file says.
    struct Layout {
        double durationSeconds = 0;   // the segment information's duration (0: none)
        bool cut = false;             // the segment, or an element in it, ends past the file's end
    };
    // False for a file that does not start with an EBML header and a segment.
    static bool Walk(PositionedFile& file, Layout* out);

    TrackFinding Settle(const TrackTally& tally) override;
};
