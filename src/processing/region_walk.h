// The walk over an input's region blocks that every compacting pass runs:
// each block of overlapping regions (CSoundFile::GetRegionBounds), merged
// with the blocks that follow it at most two margins later, widened by one
// margin on each side and clipped to the file, is handed to the pass as one
// span [a, b).  The passes differ only in where the first search starts, in
// the margin and in where the search goes on after a span; those are the
// walk's parameters.
//
// A walk always advances and ends: a region of zero length (or one whose end
// lies before its start) counts as ending at its start, so an isolated one
// gives a span of margins only, and a block that does not reach beyond the
// end already merged is passed over.
#pragma once

#include "MacTypes.h"

#include <functional>

class CSoundFile;

struct RegionWalkParams {
    // The frame the first search starts from (-1 or 0: the first block).
    SInt32 firstSearch = -1;
    // Frames added before and after each merged block.
    UInt32 margin = 0;
    // The next search starts at the span's end plus this (1, or 0).
    UInt32 nextSearchOffset = 1;
};

// Called once per span [a, b) (a < b) in input order; a non-zero result ends
// the walk with that result.
using RegionSpanFn = std::function<SInt32(UInt32 a, UInt32 b)>;

// Walks the regions of `in`.  Returns 0 when the regions are exhausted
// (-20002 from GetRegionBounds is the normal end), a span's non-zero result,
// or any other code from the region look-up (then the span being merged is
// not handed over).
SInt32 WalkRegionSpans(CSoundFile* in, const RegionWalkParams& params, const RegionSpanFn& span);

// The margin in frames of `seconds` at `sampleRate`: the nearest frame
// (FramesFromSeconds); 0 for a rate that is not positive, saturating at the
// 32-bit limit.
UInt32 MarginFrames(double seconds, double sampleRate);
