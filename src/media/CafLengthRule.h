// The length of a sound track in a CAF file: a stream of fixed-size
// packets holds the whole packets its 'data' chunk holds; one with fewer
// bytes than the chunk's size says, or a packet cut off, was cut short.
// A file cut inside a chunk the track cannot be read without (the packet
// table, written after the data) is a cut file, not one of unknown format.
#pragma once

#include "PositionedFile.h"
#include "TrackLengthRule.h"

class CafLengthRule : public TrackLengthRule {
public:
    // Whether the file at `path` is a CAF file whose chunks break off
    // before the file's end (it was cut).
    static bool CutInsideChunk(PositionedFile& file);

    TrackFinding Settle(const TrackTally& tally) override;
};
