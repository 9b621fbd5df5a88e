#include "DemuxerPackets.h"

#include "ByteFields.h"
#include "error_codes.h"
#include "library_input.h"
#include "RawStreamLengthRule.h"
#include "TrackLengthRule.h"

#include <algorithm>
#include <cstring>

#include "media_calls.h"

using namespace movie_input;

static_assert(Packet::kNoTime == AV_NOPTS_VALUE);

OSErr DemuxerPackets::Open(const std::string& path, std::unique_ptr<DemuxerPackets>* out)
{
    std::unique_ptr<DemuxerPackets> source(new DemuxerPackets(path));
    if (const OSErr err = source->OpenInput(); err != noErr)
        return err;
    *out = std::move(source);
    return noErr;
}

DemuxerPackets::~DemuxerPackets()
{
    Close();
}

OSErr DemuxerPackets::OpenInput()
{
    if (const OSErr err = CheckRegularFile(path_); err != noErr)
        return err;
    QuietLogs();
    if (const int rc = movie_input::OpenInput(path_, &format_, &view_, &viewIO_); rc < 0) {
        // A file cut before what the demuxer needs (an MPEG-4 movie box
        // written last) is a cut file, not one of an unknown format.
        // (A Matroska demuxer cut short of its track list says so as
        // an I/O error.)
        const OSErr err = ErrorFromAV(rc, kUnknownFileFormatErr);
        return (err == kUnknownFileFormatErr || err == ioErr) && TrackLengthRule::CutBeforeReadable(path_) ? eofErr
                                                                                                             : err;
    }
    stream_ = -1;
    for (unsigned i = 0; i < format_->nb_streams; ++i)
        if (format_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            stream_ = int(i);
            break;
        }
    if (stream_ < 0)
        return kNoAudioTrackErr;
    for (unsigned i = 0; i < format_->nb_streams; ++i)
        if (int(i) != stream_)
            format_->streams[i]->discard = AVDISCARD_ALL;
    if (!(packet_ = av_packet_alloc()))
        return memFullErr;
    return noErr;
}

void DemuxerPackets::Close()
{
    if (!packet_ && !format_ && !viewIO_) {
        view_.reset();
        return;
    }
    av_packet_free(&packet_);
    avformat_close_input(&format_);
    if (viewIO_) {
        av_freep(&viewIO_->buffer);
        avio_context_free(&viewIO_);
    }
    view_.reset();
}

const AVStream* DemuxerPackets::Stream() const
{
    return format_ && stream_ >= 0 ? format_->streams[stream_] : nullptr;
}

int64_t DemuxerPackets::Bytes() const
{
    return view_ ? view_->Bytes() : FileBytes(path_);
}

OSErr DemuxerPackets::Rewind()
{
    Close();
    ordinal_ = -1;
    held_ = false;
    return OpenInput();
}

std::optional<Packet> DemuxerPackets::Next()
{
    if (held_) {
        held_ = false;
        return Value();
    }
    if (!format_ || !packet_)
        return std::nullopt;
    AVPacket* packet = packet_;
    for (;;) {
        av_packet_unref(packet);
        const int rc = av_read_frame(format_, packet);
        if (rc < 0)
            return std::nullopt;
        // What is read past a viewed stream's end is the view's.
        if (view_ && (packet->pos < 0 || packet->pos >= view_->Bytes()))
            continue;
        // A tag or zeros inside a raw MPEG audio stream reach here with
        // the frame after them: that frame is the packet.
        if (pass_.tagsFrom >= 0 && packet->stream_index == stream_ && packet->pos >= 0)
            if (const int none = RawStreamLengthRule::NoSoundBeforeFrame(pass_.syntax, packet->data, packet->size)) {
                packet->data += none;
                packet->size -= none;
                packet->pos += none;
            }
        const bool repeated = pass_.repeatedFrom >= 0 && packet->pos >= pass_.repeatedFrom;
        if (repeated || IsTag() || IsLinkHeader() || IsPadding())
            continue;
        if (packet->stream_index == stream_) {
            ++ordinal_;
            return Value();
        }
    }
}

Packet DemuxerPackets::Value() const
{
    const AVPacket* packet = packet_;
    const AVStream* st = format_->streams[stream_];
    Packet p;
    p.data = packet->data;
    p.size = packet->size;
    p.pos = packet->pos;
    p.pts = packet->pts;
    p.dts = packet->dts;
    p.duration = packet->duration;
    p.frames = UInt64(std::max<int64_t>(
        av_rescale_q(packet->duration, st->time_base, AVRational{1, std::max(st->codecpar->sample_rate, 1)}), 0));
    size_t sideSize = 0;
    if (const uint8_t* side = av_packet_get_side_data(packet, AV_PKT_DATA_SKIP_SAMPLES, &sideSize);
        side && sideSize >= 10) {
        p.skipStated = true;
        p.skip = ReadLE32(side);
        p.padding = ReadLE32(side + 4);
    }
    p.discard = (packet->flags & AV_PKT_FLAG_DISCARD) != 0;
    p.ordinal = ordinal_;
    p.library = packet;
    return p;
}

bool DemuxerPackets::SeekTo(std::size_t k, const IndexEntry& e)
{
    if (!format_)
        return false;
    // Raw MPEG audio is found again by its byte position; every other
    // container by its own timestamp seek.
    const bool byteSeek = byteSeek_ && e.pos >= 0;
    int rc;
    if (byteSeek)
        rc = av_seek_frame(format_, stream_, e.pos, AVSEEK_FLAG_BYTE);
    else
        rc = av_seek_frame(format_, stream_, e.dts, AVSEEK_FLAG_BACKWARD);
    if (rc < 0)
        return false;
    held_ = false;
    ordinal_ = -1;
    // Find the packet itself.
    for (int guard = 0; guard < 1 << 20; ++guard) {
        if (!Next())
            return false;
        if (packet_->pos == e.pos && (byteSeek || packet_->dts == e.dts))
            break;
        if (packet_->pos > e.pos && e.pos >= 0)
            return false;
    }
    ordinal_ = int64_t(k);
    held_ = true;
    return true;
}

bool DemuxerPackets::IsTag() const
{
    const AVPacket* packet = packet_;
    if (pass_.tagsFrom < 0 || packet->stream_index != stream_)
        return false;
    const auto starts = [packet](const char* text) {
        const std::size_t n = std::strlen(text);
        return packet->size >= int(n) && std::memcmp(packet->data, text, n) == 0;
    };
    return packet->pos >= pass_.tagsFrom || starts("ID3") || starts("APETAGEX") || starts("LYRICSBEGIN");
}

bool DemuxerPackets::IsPadding() const
{
    const AVPacket* packet = packet_;
    const int64_t end = packet->pos + packet->size;
    return pass_.dataEnd >= 0 && packet->stream_index == stream_ && packet->pos >= 0 && packet->size > 0 &&
           packet->size <= pass_.padding && packet->size < pass_.blockAlign && end >= pass_.dataEnd &&
           end <= pass_.dataEnd + pass_.padding;
}

bool DemuxerPackets::IsLinkHeader() const
{
    const AVPacket* packet = packet_;
    if (packet->stream_index != stream_)
        return false;
    const auto starts = [packet](const char* text) {
        return packet->size >= 8 && std::memcmp(packet->data, text, 8) == 0;
    };
    switch (pass_.linkHeaders) {
    case OggMapping::Flac:
        return !(packet->size >= 2 && packet->data[0] == 0xFF && (packet->data[1] & 0xFE) == 0xF8);
    case OggMapping::Opus:
        return starts("OpusHead") || starts("OpusTags");
    default:
        return false;
    }
}
