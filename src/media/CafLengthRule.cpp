#include "CafLengthRule.h"

#include "caf_chunks.h"

#include <algorithm>

void CafLengthRule::Settle(TrackTally& tally)
{
    CafLayout caf;
    if (WalkCaf(tally.path, &caf) != noErr)
        return;
    tally.frames = std::min(tally.frames, caf.WholePacketFrames());
    tally.cutShort = caf.CutShort();
}
