#include "CafLengthRule.h"

#include "caf_chunks.h"

#include "ByteFields.h"
#include "PositionedFile.h"

#include <algorithm>
#include <cstring>

bool CafLengthRule::CutInsideChunk(PositionedFile& file)
{
    const int64_t size = file.Size();
    uint8_t head[12];
    if (file.Read(0, head, 8) != 8 || std::memcmp(head, "caff", 4) != 0)
        return false;
    for (int64_t at = 8; at < size;) {
        if (file.Read(at, head, 12) != 12)
            return true;  // a chunk header broken off
        const int64_t length = int64_t(ReadBE64(head + 4));
        if (length == -1 && std::memcmp(head, "data", 4) == 0)
            return false;  // the data runs to the end
        // A chunk running past the end is a cut when its header is one
        // (damage leaves no type of four characters).
        if (length < 0 || length > size - at - 12)
            return std::all_of(head, head + 4, [](uint8_t c) { return c >= 0x20 && c < 0x7F; });
        at += 12 + length;
    }
    return false;
}

TrackFinding CafLengthRule::Settle(const TrackTally& tally)
{
    TrackFinding found("CAF chunks");
    CafLayout caf;
    if (WalkCaf(tally.path, &caf) != noErr) {
        found.Say("not walked; counted %llu", (unsigned long long)tally.Counted());
        return found;
    }
    // Packets of varying size state no frames of their own: the count stands.
    if (caf.WholePacketFrames() == CafLayout::kToTheEnd)
        found.Say("packets of varying size (the count stands), counted %llu: %s",
                  (unsigned long long)tally.Counted(), caf.CutShort() ? "cut" : "whole");
    else
        found.Say("whole packets hold %llu frames, counted %llu: %s", (unsigned long long)caf.WholePacketFrames(),
                  (unsigned long long)tally.Counted(), caf.CutShort() ? "cut" : "whole");
    if (caf.WholePacketFrames() != CafLayout::kToTheEnd)
        found.stated = StatedLength{.frames = caf.WholePacketFrames(), .exact = true};
    found.frames = std::min(tally.Counted(), caf.WholePacketFrames());
    found.cut = caf.CutShort();
    return found;
}
