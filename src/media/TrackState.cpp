#include "TrackState.h"

#include "media_calls.h"

void TrackState::CloseStreams()
{
    if (frame == &nativeFrame)
        frame = nullptr;
    if (!frame && !packet && !codec && !format && !viewIO) {
        view.reset();
        return;
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
    if (viewIO) {
        av_freep(&viewIO->buffer);
        avio_context_free(&viewIO);
    }
    view.reset();
}

void TrackState::ClearFrame()
{
    if (frame == &nativeFrame)
        nativeFrame = AVFrame{};
    else
        av_frame_unref(frame);
}
