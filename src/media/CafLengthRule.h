// The length of a sound track in a CAF file: a stream of fixed-size
// packets holds the whole packets its 'data' chunk holds; one with fewer
// bytes than the chunk's size says, or a packet cut off, was cut short.
#pragma once

#include "TrackLengthRule.h"

class CafLengthRule : public TrackLengthRule {
public:
    void Settle(TrackTally& tally) override;
};
