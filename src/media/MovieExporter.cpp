#include "MovieExporter.h"
#include "ImaPacketEncoder.h"
#include "MediaCodes.h"

#include "FileByDescriptor.h"
#include "FileManager.h"
#include "MacErrorMapping.h"
#include "MovieEditLength.h"
#include "MovieSource.h"


#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "sample_formats.h"

#include "media_calls.h"

namespace {

// Frames handed to an encoder that takes any frame size.
constexpr int kPCMFrameSize = 4096;

AVCodecID CodecFor(OSType compression, UInt16 sampleSize, bool little)
{
    switch (compression) {
    case media_codes::kALaw: return AV_CODEC_ID_PCM_ALAW;
    case media_codes::kULaw: return AV_CODEC_ID_PCM_MULAW;
    case media_codes::kIMA4: return AV_CODEC_ID_ADPCM_IMA_QT;
    case FOUR_CHAR_CODE("aac "): return AV_CODEC_ID_AAC;
    case FOUR_CHAR_CODE("raw "):
        if (sampleSize == 8)
            return AV_CODEC_ID_PCM_U8;
        return sampleSize == 16 ? AV_CODEC_ID_PCM_S16BE : AV_CODEC_ID_NONE;
    case FOUR_CHAR_CODE("twos"):
        return sampleSize == 8 ? AV_CODEC_ID_PCM_S8 : (little ? AV_CODEC_ID_PCM_S16LE : AV_CODEC_ID_PCM_S16BE);
    case FOUR_CHAR_CODE("in24"): return little ? AV_CODEC_ID_PCM_S24LE : AV_CODEC_ID_PCM_S24BE;
    case FOUR_CHAR_CODE("in32"): return little ? AV_CODEC_ID_PCM_S32LE : AV_CODEC_ID_PCM_S32BE;
    case FOUR_CHAR_CODE("fl32"): return little ? AV_CODEC_ID_PCM_F32LE : AV_CODEC_ID_PCM_F32BE;
    case FOUR_CHAR_CODE("fl64"): return little ? AV_CODEC_ID_PCM_F64LE : AV_CODEC_ID_PCM_F64BE;
    default: return AV_CODEC_ID_NONE;
    }
}

OSErr ErrorFromAV(int code)
{
    if (code == AVERROR(ENOSPC))
        return MacErrorFromErrno(ENOSPC);
    if (code == AVERROR(EACCES) || code == AVERROR(EPERM))
        return MacErrorFromErrno(EACCES);
    if (code == AVERROR(ENOENT))
        return fnfErr;
    if (code == AVERROR(ENOMEM))
        return memFullErr;
    return ioErr;
}

// The silent frames a movie's sound starts with so that it fills whole
// frames of an encoder that takes no other (`frameSize` each) to its last
// frame: the edit list leaves them out with the encoder's priming, and
// every reader that honours it, which most do at the start but not all at
// the end, decodes exactly `total` frames.
UInt32 LeadIn(UInt64 total, int frameSize)
{
    return frameSize > 0 ? UInt32((UInt64(frameSize) - total % UInt64(frameSize)) % UInt64(frameSize)) : 0;
}

// Stores `frames` frames of 32-bit samples (one array per channel) into the
// encoder's frame in its sample format.
void StoreSamples(AVFrame* frame, const std::vector<std::vector<SInt32>>& in, int frames)
{
    const auto format = AVSampleFormat(frame->format);
    const int channels = int(in.size());
    const bool planar = SampleFormatIsPlanar(format);
    const int padded = frame->nb_samples;
    for (int c = 0; c < channels; ++c) {
        for (int i = 0; i < padded; ++i) {
            const SInt32 v = i < frames ? in[std::size_t(c)][std::size_t(i)] : 0;
            const int plane = planar ? c : 0;
            const int index = planar ? i : i * channels + c;
            switch (format) {
            case AV_SAMPLE_FMT_U8:
            case AV_SAMPLE_FMT_U8P:
                frame->data[plane][index] = UInt8((v >> 24) + 128);
                break;
            case AV_SAMPLE_FMT_S16:
            case AV_SAMPLE_FMT_S16P:
                reinterpret_cast<int16_t*>(frame->data[plane])[index] = int16_t(v >> 16);
                break;
            case AV_SAMPLE_FMT_S32:
            case AV_SAMPLE_FMT_S32P:
                reinterpret_cast<int32_t*>(frame->data[plane])[index] = v;
                break;
            case AV_SAMPLE_FMT_FLT:
            case AV_SAMPLE_FMT_FLTP:
                reinterpret_cast<float*>(frame->data[plane])[index] = float(double(v) / 2147483648.0);
                break;
            case AV_SAMPLE_FMT_DBL:
            case AV_SAMPLE_FMT_DBLP:
                reinterpret_cast<double*>(frame->data[plane])[index] = double(v) / 2147483648.0;
                break;
            default:
                break;
            }
        }
    }
}

// The muxer's output: the file made for it, written, sought and read back
// through the descriptor that made it (the file layer's opening takes that
// descriptor), never opened again by its name, which another program may
// have taken meanwhile.
class ForkOutput {
public:
    ForkOutput() = default;
    ForkOutput(const ForkOutput&) = delete;
    ForkOutput& operator=(const ForkOutput&) = delete;
    ~ForkOutput() { Close(); }

    OSErr Open(const std::string& path)
    {
        FSSpec spec;
        OSErr err = PathMakeFSSpec(path, &spec);
        if (err != noErr && err != fnfErr)
            return err;
        if ((err = FSpOpenDF(&spec, fsRdWrPerm, &refNum_)) != noErr) {
            refNum_ = 0;
            return err;
        }
        constexpr int kBufferBytes = 32768;
        auto* buffer = static_cast<uint8_t*>(av_malloc(kBufferBytes));
        if (buffer)
            io_ = avio_alloc_context(buffer, kBufferBytes, 1, this, &ForkOutput::Read, &ForkOutput::Write,
                                     &ForkOutput::Seek);
        if (!io_) {
            av_free(buffer);
            return memFullErr;
        }
        return noErr;
    }

    AVIOContext* io() const { return io_; }
    SInt16 refNum() const { return refNum_; }
    // The first failure of the file layer's, if any.
    OSErr failure() const { return failure_; }

    // Closes the file (what the muxer wrote is flushed by its trailer):
    // the first failure.
    OSErr Close()
    {
        if (io_) {
            if (io_->error < 0 && failure_ == noErr)
                failure_ = ErrorFromAV(io_->error);
            av_freep(&io_->buffer);
            avio_context_free(&io_);
        }
        if (refNum_ != 0) {
            const OSErr closed = FSClose(refNum_);
            refNum_ = 0;
            if (closed != noErr && failure_ == noErr)
                failure_ = closed;
        }
        return failure_;
    }

private:
    int Failed(OSErr err)
    {
        if (failure_ == noErr)
            failure_ = err;
        return err == dskFulErr ? AVERROR(ENOSPC) : err == permErr ? AVERROR(EACCES) : AVERROR(EIO);
    }

    static int Read(void* opaque, uint8_t* buffer, int size)
    {
        auto* self = static_cast<ForkOutput*>(opaque);
        ByteCount got = 0;
        const OSErr err = FSReadFork(self->refNum_, fsAtMark, 0, ByteCount(std::max(size, 0)), buffer, &got);
        if (got > 0)
            return int(got);
        return err == noErr || err == eofErr ? AVERROR_EOF : self->Failed(err);
    }

    static int Write(void* opaque, uint8_t* buffer, int size)
    {
        auto* self = static_cast<ForkOutput*>(opaque);
        ByteCount written = 0;
        const OSErr err = FSWriteFork(self->refNum_, fsAtMark, 0, ByteCount(std::max(size, 0)), buffer, &written);
        return err != noErr ? self->Failed(err) : int(written);
    }

    static int64_t Seek(void* opaque, int64_t offset, int whence)
    {
        auto* self = static_cast<ForkOutput*>(opaque);
        SInt64 eof = 0, mark = 0;
        if (OSErr err = GetEOF(self->refNum_, &eof))
            return self->Failed(err);
        if (whence & AVSEEK_SIZE)
            return eof;
        if (OSErr err = GetFPos(self->refNum_, &mark))
            return self->Failed(err);
        switch (whence & ~AVSEEK_FORCE) {
        case SEEK_SET:
            break;
        case SEEK_CUR:
            offset += mark;
            break;
        case SEEK_END:
            offset += eof;
            break;
        default:
            return AVERROR(EINVAL);
        }
        if (offset < 0)
            return AVERROR(EINVAL);
        // Past the end the file grows, as a file sought there does once written.
        if (offset > eof) {
            if (OSErr err = SetEOF(self->refNum_, offset))
                return self->Failed(err);
        }
        if (OSErr err = SetFPos(self->refNum_, fsFromStart, offset))
            return self->Failed(err);
        return offset;
    }

    SInt16 refNum_ = 0;
    AVIOContext* io_ = nullptr;
    OSErr failure_ = noErr;
};

// One export: owns the libraries' objects and releases them however it ends.
class Export {
public:
    ~Export()
    {
        avcodec_free_context(&codec_);
        if (muxer_) {
            muxer_->pb = nullptr;  // the output's own
            avformat_free_context(muxer_);
        }
        av_frame_free(&frame_);
        av_packet_free(&packet_);
    }

    OSErr Run(const std::string& sourcePath, const std::string& outputPath, const MovieExportSettings& s,
              const MovieExporter::ProgressProc& progress)
    {
        // The intermediate is read through the descriptor that made it, not
        // by its name, which another program may have taken meanwhile.
        FileByDescriptor intermediate;
        OSErr err = intermediate.open(sourcePath);
        if (err != noErr)
            return err;
        std::unique_ptr<MovieSource> source;
        if ((err = MovieSource::Open(intermediate.name(), &source)) != noErr)
            return err;
        const UInt32 channels = source->Channels();
        const double rate = source->SampleRate();
        if (channels == 0 || channels > 64 || !(rate >= 1.0) || rate > 1e7)
            return paramErr;
        if ((s.channels != 0 && s.channels != channels) || (s.sampleRate > 0 && std::fabs(s.sampleRate - rate) > 0.5))
            return paramErr;

        const AVCodecID id = CodecFor(s.compression, s.sampleSize, s.littleEndian);
        const AVCodec* encoder = id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_encoder(id);
        if (!encoder || !encoder->sample_fmts)
            return kUnsupportedCompressionErr;
        if (avformat_alloc_output_context2(&muxer_, nullptr, s.container.c_str(), outputPath.c_str()) < 0 || !muxer_)
            return kUnsupportedCompressionErr;
        if (avformat_query_codec(muxer_->oformat, id, FF_COMPLIANCE_NORMAL) != 1)
            return kUnsupportedCompressionErr;

        AVStream* stream = avformat_new_stream(muxer_, nullptr);
        codec_ = avcodec_alloc_context3(encoder);
        frame_ = av_frame_alloc();
        packet_ = av_packet_alloc();
        if (!stream || !codec_ || !frame_ || !packet_)
            return memFullErr;
        codec_->sample_rate = int(std::lround(rate));
        // The layout of the source's own speakers, its channels in the mask's
        // order; channels no mask describes go out undescribed.
        std::vector<int> order;
        const UInt32 mask = channels > 2 ? SpeakerMaskForChannelLabels(source->FileChannelLabels(), &order) : 0;
        if (channels <= 2) {
            av_channel_layout_default(&codec_->ch_layout, int(channels));
        } else if (mask == 0 || av_channel_layout_from_mask(&codec_->ch_layout, mask) < 0) {
            av_channel_layout_uninit(&codec_->ch_layout);
            codec_->ch_layout.order = AV_CHANNEL_ORDER_UNSPEC;
            codec_->ch_layout.nb_channels = int(channels);
            order.clear();
        }
        codec_->sample_fmt = encoder->sample_fmts[0];
        codec_->time_base = AVRational{1, codec_->sample_rate};
        if (id == AV_CODEC_ID_AAC) {
            codec_->profile = FF_PROFILE_AAC_LOW;
            codec_->bit_rate = s.bitRate;
        }
        if (muxer_->oformat->flags & AVFMT_GLOBALHEADER)
            codec_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        int rc = avcodec_open2(codec_, encoder, nullptr);
        if (rc < 0)
            return rc == AVERROR(ENOMEM) ? memFullErr : kUnsupportedCompressionErr;
        if (avcodec_parameters_from_context(stream->codecpar, codec_) < 0)
            return memFullErr;
        // IMA 4:1 packets are coded here, each from the state its header
        // stores, so that readers that restart every packet from its header
        // and readers that carry their state on play the same sound
        // (ImaPacketEncoder); the libraries' encoder only describes them.
        if (id == AV_CODEC_ID_ADPCM_IMA_QT) {
            if (codec_->frame_size != ImaPacketEncoder::kFrames ||
                codec_->block_align != ImaPacketEncoder::kPacketBytes * int(channels))
                return kUnsupportedCompressionErr;
            ima_.resize(channels);
        }
        // Encoders without a variable frame size take whole frames only (one
        // that takes a short last frame pads it itself), and every frame
        // decodes whole.  In a movie the padding goes before the sound
        // instead, where the edit list leaves it out with the encoder's
        // priming (LeadIn); elsewhere the last frame is padded.
        const bool fixed = codec_->frame_size > 0;
        const bool smallLast =
            (encoder->capabilities & (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE)) != 0;
        const int frameSize = fixed ? codec_->frame_size : kPCMFrameSize;
        const bool movie = std::strcmp(muxer_->oformat->name, "aiff") != 0;
        UInt32 lead = movie && fixed ? LeadIn(source->FrameCount(), frameSize) : 0;
        stream->time_base = codec_->time_base;
        stream_ = stream;

        if ((err = output_.Open(outputPath)) != noErr)
            return err;
        muxer_->pb = output_.io();
        muxer_->flags |= AVFMT_FLAG_CUSTOM_IO;
        // A movie keeps its times in the sound's own rate, so that its edit
        // list (the encoder's delay and the length) is exact to the frame:
        // in milliseconds a sound of a frame or two would be cut to nothing.
        // A movie muxer leaves out a track without samples: an empty sound
        // track is kept in the movie's header, with its shape, as a
        // fragmented movie without fragments.
        AVDictionary* options = nullptr;
        if (std::strcmp(muxer_->oformat->name, "aiff") != 0 &&
            (av_dict_set(&options, "movie_timescale", std::to_string(codec_->sample_rate).c_str(), 0) < 0 ||
             (source->FrameCount() == 0 && av_dict_set(&options, "movflags", "empty_moov", 0) < 0))) {
            av_dict_free(&options);
            return memFullErr;
        }
        rc = avformat_write_header(muxer_, &options);
        av_dict_free(&options);
        if (rc < 0)
            return ErrorFromAV(rc);

        const UInt64 total = source->FrameCount();
        // A sound within one frame would start in the movie's last packet,
        // whose length some readers take to be the edit's: a frame of
        // silence follows it, left out of the lengths the movie presents
        // (MovieEditLength).
        const bool tail = lead > 0 && total <= UInt64(frameSize);
        if ((err = Pump(*source, order, frameSize, fixed && !smallLast, lead, tail, progress)) != noErr)
            return err;
        if ((err = Encode(nullptr)) != noErr)
            return err;
        if ((rc = av_write_trailer(muxer_)) < 0)
            return output_.failure() ? output_.failure() : ErrorFromAV(rc);
        if (muxer_->pb->error < 0)
            return output_.failure() ? output_.failure() : ErrorFromAV(muxer_->pb->error);
        if (tail && (err = MovieEditLength::Set(output_.refNum(), total, rate)) != noErr)
            return err;
        muxer_->pb = nullptr;
        return output_.Close();
    }

private:
    // The source's frames (`order`: source channel order[j] into output
    // channel j), after `lead` frames of silence, encoded in frames of
    // `frameSize` (`whole`: every frame that long), a frame of silence
    // after them where `tail`.
    OSErr Pump(MovieSource& source, const std::vector<int>& order, int frameSize, bool whole, UInt32 lead, bool tail,
               const MovieExporter::ProgressProc& progress)
    {
        OSErr err = noErr;
        const UInt32 channels = source.Channels();
        const UInt64 total = source.FrameCount();
        std::vector<std::vector<SInt32>> samples(channels, std::vector<SInt32>(std::size_t(frameSize)));
        // Source channel order[j] is read into output channel j.
        std::vector<SInt32*> pointers(channels);
        for (UInt32 c = 0; c < channels; ++c)
            pointers[order.empty() ? c : UInt32(order[c])] = samples[c].data();

        UInt64 done = 0;
        int64_t pts = -int64_t(lead);
        std::vector<SInt32*> at(channels);
        const auto send = [&](UInt32 count) -> OSErr {
            av_frame_unref(frame_);
            frame_->format = codec_->sample_fmt;
            frame_->sample_rate = codec_->sample_rate;
            if (av_channel_layout_copy(&frame_->ch_layout, &codec_->ch_layout) < 0)
                return memFullErr;
            if (!ima_.empty())
                return WriteImaPacket(samples, count, &pts);
            frame_->nb_samples = whole ? frameSize : int(count);
            if (av_frame_get_buffer(frame_, 0) < 0)
                return memFullErr;
            StoreSamples(frame_, samples, int(count));
            frame_->pts = pts;
            pts += count;
            return Encode(frame_);
        };
        for (;;) {
            // The lead's silence, then the source's frames after it.
            for (UInt32 c = 0; c < channels; ++c)
                std::fill(samples[c].begin(), samples[c].begin() + lead, 0);
            for (UInt32 c = 0; c < channels; ++c)
                at[c] = pointers[c] + lead;
            UInt32 delivered = 0;
            if ((err = source.Read(at.data(), UInt32(frameSize) - lead, &delivered)) != noErr)
                return err;
            const UInt32 read = delivered;
            delivered += lead;
            lead = 0;
            if (delivered == 0)
                break;
            if ((err = send(delivered)) != noErr)
                return err;
            done += read;
            if (progress) {
                const OSErr stop = progress(total > 0 ? std::min(1.0, double(done) / double(total)) : 1.0);
                if (stop != noErr)
                    return stop;
            }
            if (delivered < UInt32(frameSize))
                break;
        }
        if (tail) {
            for (std::vector<SInt32>& channel : samples)
                std::fill(channel.begin(), channel.end(), 0);
            if ((err = send(UInt32(frameSize))) != noErr)
                return err;
        }
        return noErr;
    }

    // One packet of IMA 4:1 from `count` frames of `in` (one array per
    // channel, at least a packet long), silence after them.
    OSErr WriteImaPacket(std::vector<std::vector<SInt32>>& in, UInt32 count, int64_t* pts)
    {
        constexpr int frames = ImaPacketEncoder::kFrames;
        int16_t words[frames];
        av_packet_unref(packet_);
        if (av_new_packet(packet_, ImaPacketEncoder::kPacketBytes * int(ima_.size())) < 0)
            return memFullErr;
        for (std::size_t c = 0; c < ima_.size(); ++c) {
            for (int i = 0; i < frames; ++i)
                words[i] = UInt32(i) < count ? int16_t(in[c][std::size_t(i)] >> 16) : int16_t(0);
            ima_[c].EncodePacket(words, 1, packet_->data + ImaPacketEncoder::kPacketBytes * c);
        }
        packet_->pts = packet_->dts = *pts;
        packet_->duration = frames;
        *pts += count;
        av_packet_rescale_ts(packet_, codec_->time_base, stream_->time_base);
        packet_->stream_index = stream_->index;
        const int rc = av_interleaved_write_frame(muxer_, packet_);
        return rc < 0 ? ErrorFromAV(rc) : noErr;
    }

    OSErr Encode(const AVFrame* frame)
    {
        int rc = avcodec_send_frame(codec_, frame);
        if (rc < 0)
            return ioErr;
        for (;;) {
            rc = avcodec_receive_packet(codec_, packet_);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
                return noErr;
            if (rc < 0)
                return ioErr;
            av_packet_rescale_ts(packet_, codec_->time_base, stream_->time_base);
            packet_->stream_index = stream_->index;
            rc = av_interleaved_write_frame(muxer_, packet_);
            if (rc < 0)
                return ErrorFromAV(rc);
        }
    }

    ForkOutput output_;  // before the muxer, so that it outlives it
    AVFormatContext* muxer_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVStream* stream_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    std::vector<ImaPacketEncoder> ima_;  // a channel's each, when coding IMA 4:1 here
};

} // namespace

bool MovieExporter::CanEncode(OSType compression, UInt16 sampleSize, bool littleEndian)
{
    const AVCodecID id = CodecFor(compression, sampleSize, littleEndian);
    return id != AV_CODEC_ID_NONE && MediaLibraries::Available() && avcodec_find_encoder(id) != nullptr;
}

OSErr MovieExporter::ConvertMovieToFile(const std::string& sourcePath, const std::string& outputPath,
                                        const MovieExportSettings& settings, const ProgressProc& progress)
{
    if (!MediaLibraries::Available())
        return ioErr;
    try {
        Export job;
        const OSErr err = job.Run(sourcePath, outputPath, settings, progress);
        return err;
    } catch (const std::bad_alloc&) {
        return memFullErr;
    } catch (...) {
        return ioErr;
    }
}
