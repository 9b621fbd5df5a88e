#include "MovieSource.h"

#include "caf_chunks.h"
#include "DirectFlacPackets.h"
#include "error_codes.h"
#include "FlacFrameWalk.h"
#include "FlacFallbackDecoder.h"
#include "FlacLengthRule.h"
#include "FlacStreamCheck.h"
#include "library_channels.h"
#include "library_input.h"
#include "MediaCodes.h"
#include "mov_chan_atom.h"
#include "plain_flac_head.h"
#include "RawStreamLengthRule.h"
#include "TrackIndexer.h"
#include "TrackLengthRule.h"
#include "TrackVerdict.h"
#include "WaveFactRule.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <sys/stat.h>

#include "media_calls.h"

using namespace movie_input;

// ============================================================ the source

// The track opened: through the libraries (OpenAll), or a native FLAC file
// without them (OpenNativeFlac).
struct MovieSource::Impl : public TrackIndexer {
    // The metadata of the file and of its sound track (ReadMetadata).
    void CollectMetadata();

    // An empty file named as raw MPEG Layer I or II audio (as the encoder
    // leaves it for no sound): an empty track.  No frame tells its shape;
    // it reads as stereo at 44.1 kHz.
    bool OpenEmptyMPEGStream();

    // A native FLAC file whose frames the walk proves whole
    // (FlacFrameWalk), with plain metadata blocks (PlainFlacHead), is
    // opened without the media libraries, as OpenAll would open it through
    // them: its STREAMINFO tells what their demuxer and decoder would (the
    // rate, the channels and their layout, the length), the walked frames
    // are the packets the count indexes (Count) and libFLAC decodes them.
    // The libraries are loaded late, only for a frame libFLAC refuses
    // (FlacFallbackDecoder).  False for any other file, which a new Impl
    // opens through them.
    bool OpenNativeFlac();

    OSErr OpenAll();
};

void MovieSource::Impl::CollectMetadata()
{
    auto addAll = [this](const AVDictionary* dictionary) {
        const AVDictionaryEntry* e = nullptr;
        while ((e = av_dict_get(dictionary, "", e, AV_DICT_IGNORE_SUFFIX))) {
            MovieMetadataItem item;
            item.key = e->key ? e->key : "";
            item.dataType = 1;
            const std::size_t n = e->value ? std::strlen(e->value) : 0;
            item.value.assign(reinterpret_cast<const UInt8*>(e->value), reinterpret_cast<const UInt8*>(e->value) + n);
            metadata.push_back(std::move(item));
        }
    };
    addAll(format->metadata);
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        AVStream* st = format->streams[i];
        if (int(i) == stream)
            addAll(st->metadata);
        if ((st->disposition & AV_DISPOSITION_ATTACHED_PIC) && st->attached_pic.size > 0) {
            MovieMetadataItem item;
            item.key = "covr";
            item.dataType = CodecTraits::Of(st->codecpar->codec_id).coverType;
            item.value.assign(st->attached_pic.data, st->attached_pic.data + st->attached_pic.size);
            metadata.push_back(std::move(item));
        }
    }
}

bool MovieSource::Impl::OpenEmptyMPEGStream()
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
    if (extension == "mp1" || extension == "mpg" || extension == "m1a")
        dataFormat = FOUR_CHAR_CODE(".mp1");
    else if (extension == "mp2" || extension == "mpa" || extension == "m2a")
        dataFormat = FOUR_CHAR_CODE(".mp2");
    else
        return false;
    sampleRate = 44100;
    channels = 2;
    fileLabels = {kAudioChannelLabel_Left, kAudioChannelLabel_Right};
    order = {0, 1};
    kind = ContainerKind::MpegAudio;
    containerTraits = &ContainerTraits::Of(kind);
    fileFormat = containerTraits->FileFormatOf(path);
    return true;
}

bool MovieSource::Impl::OpenNativeFlac()
{
    uint8_t info[FlacStreamCheck::kStreamInfoBytes];
    int64_t firstFrame = -1;
    if (CheckRegularFile(path) != noErr || !PlainFlacHead(path, info, &firstFrame))
        return false;
    const FlacStreamCheck::StreamShape shape = FlacStreamCheck::Shape(info);
    if (shape.channels < 1 || shape.channels > 8 || shape.frames == 0)
        return false;
    const std::vector<FlacFrameWalk::Frame> walked = FlacFrameWalk::Whole(path, firstFrame);
    if (walked.empty())
        return false;
    flac.Open(info, sizeof info, FileBytes(path));
    flacFrames.Open(info, sizeof info);
    if (!flac.IsOpen() || !flacFrames.IsOpen())
        return false;
    decoder = std::make_unique<FlacFallbackDecoder>(*this, true);
    frame = &nativeFrame;
    verdict = TrackVerdict(path);
    stream = 0;
    codecID = AV_CODEC_ID_FLAC;
    codecTraits = CodecTraits::Of(codecID);
    sampleRate = double(shape.rate);
    channels = shape.channels;
    fileLabels = LabelsForMask(kFlacLayouts[channels - 1]);
    order.resize(channels);
    for (UInt32 c = 0; c < channels; ++c)
        order[c] = int(c);
    kind = ContainerKind::Flac;
    containerTraits = &ContainerTraits::Of(kind);
    fileFormat = containerTraits->FileFormatOf(path);
    dataFormat = codecTraits.dataFormat;
    trusted = true;
    seekExact = true;
    // The count of the frames walked, each a packet of its samples.
    UInt64 total = 0;
    int64_t lastPos = -1;
    index.reserve(walked.size());
    for (const FlacFrameWalk::Frame& f : walked) {
        dataBytes += f.bytes;
        packetsEnd = std::max(packetsEnd, f.pos + int64_t(f.bytes));
        IndexEntry entry{f.pos, int64_t(f.start), total, f.pos > lastPos && f.pos >= 0};
        entry.bytes = f.bytes;
        entry.frames = f.samples;
        lastPos = std::max(lastPos, f.pos);
        index.push_back(entry);
        total += entry.frames;
    }
    {
        TrackFinding found("packets");
        found.packets = index.size();
        verdict.Take(found);
    }
    if (!flac.EndsCleanly(path, index.back().pos))
        return false;
    Counted(total, std::nullopt);
    if (!DirectPackets())
        return false;
    packets = std::make_unique<DirectFlacPackets>(*this);
    if (DropUndecodableEnd() != noErr || !WithoutLibraries() || verdict.Frames() != shape.frames ||
        verdict.Damaged() || verdict.Cut())
        return false;
    SayDecoder();
    verdict.Take(FlacLengthRule::Whole(shape.frames));
    verdict.Bound(shape.frames);
    ResetDecoding();
    return true;
}

OSErr MovieSource::Impl::OpenAll()
{
    verdict = TrackVerdict(path);
    if (OpenEmptyMPEGStream())
        return noErr;
    OSErr err = OpenStreams(true);
    if (err != noErr)
        return err;
    AVStream* st = format->streams[stream];
    codecID = st->codecpar->codec_id;
    codecTraits = CodecTraits::Of(codecID);
    statedBitRate = UInt32(std::clamp<int64_t>(st->codecpar->bit_rate, 0, 0xFFFFFFFF));
    // Whether the header gives the track a length (a track cut off
    // before its first packet is no empty one).
    const bool lengthStated = (st->duration != AV_NOPTS_VALUE && st->duration > 0) || st->nb_frames > 0;
    sampleRate = double(st->codecpar->sample_rate > 0 ? st->codecpar->sample_rate : codec->sample_rate);
    channels = UInt32(std::max(codec->ch_layout.nb_channels, 0));
    if (channels == 0 || channels > 1024 || sampleRate <= 0)
        return kNoAudioTrackErr;
    fileLabels = LabelsForLayout(codec->ch_layout);
    order.resize(channels);
    for (UInt32 c = 0; c < channels; ++c)
        order[c] = int(c);
    kind = KindOfDemuxer(format->iformat ? format->iformat->name : nullptr);
    containerTraits = &ContainerTraits::Of(kind);
    fileFormat = containerTraits->FileFormatOf(path);
    dataFormat = codecTraits.dataFormat;
    if (dataFormat == kAudioFormatLinearPCM || dataFormat == media_codes::kALaw ||
        dataFormat == media_codes::kULaw)
        sourceBits = UInt32(std::max(av_get_bits_per_sample(codecID), 0));
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* s = format->streams[i];
        if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC))
            hasVideo = true;
    }
    CafLayout caf;
    const bool isCaf = containerTraits->layout == StoredLayout::CafChunk && WalkCaf(path, &caf) == noErr;
    if (isCaf)
        framesPerPacket = caf.format.mFramesPerPacket;
    if (containerTraits->tagged && containerTraits->RawStreamOf(codecTraits))
        tagsFrom = RawStreamLengthRule::TrailingTagsStart(path);
    if (codecTraits.streamInfo)
        flac.Open(st->codecpar->extradata, std::size_t(std::max(st->codecpar->extradata_size, 0)),
                  containerTraits->nativeFlac ? FileBytes(path) : -1);
    if (codecTraits.streamInfo && containerTraits->nativeFlac)
        flacFrames.Open(st->codecpar->extradata, std::size_t(std::max(st->codecpar->extradata_size, 0)));
    err = Count();
    if (err != noErr)
        return err;
    // A compressed WAVE stream ends where its 'fact' chunk says
    // (WaveFactRule).
    if (containerTraits->factChunk && dataFormat != kAudioFormatLinearPCM)
        verdict.Take(WaveFactRule::Settle(path, codecTraits, verdict.Frames(), &startSkip));
    // The speakers the container names for its channels stand over the
    // libraries' reading of them, which takes a layout's speakers in
    // their mask order whatever order the layout lists them in.  A
    // sample coder delivers the channels as stored; a codec with a
    // channel model of its own delivers them in its decoder's order,
    // which the decoder's layout describes.
    if (av_get_bits_per_sample(codecID) > 0) {
        std::vector<UInt32> stored;
        if (isCaf)
            stored = caf.ChannelLabels();
        else if (containerTraits->layout == StoredLayout::MovieBoxes) {
            const std::vector<UInt8> chan = MovieTrackChannelLayout(path, unsigned(stream));
            stored = ChannelLabelsFromStoredLayout(chan.data(), chan.size(), channels);
        }
        if (stored.size() == channels)
            fileLabels = stored;
    }
    // What the container states of the track's length, against the
    // frames counted: a cut, or sound lost (TrackLengthRule).
    {
        SayDecoder();
        verdict.Take(lengthRule->Settle(Tally()));
        verdict.Bound(StatedFrames());
    }
    // A track with packets none of which decodes is no sound track, and
    // neither is one whose header gives a length its packets do not
    // hold; one without packets that states none, or whose packets
    // hold only the encoder's delay and padding, is an empty one, unless
    // a rule found its sound taken out (fragments of it gone); but not a
    // FLAC file cut before its first frame.
    const bool takenOut = dataBytes == 0 && !lengthStated && verdict.Loss().Any();
    if (verdict.Frames() == 0 &&
        (dataBytes > 0 ? !trimmedToNothing
                       : lengthStated || takenOut || (containerTraits->nativeFlac && verdict.Cut())))
        return dataBytes == 0 && verdict.Cut() ? eofErr : takenOut ? kUndecodableAudioErr : kNoAudioTrackErr;
    return OpenStreams(false);
}

MovieSource::MovieSource(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
MovieSource::~MovieSource() = default;

OSErr MovieSource::Open(const std::string& path, std::unique_ptr<MovieSource>* out)
{
    if (!out)
        return paramErr;
    out->reset();
    try {
        auto impl = std::make_unique<Impl>();
        impl->path = path;
        if (impl->OpenNativeFlac()) {
            out->reset(new MovieSource(std::move(impl)));
            return noErr;
        }
    } catch (const std::bad_alloc&) {
        // Through the libraries, as any other file.
    }
    const OSErr err = OpenWithLibraries(path, out);
    // A FLAC file of more than 24 bits that the walk does not prove whole
    // is left to the libraries, whose decoder may not take samples that
    // wide: its failure is said as what it is, not as a file without
    // sound.
    if (err == kNoAudioTrackErr) {
        uint8_t info[FlacStreamCheck::kStreamInfoBytes];
        int64_t firstFrame = -1;
        if (PlainFlacHead(path, info, &firstFrame) && FlacStreamCheck::Shape(info).bits > 24)
            return kDamagedWideFlacErr;
    }
    return err;
}

OSErr MovieSource::OpenWithLibraries(const std::string& path, std::unique_ptr<MovieSource>* out)
{
    if (!out)
        return paramErr;
    out->reset();
    if (!MediaLibraries::Available())
        return kUnknownFileFormatErr;
    try {
        auto impl = std::make_unique<Impl>();
        impl->path = path;
        const OSErr err = impl->OpenAll();
        if (err != noErr)
            return err;
        out->reset(new MovieSource(std::move(impl)));
        return noErr;
    } catch (const std::bad_alloc&) {
        return kCorruptChunkSizeErr;  // sized after the file's tables, as above
    }
}

SInt32 MovieSource::Probe(const std::string& path, ContainerKind* container, OSType* dataFormat)
{
    if (!MediaLibraries::Available())
        return 0;
    QuietLogs();
    if (const OSErr err = CheckRegularFile(path); err != noErr)
        return err == kUnknownFileFormatErr ? 0 : err;
    // The name is left out: the content alone must tell.
    const AVInputFormat* input = nullptr;
    if (ContentFormat(path, &input) != noErr)
        return fnfErr;
    if (!input)
        return 0;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), input, nullptr) < 0)
        return 0;
    SInt32 channels = 0;
    if (avformat_find_stream_info(format, nullptr) >= 0) {
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            const AVCodecParameters* par = format->streams[i]->codecpar;
            if (par->codec_type == AVMEDIA_TYPE_AUDIO && avcodec_find_decoder(par->codec_id)) {
                channels = std::max(par->ch_layout.nb_channels, 0);
                if (dataFormat)
                    *dataFormat = CodecTraits::Of(par->codec_id).dataFormat;
                break;
            }
        }
    }
    if (container)
        *container = KindOfDemuxer(format->iformat ? format->iformat->name : nullptr);
    avformat_close_input(&format);
    return channels;
}

OSErr MovieSource::ReadMetadata(const std::string& path, std::vector<MovieMetadataItem>* items)
{
    if (!items)
        return paramErr;
    items->clear();
    if (!MediaLibraries::Available())
        return kUnknownFileFormatErr;
    try {
        Impl impl;
        impl.path = path;
        QuietLogs();
        if (const OSErr err = CheckRegularFile(path); err != noErr)
            return err;
        if (const int rc = OpenInput(path, &impl.format, nullptr, nullptr); rc < 0)
            return ErrorFromAV(rc, kUnknownFileFormatErr);
        impl.stream = -1;
        for (unsigned i = 0; i < impl.format->nb_streams; ++i)
            if (impl.format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
                impl.stream = int(i);
                break;
            }
        impl.CollectMetadata();
        *items = std::move(impl.metadata);
        return noErr;
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
}

double MovieSource::SampleRate() const { return impl_->sampleRate; }
UInt32 MovieSource::Channels() const { return impl_->channels; }
void MovieSource::SetClipCountWindow(UInt64 from, UInt64 to)
{
    impl_->clipWindowFrom = from;
    impl_->clipWindowTo = std::max(from, to);
}
UInt64 MovieSource::FrameCount() const { return impl_->verdict.Frames(); }
bool MovieSource::DataCutShort() const { return impl_->verdict.Cut(); }
const SFTDecodeLoss& MovieSource::DecodeLoss() const { return impl_->verdict.Loss(); }
const std::vector<UInt32>& MovieSource::FileChannelLabels() const { return impl_->fileLabels; }
OSType MovieSource::FileFormat() const { return impl_->fileFormat; }
OSType MovieSource::DataFormat() const { return impl_->dataFormat; }
UInt32 MovieSource::SourceBits() const { return impl_->sourceBits; }
bool MovieSource::FloatSamples() const
{
    return impl_->codecTraits.floatSamples;
}
bool MovieSource::HasVideoTrack() const { return impl_->hasVideo; }
UInt64 MovieSource::AudioDataBytes() const { return impl_->dataBytes; }
UInt32 MovieSource::StatedBitRate() const { return impl_->statedBitRate; }
UInt32 MovieSource::FirstMPEGHeader() const { return impl_->mpegHeader; }
bool MovieSource::ReadsWithoutLibraries() const { return impl_->WithoutLibraries(); }
UInt64 MovieSource::Position() const { return impl_->position; }
bool MovieSource::Untouched() const { return !impl_->touched; }
const std::vector<std::string>& MovieSource::RuleLines() const { return impl_->verdict.Lines(); }

bool MovieSource::SetClientLayout(AudioChannelLayoutTag tag)
{
    std::vector<int> order;
    if (!ChannelOrderForLabels(impl_->fileLabels, ChannelLabelsForLayoutTag(tag), &order))
        return false;
    impl_->order = order;
    return true;
}

OSErr MovieSource::Seek(UInt64 frame)
{
    impl_->touched = true;
    if (!impl_->format && !impl_->WithoutLibraries())
        return frame == 0 ? noErr : paramErr;  // an empty stream
    try {
        return impl_->SeekTo(frame);
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
}

OSErr MovieSource::Read(SInt32* const* channels, UInt32 frames, UInt32* delivered)
{
    if (!delivered || (!channels && frames > 0))
        return paramErr;
    *delivered = 0;
    impl_->touched = true;
    if (!impl_->format && !impl_->WithoutLibraries())
        return impl_->verdict.Frames() == 0 ? noErr : kNoAudioTrackErr;  // an empty stream
    return impl_->Read(channels, frames, delivered);
}
