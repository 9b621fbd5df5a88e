#include "FrameShape.h"

#include "FrameDecoder.h"

#include "MediaLibraries.h"

bool FrameShape::Usable(const AVFrame* frame, bool* channelsChange) const
{
    const int n = frame->ch_layout.nb_channels;
    if (frame->nb_samples <= 0)
        return false;
    if (n == int(channels) || (n == 1 && channels == 2 && channelModeChanges))
        return true;
    *channelsChange = true;
    return false;
}

bool FrameShape::OtherRate(const AVFrame* frame) const
{
    return frame->sample_rate > 0 && frame->sample_rate != rate;
}

bool FrameShape::Receive(FrameDecoder& decoder, AVFrame** frame, bool* refused, bool* channelsChange) const
{
    *refused = false;
    for (;;) {
        const int rc = decoder.Receive(frame);
        if (rc == 0) {
            if (Usable(*frame, channelsChange) && !OtherRate(*frame))
                return true;
            continue;
        }
        *refused = rc != AVERROR(EAGAIN) && rc != AVERROR_EOF;
        return false;
    }
}
