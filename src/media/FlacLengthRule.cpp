#include "FlacLengthRule.h"

#include "ByteOrder.h"
#include "PositionedFile.h"

#include <algorithm>
#include <cstring>

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
    if (tally.format->duration_estimation_method != AVFMT_DURATION_FROM_STREAM || st->duration <= 0) {
        tally.Note("FLAC stream information", "states no length; counted %llu", (unsigned long long)tally.frames);
        return;
    }
    const UInt64 stated = tally.Frames(st->duration);
    tally.expected = stated;
    const char* found = "whole";
    if (stated > tally.frames) {
        const bool undamaged = tally.loss.refusedPackets == 0 && !tally.damageSeen;
        PositionedFile file(tally.path);
        const UInt64 slack =
            UInt64(std::max(st->codecpar->initial_padding, 0) + std::max(st->codecpar->trailing_padding, 0));
        if (undamaged && tally.fileBytes >= 0 && (tally.packetsEnd >= tally.fileBytes || CutInMetadata(file))) {
            tally.cutShort = true;
            tally.loss.cutFrames = std::max(tally.loss.cutFrames, stated - tally.frames);
            found = "cut";
        } else if (stated - tally.frames > slack) {
            tally.loss.missingFrames = std::max(tally.loss.missingFrames, stated - tally.frames);
            found = "lost";
        }
    }
    tally.Note("FLAC stream information", "states %llu frames, counted %llu: %s", (unsigned long long)stated,
               (unsigned long long)tally.frames, found);
}

bool FlacLengthRule::CutInMetadata(PositionedFile& file)
{
    uint8_t head[4];
    if (file.Read(0, head, 4) != 4 || std::memcmp(head, "fLaC", 4) != 0)
        return false;
    for (int64_t at = 4;;) {
        if (file.Read(at, head, 4) != 4)
            return true;
        const int64_t end = at + 4 + int64_t(ReadBE32(head) & 0xFFFFFF);
        if (end > file.Size())
            return true;
        if (head[0] & 0x80)
            return false;
        at = end;
    }
}
