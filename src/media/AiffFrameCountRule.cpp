#include "AiffFrameCountRule.h"

#include <algorithm>

#include "media_calls.h"

bool AiffFrameCountRule::Settle(const AVStream* st, UInt64 counted, TrackFinding* found)
{
    const AVRational rate{1, std::max(st->codecpar->sample_rate, 1)};
    if (st->duration <= 0)
        return false;
    const UInt64 stated = UInt64(av_rescale_q(st->duration, st->time_base, rate));
    *found = TrackFinding("AIFF-C frame count");
    found->stated = StatedLength{.frames = stated, .exact = true};
    if (stated > counted) {
        found->cut = true;
        found->Say("states %llu frames, the packets hold %llu: cut", (unsigned long long)stated,
                   (unsigned long long)counted);
    }
    return true;
}
