#include "FlacLengthRule.h"

#include <algorithm>

#include "media_calls.h"

void FlacLengthRule::Packet(const AVPacket& packet, UInt64*, TrackTally& tally)
{
    if (!first_ && packet.pts != AV_NOPTS_VALUE && nextPts_ != INT64_MIN && packet.pts > nextPts_) {
        tally.loss.missingFrames += tally.Frames(packet.pts - nextPts_);
        tally.damageSeen = true;
    }
    first_ = false;
    nextPts_ = packet.pts != AV_NOPTS_VALUE && packet.duration > 0 ? packet.pts + packet.duration : INT64_MIN;
}

void FlacLengthRule::Settle(TrackTally& tally)
{
    const AVStream* st = tally.format->streams[tally.stream];
    if (tally.format->duration_estimation_method != AVFMT_DURATION_FROM_STREAM || st->duration <= 0)
        return;
    const UInt64 stated = tally.Frames(st->duration);
    tally.expected = stated;
    if (stated <= tally.frames)
        return;
    const bool undamaged = tally.loss.refusedPackets == 0 && !tally.damageSeen;
    const UInt64 slack = UInt64(std::max(st->codecpar->initial_padding, 0) + std::max(st->codecpar->trailing_padding, 0));
    if (undamaged && tally.fileBytes >= 0 && tally.packetsEnd >= tally.fileBytes)
        tally.cutShort = true;
    else if (stated - tally.frames > slack)
        tally.loss.missingFrames = std::max(tally.loss.missingFrames, stated - tally.frames);
}
