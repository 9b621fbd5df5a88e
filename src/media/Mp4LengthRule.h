// The length of a sound track in a QuickTime or MPEG-4 file: its sample
// table lists the packets, so a track of a codec whose samples are its
// packets with fewer packets in the file than listed, the last of them
// running to the file's end, was cut.  A file
// whose boxes break off before the movie box (written last) was cut before
// anything of it can be read.  A fragmented file's fragments state the
// times they start at: a time no fragment holds was taken out, one held
// twice is passed over by the demuxer (nothing heard twice), and fragments
// its index lists after the last one in the file are gone.
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

    // What the movie fragments of the track `trackId` say (a file written
    // as it was recorded or streamed: an empty movie box, then fragments of
    // samples, each with its decode time, and an index of them at the end).
    struct Fragments {
        bool fragmented = false;      // the movie box says fragments follow
        int fragments = 0;            // of the track, in the file
        UInt64 samples = 0;           // of the track, in the file
        int missingNumbers = 0;       // fragment numbers skipped
        int64_t end = -1;             // where the track's last fragment ends (its time base; -1: none)
        int64_t missingTicks = 0;     // time between fragments that no fragment holds
        int gaps = 0;
        int repeated = 0;             // fragments whose time was held already
        int listedAfter = 0;          // fragments the index lists after the last in the file
        int64_t lastListed = -1;      // the latest time the index lists
        bool cut = false;             // a box at the top runs past the file's end
    };
    static bool WalkFragments(PositionedFile& file, UInt32 trackId, Fragments* out);
    // The frames at `rate` the media header of the track `trackId` states
    // (0: none).
    static UInt64 MediaHeaderFrames(PositionedFile& file, UInt32 trackId, int rate);

    TrackFinding Settle(const TrackTally& tally) override;

private:
    static TrackFinding SettleFragments(const TrackTally& tally, const Fragments& fragments);
};
