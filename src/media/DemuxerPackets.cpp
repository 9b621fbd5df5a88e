#include "DemuxerPackets.h"

#include "RawStreamLengthRule.h"
#include "TrackState.h"

#include <algorithm>
#include <cstring>

#include "media_calls.h"

bool DemuxerPackets::Next()
{
    TrackState& t = track_;
    AVPacket* packet = t.packet;
    for (;;) {
        av_packet_unref(packet);
        const int rc = av_read_frame(t.format, packet);
        if (rc < 0)
            return false;
        // What is read past a viewed stream's end is the view's.
        if (t.view && (packet->pos < 0 || packet->pos >= t.view->Bytes()))
            continue;
        // A tag or zeros inside a raw MPEG audio stream reach here with
        // the frame after them: that frame is the packet.
        if (t.tagsFrom >= 0 && packet->stream_index == t.stream && packet->pos >= 0)
            if (const int none = RawStreamLengthRule::NoSoundBeforeFrame(t.codecTraits.syntax, packet->data, packet->size)) {
                packet->data += none;
                packet->size -= none;
                packet->pos += none;
            }
        if (t.flac.Repeated(packet->pos) || IsTag() || IsLinkHeader())
            continue;
        if (packet->stream_index == t.stream) {
            ++t.packetOrdinal;
            return true;
        }
    }
}

const uint8_t* DemuxerPackets::Data() const { return track_.packet->data; }

std::size_t DemuxerPackets::Size() const { return std::size_t(std::max(track_.packet->size, 0)); }

bool DemuxerPackets::IsTag() const
{
    const TrackState& t = track_;
    const AVPacket* packet = t.packet;
    if (t.tagsFrom < 0 || packet->stream_index != t.stream)
        return false;
    const auto starts = [packet](const char* text) {
        const std::size_t n = std::strlen(text);
        return packet->size >= int(n) && std::memcmp(packet->data, text, n) == 0;
    };
    return packet->pos >= t.tagsFrom || starts("ID3") || starts("APETAGEX") || starts("LYRICSBEGIN");
}

bool DemuxerPackets::IsLinkHeader() const
{
    const TrackState& t = track_;
    const AVPacket* packet = t.packet;
    return t.containerTraits->chainsLinks && t.codecTraits.ogg == OggMapping::Flac && packet->stream_index == t.stream &&
           !(packet->size >= 2 && packet->data[0] == 0xFF && (packet->data[1] & 0xFE) == 0xF8);
}
