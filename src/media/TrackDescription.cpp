#include "TrackDescription.h"

#include "caf_chunks.h"
#include "ChannelLabels.h"
#include "CoreAudioTypes.h"
#include "DemuxerPackets.h"
#include "error_codes.h"
#include "library_channels.h"
#include "library_input.h"
#include "LibraryFrameDecoder.h"
#include "MediaCodes.h"
#include "mov_chan_atom.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <sys/stat.h>

#include "media_calls.h"

using namespace movie_input;

int TrackDescription::TrackRate() const
{
    return int(std::lround(rate));
}

OSErr TrackDescription::Opened(const std::string& path, const DemuxerPackets& input, const LibraryFrameDecoder& decoder,
                               TrackDescription* out)
{
    TrackDescription d;
    d.path = path;
    const AVFormatContext* format = input.Format();
    const AVStream* st = input.Stream();
    const AVCodecParameters* par = st->codecpar;
    const AVCodecContext* codec = decoder.Context();
    d.codec = CodecTraits::Of(par->codec_id);
    d.statedBitRate = UInt32(std::clamp<int64_t>(par->bit_rate, 0, 0xFFFFFFFF));
    d.lengthStated = (st->duration != AV_NOPTS_VALUE && st->duration > 0) || st->nb_frames > 0;
    d.rate = double(par->sample_rate > 0 ? par->sample_rate : codec->sample_rate);
    d.channels = UInt32(std::max(codec->ch_layout.nb_channels, 0));
    if (d.channels == 0 || d.channels > 1024 || d.rate <= 0)
        return kNoAudioTrackErr;
    d.labels = LabelsForLayout(codec->ch_layout);
    d.container = &ContainerTraits::Of(KindOfDemuxer(format->iformat ? format->iformat->name : nullptr));
    d.fileFormat = d.container->FileFormatOf(path);
    d.dataFormat = d.codec.dataFormat;
    const int sampleBits = std::max(av_get_bits_per_sample(par->codec_id), 0);
    if (d.dataFormat == kAudioFormatLinearPCM || d.dataFormat == media_codes::kALaw ||
        d.dataFormat == media_codes::kULaw)
        d.sourceBits = UInt32(sampleBits);
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* s = format->streams[i];
        if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC))
            d.hasVideo = true;
    }
    if (format->duration_estimation_method == AVFMT_DURATION_FROM_STREAM && st->duration != AV_NOPTS_VALUE &&
        st->duration > 0)
        d.statedFrames = UInt64(std::max<int64_t>(
            av_rescale_q(st->duration, st->time_base, {1, std::max(par->sample_rate, 1)}), 0));
    d.timeBaseNum = st->time_base.num;
    d.timeBaseDen = st->time_base.den;
    d.streamRate = par->sample_rate;
    d.streamFrameSize = par->frame_size;
    d.blockAlign = par->block_align;
    d.decoderFrameSize = codec->frame_size;
    d.decoderFloats = codec->sample_fmt == AV_SAMPLE_FMT_FLTP || codec->sample_fmt == AV_SAMPLE_FMT_FLT;
    d.fileBytes = input.Bytes();
    d.viewed = input.Viewed();
    d.streams = format->nb_streams;
    CafLayout caf;
    const bool isCaf = d.container->layout == StoredLayout::CafChunk && WalkCaf(path, &caf) == noErr;
    if (isCaf)
        d.framesPerPacket = caf.format.mFramesPerPacket;
    if (d.codec.streamInfo)
        d.flac.Open(par->extradata, std::size_t(std::max(par->extradata_size, 0)),
                    d.container->nativeFlac ? FileBytes(path) : -1);
    // The speakers the container names for its channels stand over the
    // libraries' reading of them, which takes a layout's speakers in
    // their mask order whatever order the layout lists them in.  A
    // sample coder delivers the channels as stored; a codec with a
    // channel model of its own delivers them in its decoder's order,
    // which the decoder's layout describes.
    if (sampleBits > 0) {
        std::vector<UInt32> stored;
        if (isCaf)
            stored = caf.ChannelLabels();
        else if (d.container->layout == StoredLayout::MovieBoxes) {
            const std::vector<UInt8> chan = MovieTrackChannelLayout(path, unsigned(input.StreamIndex()));
            stored = ChannelLabelsFromStoredLayout(chan.data(), chan.size(), d.channels);
        }
        if (stored.size() == d.channels)
            d.labels = stored;
    }
    *out = std::move(d);
    return noErr;
}

bool TrackDescription::FromStreamInfo(const std::string& path, const uint8_t* info, TrackDescription* out)
{
    const FlacStreamCheck::StreamShape shape = FlacStreamCheck::Shape(info);
    TrackDescription d;
    d.path = path;
    d.container = &ContainerTraits::Of(ContainerKind::Flac);
    d.codec = CodecTraits::Of(AV_CODEC_ID_FLAC);
    d.rate = double(shape.rate);
    d.channels = shape.channels;
    d.labels = LabelsForMask(kFlacLayouts[d.channels - 1]);
    d.fileFormat = d.container->FileFormatOf(path);
    d.dataFormat = d.codec.dataFormat;
    d.lengthStated = shape.frames > 0;
    d.statedFrames = shape.frames;
    d.timeBaseDen = d.streamRate = int(shape.rate);
    d.fileBytes = FileBytes(path);
    d.flac.Open(info, FlacStreamCheck::kStreamInfoBytes, d.fileBytes);
    if (!d.flac.IsOpen())
        return false;
    *out = std::move(d);
    return true;
}

bool TrackDescription::EmptyMpegStream(const std::string& path, TrackDescription* out)
{
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size != 0)
        return false;
    std::string extension;
    const std::size_t dot = path.rfind('.');
    if (dot != std::string::npos && path.find('/', dot) == std::string::npos)
        extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    TrackDescription d;
    if (extension == "mp1" || extension == "mpg" || extension == "m1a")
        d.dataFormat = FOUR_CHAR_CODE(".mp1");
    else if (extension == "mp2" || extension == "mpa" || extension == "m2a")
        d.dataFormat = FOUR_CHAR_CODE(".mp2");
    else
        return false;
    d.path = path;
    d.rate = 44100;
    d.channels = 2;
    d.labels = {kAudioChannelLabel_Left, kAudioChannelLabel_Right};
    d.container = &ContainerTraits::Of(ContainerKind::MpegAudio);
    d.fileFormat = d.container->FileFormatOf(path);
    *out = std::move(d);
    return true;
}
