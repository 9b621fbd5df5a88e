#include "TrackLengthRule.h"

#include "AmrLengthRule.h"
#include "AsfLengthRule.h"
#include "CafLengthRule.h"
#include "FlacLengthRule.h"
#include "MatroskaLengthRule.h"
#include "Mp4LengthRule.h"
#include "OggLengthRule.h"
#include "RawStreamLengthRule.h"

#include <algorithm>
#include <cstring>

#include "media_calls.h"

int TrackTally::SampleRate() const
{
    return std::max(format->streams[stream]->codecpar->sample_rate, 1);
}

UInt64 TrackTally::Frames(int64_t ticks) const
{
    return UInt64(std::max<int64_t>(av_rescale_q(ticks, format->streams[stream]->time_base, {1, SampleRate()}), 0));
}

void TrackTally::TakeBackLastRefusal(TrackFinding* finding) const
{
    if (lastPacketRefused)
        finding->refusalTakenBack = lastPacketFrames;
}

TrackLengthRule::~TrackLengthRule() = default;

std::unique_ptr<TrackLengthRule> TrackLengthRule::For(ContainerKind kind, const AVFormatContext* format, int stream)
{
    if (kind == ContainerKind::Ogg)
        return std::make_unique<OggLengthRule>();
    if (kind == ContainerKind::Caf)
        return std::make_unique<CafLengthRule>();
    if (kind == ContainerKind::Flac)
        return std::make_unique<FlacLengthRule>();
    if (kind == ContainerKind::Asf)
        return std::make_unique<AsfLengthRule>();
    if (kind == ContainerKind::Amr)
        return std::make_unique<AmrLengthRule>(format->streams[stream]->codecpar->codec_id);
    if (kind == ContainerKind::Matroska)
        return std::make_unique<MatroskaLengthRule>();
    if (HasMovieBoxes(kind))
        return std::make_unique<Mp4LengthRule>();
    if (RawStreamLengthRule::Handles(kind, format->streams[stream]->codecpar->codec_id))
        return std::make_unique<RawStreamLengthRule>(format->streams[stream]->codecpar->codec_id);
    return std::make_unique<TrackLengthRule>();
}

bool TrackLengthRule::CutBeforeReadable(const std::string& path)
{
    PositionedFile file(path);
    MatroskaLengthRule::Layout matroska;
    return Mp4LengthRule::CutBeforeMovieBox(file) || CafLengthRule::CutInsideChunk(file) ||
           OggLengthRule::CutBeforeSound(file) || (MatroskaLengthRule::Walk(file, &matroska) && matroska.cut);
}

bool TrackLengthRule::Packet(const AVPacket&, UInt64*, const TrackTally&, TrackFinding*)
{
    return false;
}

TrackFinding TrackLengthRule::Settle(const TrackTally& tally)
{
    TrackFinding found("container");
    found.Say("states no length; %llu frames counted", (unsigned long long)tally.Counted());
    return found;
}
