#include "DirectFlacPackets.h"

#include "TrackState.h"

#include <cstring>

#include "media_calls.h"

bool DirectFlacPackets::Next()
{
    TrackState& t = track_;
    const std::size_t k = std::size_t(t.packetOrdinal + 1);
    if (k >= t.index.size())
        return false;
    if (!file_)
        file_ = std::make_unique<PositionedFile>(t.path);
    if (!(bytes_ = file_->View(t.index[k].pos, t.index[k].bytes)))
        return false;
    size_ = t.index[k].bytes;
    t.packetOrdinal = int64_t(k);
    return true;
}

int DirectFlacPackets::IntoPacket()
{
    TrackState& t = track_;
    const IndexEntry& e = t.index[std::size_t(t.packetOrdinal)];
    av_packet_unref(t.packet);
    if (av_new_packet(t.packet, int(size_)) < 0)
        return AVERROR(ENOMEM);
    std::memcpy(t.packet->data, bytes_, size_);
    t.packet->pos = e.pos;
    t.packet->pts = t.packet->dts = e.dts;
    t.packet->stream_index = t.stream;
    return 0;
}
