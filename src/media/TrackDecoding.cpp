#include "TrackDecoding.h"

#include "DemuxerPackets.h"
#include "error_codes.h"
#include "FlacStreamCheck.h"
#include "library_input.h"
#include "LibraryFrameDecoder.h"
#include "TrackLengthRule.h"
#include "TrackVerdict.h"

#include <algorithm>

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
    const CodecTraits traits = CodecTraits::Of(st->codecpar->codec_id);
    // A FLAC frame that fails its header or frame checksum is refused.
    if (traits.checks == FrameChecks::FlacFrames)
        codec->err_recognition |= FlacStreamCheck::kDecoderChecks;
    // Frames that carry a checksum are checked, and one that fails is
    // refused (not concealed with the frame before it): AC-3 always,
    // MPEG audio when its frames are protected.  Layer I frames are
    // checked here instead (SendPacket): the decoder's check takes the
    // bits of plain stereo for joint stereo too.
    if (traits.checks == FrameChecks::Always ||
        (traits.checks == FrameChecks::WhenProtected && mpegHeader != 0 && !(mpegHeader & 0x10000u)))
        codec->err_recognition |= AV_EF_CRCCHECK | AV_EF_EXPLODE;
    if (avcodec_open2(codec, decoder, nullptr) < 0)
        return kNoAudioTrackErr;
    if (!packets)
        packets = std::make_unique<DemuxerPackets>(*this);
    if (!this->decoder)
        this->decoder = std::make_unique<LibraryFrameDecoder>(*this);
    // Where the packets tell the frames, the index trims each decoded
    // frame; the libraries' own trimming would lose count of a refused
    // packet's share.
    if (trusted)
        codec->flags2 |= AV_CODEC_FLAG2_SKIP_MANUAL;
    return noErr;
}

bool TrackDecoding::NextPacket()
{
    if (packetHeld) {
        packetHeld = false;
        return true;
    }
    return packets && packets->Next();
}

int TrackDecoding::SendPacket() { return decoder->Send(); }

bool TrackDecoding::UsableFrame()
{
    const int n = frame->ch_layout.nb_channels;
    if (frame->nb_samples <= 0)
        return false;
    if (n == int(channels) || (n == 1 && channels == 2 && codecTraits.channelModeChanges))
        return true;
    channelsChange = true;
    return false;
}

bool TrackDecoding::ReceiveFrame(bool* refused) { return decoder->Receive(refused); }

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
