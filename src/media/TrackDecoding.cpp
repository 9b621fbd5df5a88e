#include "TrackDecoding.h"

#include "error_codes.h"
#include "FlacFrameWalk.h"
#include "FlacStreamCheck.h"
#include "library_input.h"
#include "mpeg_audio_frames.h"
#include "PositionedFile.h"
#include "RawStreamLengthRule.h"
#include "TrackLengthRule.h"
#include "TrackVerdict.h"

#include <algorithm>
#include <cstring>

#include "media_calls.h"

using namespace movie_input;

OSErr TrackDecoding::OpenDecoding(bool forCounting)
{
    if (const OSErr err = CheckRegularFile(path); err != noErr)
        return err;
    QuietLogs();
    if (const int rc = OpenInput(path, &format, &view, &viewIO); rc < 0) {
        // A file cut before what the demuxer needs (an MPEG-4 movie box
        // written last) is a cut file, not one of an unknown format.
        // (A Matroska demuxer cut short of its track list says so as
        // an I/O error.)
        const OSErr err = ErrorFromAV(rc, kUnknownFileFormatErr);
        return (err == kUnknownFileFormatErr || err == ioErr) && TrackLengthRule::CutBeforeReadable(path) ? eofErr
                                                                                                            : err;
    }
    stream = -1;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        AVStream* st = format->streams[i];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && stream < 0)
            stream = int(i);
        else if (!forCounting)
            st->discard = AVDISCARD_ALL;
    }
    if (stream < 0)
        return kNoAudioTrackErr;
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (int(i) != stream)
            format->streams[i]->discard = AVDISCARD_ALL;
    AVStream* st = format->streams[stream];
    const AVCodec* decoder = avcodec_find_decoder(st->codecpar->codec_id);
    if (!decoder)
        return kNoAudioTrackErr;
    codec = avcodec_alloc_context3(decoder);
    packet = av_packet_alloc();
    frame = av_frame_alloc();
    if (!codec || !packet || !frame)
        return memFullErr;
    if (avcodec_parameters_to_context(codec, st->codecpar) < 0)
        return kNoAudioTrackErr;
    codec->pkt_timebase = st->time_base;
    // A FLAC frame that fails its header or frame checksum is refused.
    if (st->codecpar->codec_id == AV_CODEC_ID_FLAC)
        codec->err_recognition |= FlacStreamCheck::kDecoderChecks;
    // Frames that carry a checksum are checked, and one that fails is
    // refused (not concealed with the frame before it): AC-3 always,
    // MPEG audio when its frames are protected.  Layer I frames are
    // checked here instead (SendPacket): the decoder's check takes the
    // bits of plain stereo for joint stereo too.
    if (st->codecpar->codec_id == AV_CODEC_ID_AC3 || st->codecpar->codec_id == AV_CODEC_ID_EAC3 ||
        (IsMPEGAudio(st->codecpar->codec_id) && st->codecpar->codec_id != AV_CODEC_ID_MP1 && mpegHeader != 0 &&
         !(mpegHeader & 0x10000u)))
        codec->err_recognition |= AV_EF_CRCCHECK | AV_EF_EXPLODE;
    if (avcodec_open2(codec, decoder, nullptr) < 0)
        return kNoAudioTrackErr;
    // Where the packets tell the frames, the index trims each decoded
    // frame; the libraries' own trimming would lose count of a refused
    // packet's share.
    if (trusted)
        codec->flags2 |= AV_CODEC_FLAG2_SKIP_MANUAL;
    return noErr;
}

bool TrackDecoding::AttachLibraries()
{
    if (!MediaLibraries::Available())
        return false;
    frame = nullptr;
    native = false;
    if (OpenDecoding(false) == noErr)
        return true;
    CloseStreams();
    frame = &nativeFrame;
    native = true;
    return false;
}

bool TrackDecoding::NextPacket()
{
    if (packetHeld) {
        packetHeld = false;
        return true;
    }
    if (flacDirect)
        return NextDirectPacket();
    if (!walked.empty())
        return NextWalkedPacket();
    for (;;) {
        av_packet_unref(packet);
        const int rc = av_read_frame(format, packet);
        if (rc < 0)
            return false;
        // What is read past a viewed stream's end is the view's.
        if (view && (packet->pos < 0 || packet->pos >= view->Bytes()))
            continue;
        // A tag or zeros inside a raw MPEG audio stream reach here with
        // the frame after them: that frame is the packet.
        if (tagsFrom >= 0 && packet->stream_index == stream && packet->pos >= 0)
            if (const int none = RawStreamLengthRule::NoSoundBeforeFrame(codecID, packet->data, packet->size)) {
                packet->data += none;
                packet->size -= none;
                packet->pos += none;
            }
        if (flac.Repeated(packet->pos) || IsTag() || IsLinkHeader())
            continue;
        if (packet->stream_index == stream) {
            ++packetOrdinal;
            return true;
        }
    }
}

const uint8_t* TrackDecoding::FileBytesAt(int64_t pos, UInt32 bytes)
{
    if (!directFile)
        directFile = std::make_unique<PositionedFile>(path);
    return directFile->View(pos, bytes);
}

bool TrackDecoding::NextDirectPacket()
{
    const std::size_t k = std::size_t(packetOrdinal + 1);
    if (k >= index.size() || !(directBytes = FileBytesAt(index[k].pos, index[k].bytes)))
        return false;
    directSize = index[k].bytes;
    packetOrdinal = int64_t(k);
    return true;
}

bool TrackDecoding::NextWalkedPacket()
{
    const std::size_t k = std::size_t(packetOrdinal + 1);
    if (k >= walked.size())
        return false;
    const FlacFrameWalk::Frame& f = walked[k];
    av_packet_unref(packet);
    const AVStream* st = format->streams[stream];
    const AVRational rate{1, std::max(st->codecpar->sample_rate, 1)};
    packet->data = nullptr;
    packet->size = int(f.bytes);
    packet->pos = f.pos;
    packet->pts = packet->dts = av_rescale_q(int64_t(f.start), rate, st->time_base);
    packet->duration = av_rescale_q(int64_t(f.samples), rate, st->time_base);
    packet->stream_index = stream;
    packet->flags = AV_PKT_FLAG_KEY;
    packetOrdinal = int64_t(k);
    return true;
}

int TrackDecoding::SendPacket()
{
    flacFrameState = FlacFrameState::None;
    const uint8_t* bytes = flacDirect ? directBytes : packet->data;
    const std::size_t size = flacDirect ? directSize : std::size_t(std::max(packet->size, 0));
    if (trusted && flacFrames.IsOpen() && flacFrames.Decode(bytes, size)) {
        TakeFlacFrame();
        return 0;
    }
    if (flacDirect) {
        // What libFLAC refused goes to the FFmpeg decoder, as the
        // demuxer's packet would.
        if (native && !AttachLibraries())
            return AVERROR_INVALIDDATA;
        const IndexEntry& e = index[std::size_t(packetOrdinal)];
        av_packet_unref(packet);
        if (av_new_packet(packet, int(directSize)) < 0)
            return AVERROR(ENOMEM);
        std::memcpy(packet->data, directBytes, directSize);
        packet->pos = e.pos;
        packet->pts = packet->dts = e.dts;
        packet->stream_index = stream;
        return avcodec_send_packet(codec, packet);
    }
    if (codecID == AV_CODEC_ID_MP1 && !LayerOneChecksumHolds(packet->data, packet->size))
        return AVERROR_INVALIDDATA;
    return avcodec_send_packet(codec, packet);
}

bool TrackDecoding::IsTag() const
{
    if (tagsFrom < 0 || packet->stream_index != stream)
        return false;
    const auto starts = [this](const char* text) {
        const std::size_t n = std::strlen(text);
        return packet->size >= int(n) && std::memcmp(packet->data, text, n) == 0;
    };
    return packet->pos >= tagsFrom || starts("ID3") || starts("APETAGEX") || starts("LYRICSBEGIN");
}

bool TrackDecoding::IsLinkHeader() const
{
    return kind == ContainerKind::Ogg && codecID == AV_CODEC_ID_FLAC && packet->stream_index == stream &&
           !(packet->size >= 2 && packet->data[0] == 0xFF && (packet->data[1] & 0xFE) == 0xF8);
}

bool TrackDecoding::UsableFrame()
{
    const int n = frame->ch_layout.nb_channels;
    if (frame->nb_samples <= 0)
        return false;
    if (n == int(channels) || (n == 1 && channels == 2 && IsMPEGAudio(codecID)))
        return true;
    channelsChange = true;
    return false;
}

bool TrackDecoding::ReceiveFrame(bool* refused)
{
    *refused = false;
    if (flacFrameState != FlacFrameState::None) {
        const bool ready = flacFrameState == FlacFrameState::Ready;
        flacFrameState = ready ? FlacFrameState::Given : FlacFrameState::None;
        return ready;
    }
    for (;;) {
        const int rc = avcodec_receive_frame(codec, frame);
        if (rc == 0) {
            if (UsableFrame() && !OtherRate())
                return true;
            av_frame_unref(frame);
            continue;
        }
        *refused = rc != AVERROR(EAGAIN) && rc != AVERROR_EOF;
        return false;
    }
}

void TrackDecoding::TakeFlacFrame()
{
    ClearFrame();
    frame->format = AV_SAMPLE_FMT_S32P;
    frame->nb_samples = int(flacFrames.Samples());
    frame->sample_rate = int(flacFrames.Rate());
    frame->ch_layout.order = AV_CHANNEL_ORDER_UNSPEC;
    frame->ch_layout.nb_channels = int(flacFrames.Channels());
    for (unsigned c = 0; c < flacFrames.Channels(); ++c) {
        frame->data[c] = reinterpret_cast<uint8_t*>(flacFrames.Plane(c));
        frame->linesize[c] = int(flacFrames.Samples() * sizeof(int32_t));
    }
    frame->extended_data = frame->data;
    flacFrameState = FlacFrameState::Ready;
}

bool TrackDecoding::SendAndDrain(bool* refused)
{
    *refused = false;
    if (SendPacket() < 0)
        return false;
    bool any = false;
    while (ReceiveFrame(refused)) {
        any = true;
        ClearFrame();
    }
    return any;
}

bool TrackDecoding::PacketDecodes()
{
    bool refused = false;
    const bool any = SendAndDrain(&refused);
    if (any && refused)
        SeeDamage();
    return any;
}

void TrackDecoding::NoteRefused(IndexEntry& entry, UInt64 silencedFrames)
{
    if (entry.refused)
        return;
    entry.refused = true;
    TrackFinding found("decoder");
    found.added.refusedPackets = 1;
    found.added.silencedFrames = silencedFrames;
    verdict.Take(found);
}

void TrackDecoding::SeeDamage()
{
    TrackFinding found("decoder");
    found.damaged = true;
    verdict.Take(found);
}

void TrackDecoding::RefusedMissing(UInt64 packets, UInt64 frames)
{
    TrackFinding found("decoder");
    found.added.refusedPackets = packets;
    found.added.missingFrames = frames;
    found.refusedFrames = frames;
    verdict.Take(found);
}

void TrackDecoding::TallyRefused()
{
    if (!tallying || packetOrdinal == lastTallied)
        return;
    lastTallied = packetOrdinal;
    lastTalliedFrames = PacketFrames();
    RefusedMissing(1, lastTalliedFrames);
}

UInt64 TrackDecoding::PacketFrames() const
{
    const AVStream* st = format->streams[stream];
    if (packet->duration > 0)
        return UInt64(std::max<int64_t>(
            av_rescale_q(packet->duration, st->time_base, {1, std::max(st->codecpar->sample_rate, 1)}), 0));
    if (st->codecpar->frame_size > 0)
        return UInt64(st->codecpar->frame_size);
    return framesPerPacket;
}
