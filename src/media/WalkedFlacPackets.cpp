#include "WalkedFlacPackets.h"

#include "TrackState.h"

#include <algorithm>

#include "media_calls.h"

bool WalkedFlacPackets::Next()
{
    TrackState& t = track_;
    const std::size_t k = std::size_t(t.packetOrdinal + 1);
    if (k >= frames_.size())
        return false;
    const FlacFrameWalk::Frame& f = frames_[k];
    AVPacket* packet = t.packet;
    av_packet_unref(packet);
    const AVStream* st = t.format->streams[t.stream];
    const AVRational rate{1, std::max(st->codecpar->sample_rate, 1)};
    packet->data = nullptr;
    packet->size = int(f.bytes);
    packet->pos = f.pos;
    packet->pts = packet->dts = av_rescale_q(int64_t(f.start), rate, st->time_base);
    packet->duration = av_rescale_q(int64_t(f.samples), rate, st->time_base);
    packet->stream_index = t.stream;
    packet->flags = AV_PKT_FLAG_KEY;
    t.packetOrdinal = int64_t(k);
    return true;
}

const uint8_t* WalkedFlacPackets::Data() const { return track_.packet->data; }

std::size_t WalkedFlacPackets::Size() const { return std::size_t(std::max(track_.packet->size, 0)); }
