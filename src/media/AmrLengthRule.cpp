#include "AmrLengthRule.h"

#include "media_calls.h"

int AmrLengthRule::FrameBytes(bool wide, uint8_t toc)
{
    // The speech bytes of each mode (narrow band 0-7 and SID, wide band 0-8
    // and SID); modes 15 (no data) and the reserved ones hold none.
    static const int kNarrow[16] = {12, 13, 15, 17, 19, 20, 26, 31, 5, 0, 0, 0, 0, 0, 0, 0};
    static const int kWide[16] = {17, 23, 32, 36, 40, 46, 50, 58, 60, 5, 0, 0, 0, 0, 0, 0};
    const int mode = (toc >> 3) & 0x0F;
    return 1 + (wide ? kWide[mode] : kNarrow[mode]);
}

bool AmrLengthRule::Packet(const ::Packet& packet, UInt64*, const TrackTally&, TrackFinding*)
{
    lastShort_ = packet.size > 0 && packet.size < FrameBytes(wide_, packet.data[0]);
    return false;
}

TrackFinding AmrLengthRule::Settle(const TrackTally& tally)
{
    TrackFinding found("AMR frames");
    if (lastShort_ && tally.fileBytes >= 0 && tally.packetsEnd >= tally.fileBytes) {
        found.cut = true;
        tally.TakeBackLastRefusal(&found);
    }
    found.Say("last frame %s its mode's size; counted %llu", lastShort_ ? "short of" : "of",
              (unsigned long long)tally.Counted());
    return found;
}
