#include "AiffFrameCountRule.h"

#include <algorithm>

#include "media_calls.h"

bool AiffFrameCountRule::Settle(const AVStream* st, UInt64 counted, TrackFinding* found)
{
    const AVRational rate{1, std::max(st->codecpar->sample_rate, 1)};
    const UInt64 total = counted;
    if (!(st->duration > 0 && UInt64(av_rescale_q(st->duration, st->time_base, rate)) > total))
        return false;
    *found = TrackFinding("AIFF-C frame count");
    found->cut = true;
    found->Say("states %llu frames, the packets hold %llu: cut",
               (unsigned long long)av_rescale_q(st->duration, st->time_base, rate), (unsigned long long)total);
    return true;
}
