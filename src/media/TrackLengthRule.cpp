#include "TrackLengthRule.h"

#include "CafLengthRule.h"
#include "MatroskaLengthRule.h"
#include "Mp4LengthRule.h"
#include "OggLengthRule.h"

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

bool TrackLengthRule::CutBeforeReadable(const std::string& path)
{
    PositionedFile file(path);
    MatroskaLengthRule::Layout matroska;
    return Mp4LengthRule::CutBeforeMovieBox(file) || CafLengthRule::CutInsideChunk(file) ||
           OggLengthRule::CutBeforeSound(file) || (MatroskaLengthRule::Walk(file, &matroska) && matroska.cut);
}

bool TrackLengthRule::Packet(const ::Packet&, UInt64*, const TrackTally&, TrackFinding*)
{
    return false;
}

TrackFinding TrackLengthRule::Settle(const TrackTally& tally)
{
    TrackFinding found("container");
    found.Say("states no length; %llu frames counted", (unsigned long long)tally.Counted());
    return found;
}
