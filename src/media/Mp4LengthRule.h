// The length of a sound track in a QuickTime or MPEG-4 file: its sample
// table lists the packets, so a track of a codec whose samples are its
// packets with fewer packets in the file than listed, the last of them
// running to the file's end, was cut.  A file
// whose boxes break off before the movie box (written last) was cut before
// anything of it can be read.
#pragma once

#include "PositionedFile.h"
#include "TrackLengthRule.h"

class Mp4LengthRule : public TrackLengthRule {
public:
    // Whether the file at `path` is an MPEG-4 or QuickTime file (it starts
    // with a file type box) cut before the end of its movie box.
    static bool CutBeforeMovieBox(PositionedFile& file);
    // Whether the boxes at the top of the file at `path` end where the file
    // ends (none breaks off).
    static bool BoxesWhole(PositionedFile& file);

    TrackFinding Settle(const TrackTally& tally) override;
};
