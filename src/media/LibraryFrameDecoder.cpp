#include "LibraryFrameDecoder.h"

#include "mpeg_audio_frames.h"
#include "TrackDecoding.h"

#include "media_calls.h"

using namespace movie_input;

int LibraryFrameDecoder::Send()
{
    TrackDecoding& t = track_;
    if (const int rc = t.packets->IntoPacket(); rc < 0)
        return rc;
    if (t.codecTraits.checks == FrameChecks::LayerOne && !LayerOneChecksumHolds(t.packet->data, t.packet->size))
        return AVERROR_INVALIDDATA;
    return avcodec_send_packet(t.codec, t.packet);
}

bool LibraryFrameDecoder::Receive(bool* refused)
{
    TrackDecoding& t = track_;
    *refused = false;
    for (;;) {
        const int rc = avcodec_receive_frame(t.codec, t.frame);
        if (rc == 0) {
            if (t.UsableFrame() && !t.OtherRate())
                return true;
            av_frame_unref(t.frame);
            continue;
        }
        *refused = rc != AVERROR(EAGAIN) && rc != AVERROR_EOF;
        return false;
    }
}

void LibraryFrameDecoder::Flush()
{
    if (!track_.codec)
        return;
    avcodec_flush_buffers(track_.codec);
    track_.codec->flags2 |= AV_CODEC_FLAG2_SKIP_MANUAL;
}
