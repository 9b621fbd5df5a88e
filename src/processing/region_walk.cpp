#include "region_walk.h"

#include "CSoundFile.h"
#include "frame_times.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace {

constexpr SInt64 kLastSearchFrame = std::numeric_limits<SInt32>::max();

// GetRegionBounds, made safe for the walk: a block whose first region is
// empty or inverted ends at its start at least and is extended over every
// region it would have covered had that region been as long as its
// neighbours at the same start (GetRegionBounds does not look past such a
// region, so a real region starting at the same frame would be lost).
SInt32 NextBlock(CSoundFile* in, SInt32 from, UInt32* start, UInt32* end)
{
    SInt32 code = in->GetRegionBounds(from, start, end);
    if (code)
        return code;
    if (*end > *start)
        return 0;
    UInt32 blockEnd = *start;
    const UInt16 count = in->GetNumRegions();
    bool inBlock = false;
    for (UInt16 i = 0; i < count; ++i) {
        SFTRegion region;
        code = in->GetRegion(i, &region);
        if (code)
            return code;
        if (!inBlock) {
            if (SInt32(region.start) < from)
                continue;
            inBlock = true;  // the block's first region
        } else if (!(region.start < blockEnd || region.start == *start)) {
            break;
        }
        blockEnd = std::max({blockEnd, region.end, region.start});
    }
    *end = blockEnd;
    return 0;
}

} // namespace

UInt32 MarginFrames(double seconds, double sampleRate)
{
    return UInt32(FramesFromSeconds(seconds, sampleRate, std::numeric_limits<UInt32>::max()));
}

SInt32 WalkRegionSpans(CSoundFile* in, const RegionWalkParams& params, const RegionSpanFn& span)
{
    if (!in || !span)
        return paramErr;
    SInt64 from = params.firstSearch;
    const UInt64 margin = params.margin;
    for (;;) {
        if (from > kLastSearchFrame)
            return 0;
        UInt32 s = 0;
        UInt32 e = 0;
        SInt32 code = NextBlock(in, SInt32(from), &s, &e);
        if (code == kNoBlockOfRegionsErr)
            return 0;
        if (code)
            return code;

        // Merge the blocks that start at most two margins after the end.
        UInt32 lastStart = s;
        SInt64 search = e;
        for (;;) {
            if (search > kLastSearchFrame) {
                code = kNoBlockOfRegionsErr;
                break;
            }
            UInt32 s2 = 0;
            UInt32 e2 = 0;
            code = NextBlock(in, SInt32(search), &s2, &e2);
            if (code)
                break;
            if (UInt64(s2) > UInt64(e) + 2 * margin)
                break;
            lastStart = std::max(lastStart, s2);
            if (e2 > e) {
                e = e2;
                search = e;
            } else {
                search = SInt64(s2) + 1;  // nothing new: look past it
            }
        }
        if (code && code != kNoBlockOfRegionsErr)
            return code;

        const UInt32 a = s >= margin ? UInt32(s - margin) : 0;
        const UInt32 b = UInt32(std::min<UInt64>(UInt64(e) + margin, in->GetNumFrames()));
        if (a < b) {
            code = span(a, b);
            if (code)
                return code == kNoBlockOfRegionsErr ? 0 : code;
        }
        from = std::max<SInt64>(SInt64(b) + params.nextSearchOffset, SInt64(lastStart) + 1);
    }
}
