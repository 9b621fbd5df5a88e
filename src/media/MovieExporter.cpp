#include "MovieExporter.h"
#include "MediaCodes.h"

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

// One export: owns the libraries' objects and releases them however it ends.
class Export {
public:
    ~Export()
    {
        avcodec_free_context(&codec_);
        if (muxer_) {
            if (muxer_->pb)
                avio_closep(&muxer_->pb);
            avformat_free_context(muxer_);
        }
        av_frame_free(&frame_);
        av_packet_free(&packet_);
    }

    OSErr Run(const std::string& sourcePath, const std::string& outputPath, const MovieExportSettings& s,
              const MovieExporter::ProgressProc& progress)
    {
        std::unique_ptr<MovieSource> source;
        OSErr err = MovieSource::Open(sourcePath, &source);
        if (err != noErr)
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

        if ((rc = avio_open(&muxer_->pb, outputPath.c_str(), AVIO_FLAG_WRITE)) < 0)
            return ErrorFromAV(rc);
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
            return ErrorFromAV(rc);
        if (muxer_->pb->error < 0)
            return ErrorFromAV(muxer_->pb->error);
        rc = avio_closep(&muxer_->pb);
        if (rc < 0)
            return ErrorFromAV(rc);
        return tail ? MovieEditLength::Set(outputPath, total, rate) : noErr;
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

    AVFormatContext* muxer_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVStream* stream_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
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
