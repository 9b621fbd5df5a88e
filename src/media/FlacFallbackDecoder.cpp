#include "FlacFallbackDecoder.h"

#include "TrackDecoding.h"

#include "media_calls.h"

int FlacFallbackDecoder::Send()
{
    TrackDecoding& t = track_;
    state_ = State::None;
    if (t.flacFrames.Decode(t.packets->Data(), t.packets->Size())) {
        TakeFrame();
        return 0;
    }
    // What libFLAC refused goes to the FFmpeg decoder, as the demuxer's
    // packet would.
    if (withoutLibraries_ && !Attach())
        return AVERROR_INVALIDDATA;
    return libraries_.Send();
}

bool FlacFallbackDecoder::Receive(bool* refused)
{
    if (state_ == State::None)
        return libraries_.Receive(refused);
    *refused = false;
    const bool ready = state_ == State::Ready;
    state_ = ready ? State::Given : State::None;
    return ready;
}

bool FlacFallbackDecoder::Attach()
{
    TrackDecoding& t = track_;
    if (!MediaLibraries::Available())
        return false;
    t.frame = nullptr;
    withoutLibraries_ = false;
    if (t.OpenDecoding(false) == noErr)
        return true;
    t.CloseStreams();
    t.frame = &t.nativeFrame;
    withoutLibraries_ = true;
    return false;
}

void FlacFallbackDecoder::TakeFrame()
{
    TrackDecoding& t = track_;
    FlacFrameDecoder& flac = t.flacFrames;
    AVFrame* frame = t.frame;
    t.ClearFrame();
    frame->format = AV_SAMPLE_FMT_S32P;
    frame->nb_samples = int(flac.Samples());
    frame->sample_rate = int(flac.Rate());
    frame->ch_layout.order = AV_CHANNEL_ORDER_UNSPEC;
    frame->ch_layout.nb_channels = int(flac.Channels());
    for (unsigned c = 0; c < flac.Channels(); ++c) {
        frame->data[c] = reinterpret_cast<uint8_t*>(flac.Plane(c));
        frame->linesize[c] = int(flac.Samples() * sizeof(int32_t));
    }
    frame->extended_data = frame->data;
    state_ = State::Ready;
}
