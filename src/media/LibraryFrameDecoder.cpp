#include "LibraryFrameDecoder.h"

#include "error_codes.h"
#include "FlacStreamCheck.h"
#include "mpeg_audio_frames.h"

#include <cstring>

#include "media_calls.h"

using namespace movie_input;

OSErr LibraryFrameDecoder::Open(const AVStream* st, const DecoderPlan& plan,
                                std::unique_ptr<LibraryFrameDecoder>* out)
{
    std::unique_ptr<LibraryFrameDecoder> decoder(new LibraryFrameDecoder);
    decoder->traits_ = CodecTraits::Of(st->codecpar->codec_id);
    decoder->plan_ = plan;
    decoder->timeBaseNum_ = st->time_base.num;
    decoder->timeBaseDen_ = st->time_base.den;
    if (!avcodec_find_decoder(st->codecpar->codec_id))
        return kNoAudioTrackErr;
    if (!(decoder->parameters_ = avcodec_parameters_alloc()) ||
        avcodec_parameters_copy(decoder->parameters_, st->codecpar) < 0)
        return memFullErr;
    if (const OSErr err = decoder->OpenContext(); err != noErr)
        return err;
    *out = std::move(decoder);
    return noErr;
}

LibraryFrameDecoder::~LibraryFrameDecoder()
{
    av_frame_free(&frame_);
    av_packet_free(&bytes_);
    avcodec_free_context(&codec_);
    avcodec_parameters_free(&parameters_);
}

OSErr LibraryFrameDecoder::OpenContext()
{
    avcodec_free_context(&codec_);
    const AVCodec* decoder = avcodec_find_decoder(parameters_->codec_id);
    if (!decoder)
        return kNoAudioTrackErr;
    codec_ = avcodec_alloc_context3(decoder);
    if (!frame_)
        frame_ = av_frame_alloc();
    if (!codec_ || !frame_)
        return memFullErr;
    if (avcodec_parameters_to_context(codec_, parameters_) < 0)
        return kNoAudioTrackErr;
    codec_->pkt_timebase = AVRational{timeBaseNum_, timeBaseDen_};
    // A FLAC frame that fails its header or frame checksum is refused.
    if (traits_.checks == FrameChecks::FlacFrames)
        codec_->err_recognition |= FlacStreamCheck::kDecoderChecks;
    // Frames that carry a checksum are checked, and one that fails is
    // refused (not concealed with the frame before it): AC-3 always,
    // MPEG audio when its frames are protected.  Layer I frames are
    // checked here instead (Send): the decoder's check takes the bits of
    // plain stereo for joint stereo too.
    if (traits_.checks == FrameChecks::Always ||
        (traits_.checks == FrameChecks::WhenProtected && plan_.firstMpegHeader != 0 &&
         !(plan_.firstMpegHeader & 0x10000u)))
        codec_->err_recognition |= AV_EF_CRCCHECK | AV_EF_EXPLODE;
    if (avcodec_open2(codec_, decoder, nullptr) < 0)
        return kNoAudioTrackErr;
    // Where the packets tell the frames, the index trims each decoded
    // frame; the libraries' own trimming would lose count of a refused
    // packet's share.
    if (plan_.indexTrims)
        codec_->flags2 |= AV_CODEC_FLAG2_SKIP_MANUAL;
    return noErr;
}

OSErr LibraryFrameDecoder::Restart()
{
    if (frame_)
        av_frame_unref(frame_);
    return OpenContext();
}

int LibraryFrameDecoder::Send(const Packet& packet)
{
    if (!codec_)
        return AVERROR(EINVAL);
    const AVPacket* sent = packet.library;
    if (!sent) {
        // Bytes no demuxer read: a packet of them.
        if (!bytes_ && !(bytes_ = av_packet_alloc()))
            return AVERROR(ENOMEM);
        av_packet_unref(bytes_);
        if (av_new_packet(bytes_, packet.size) < 0)
            return AVERROR(ENOMEM);
        std::memcpy(bytes_->data, packet.data, std::size_t(packet.size));
        bytes_->pos = packet.pos;
        bytes_->pts = bytes_->dts = packet.dts;
        sent = bytes_;
    }
    if (traits_.checks == FrameChecks::LayerOne && !LayerOneChecksumHolds(sent->data, sent->size))
        return AVERROR_INVALIDDATA;
    return avcodec_send_packet(codec_, sent);
}

void LibraryFrameDecoder::SendEnd()
{
    if (codec_)
        avcodec_send_packet(codec_, nullptr);
}

int LibraryFrameDecoder::Receive(AVFrame** frame)
{
    if (!codec_)
        return AVERROR(EINVAL);
    *frame = frame_;
    return avcodec_receive_frame(codec_, frame_);
}

void LibraryFrameDecoder::Flush()
{
    if (!codec_)
        return;
    avcodec_flush_buffers(codec_);
    codec_->flags2 |= AV_CODEC_FLAG2_SKIP_MANUAL;
}

void LibraryFrameDecoder::TrimNothing()
{
    if (codec_)
        codec_->flags2 |= AV_CODEC_FLAG2_SKIP_MANUAL;
}
