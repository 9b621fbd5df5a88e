#include "WalkedFlacPackets.h"

#include <algorithm>

#include "media_calls.h"

std::optional<Packet> WalkedFlacPackets::Next()
{
    if (next_ >= frames_.size())
        return std::nullopt;
    const FlacFrameWalk::Frame& f = frames_[next_];
    Packet p;
    p.size = int(f.bytes);
    p.pos = f.pos;
    p.pts = p.dts = ToTicks(int64_t(f.start));
    p.duration = ToTicks(int64_t(f.samples));
    p.frames = UInt64(std::max<int64_t>(ToFrames(p.duration), 0));
    p.provenWhole = true;
    p.ordinal = int64_t(next_++);
    return p;
}

int64_t WalkedFlacPackets::ToTicks(int64_t frames) const
{
    if (num_ == 1 && den_ == rate_)
        return frames;
    return av_rescale_q(frames, AVRational{1, rate_}, AVRational{num_, den_});
}

int64_t WalkedFlacPackets::ToFrames(int64_t ticks) const
{
    if (num_ == 1 && den_ == rate_)
        return ticks;
    return av_rescale_q(ticks, AVRational{num_, den_}, AVRational{1, rate_});
}
