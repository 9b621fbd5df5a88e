#include "MovieSource.h"

#include "DemuxerPackets.h"
#include "DirectFlacPackets.h"
#include "error_codes.h"
#include "FlacFallbackDecoder.h"
#include "FlacFrameWalk.h"
#include "FlacLengthRule.h"
#include "FlacStreamCheck.h"
#include "library_input.h"
#include "LibraryFrameDecoder.h"
#include "plain_flac_head.h"
#include "RawStreamLengthRule.h"
#include "TrackCount.h"
#include "TrackDescription.h"
#include "TrackReader.h"
#include "WaveDataRule.h"
#include "WalkedFlacPackets.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "media_calls.h"

using namespace movie_input;

// ============================================================ the source

// The track opened: its description (made once), where its packets come
// from, what decodes them, what the count found (the index, the verdict,
// what it learned) and the reading.  Opened through the libraries
// (OpenAll), or a native FLAC file without them (OpenNativeFlac); an empty
// raw MPEG stream has neither source nor reading.
struct MovieSource::Impl {
    explicit Impl(const TrackDescription& track) : description(track) {}

    const TrackDescription description;
    std::unique_ptr<PacketSource> packets;
    std::unique_ptr<FrameDecoder> decoder;
    CountResult count;
    std::unique_ptr<TrackReader> reader;
    // The delivered shape: the description's, or what the count learned.
    UInt32 channels = 0;
    std::vector<UInt32> labels;
    bool touched = false;  // read or sought since the opening

    // A native FLAC file whose frames the walk proves whole
    // (FlacFrameWalk), with plain metadata blocks (PlainFlacHead), is
    // opened without the media libraries, as OpenAll would open it through
    // them: its STREAMINFO tells what their demuxer and decoder would (the
    // rate, the channels and their layout, the length), the walked frames
    // are the packets the count indexes and libFLAC decodes them.  The
    // libraries are loaded late, only for a frame libFLAC refuses
    // (FlacFallbackDecoder).  Null for any other file, which is opened
    // through them.
    static std::unique_ptr<Impl> OpenNativeFlac(const std::string& path);
    static OSErr OpenAll(const std::string& path, std::unique_ptr<Impl>* out);

    // The count's result taken, with the shape it learned.
    void Take(TrackCount&& count);
    // The reading begun from the start of the source and decoder as they
    // stand.
    OSErr StartReading();
};

namespace {

// The metadata of the file and of its sound track `stream` (ReadMetadata).
void CollectMetadata(const AVFormatContext* format, int stream, std::vector<MovieMetadataItem>* items)
{
    auto addAll = [items](const AVDictionary* dictionary) {
        const AVDictionaryEntry* e = nullptr;
        while ((e = av_dict_get(dictionary, "", e, AV_DICT_IGNORE_SUFFIX))) {
            MovieMetadataItem item;
            item.key = e->key ? e->key : "";
            item.dataType = 1;
            const std::size_t n = e->value ? std::strlen(e->value) : 0;
            item.value.assign(reinterpret_cast<const UInt8*>(e->value), reinterpret_cast<const UInt8*>(e->value) + n);
            items->push_back(std::move(item));
        }
    };
    addAll(format->metadata);
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* st = format->streams[i];
        if (int(i) == stream)
            addAll(st->metadata);
        if ((st->disposition & AV_DISPOSITION_ATTACHED_PIC) && st->attached_pic.size > 0) {
            MovieMetadataItem item;
            item.key = "covr";
            item.dataType = CodecTraits::Of(st->codecpar->codec_id).coverType;
            item.value.assign(st->attached_pic.data, st->attached_pic.data + st->attached_pic.size);
            items->push_back(std::move(item));
        }
    }
}

}  // namespace

void MovieSource::Impl::Take(TrackCount&& counted)
{
    count = std::move(counted).Result();
    channels = count.learned.channels.value_or(description.channels);
    labels = count.learned.channels ? std::vector<UInt32>{kAudioChannelLabel_Left, kAudioChannelLabel_Right}
                                    : description.labels;
}

OSErr MovieSource::Impl::StartReading()
{
    TrackReader::Plan plan;
    plan.shape = {channels, description.TrackRate(), description.codec.channelModeChanges};
    plan.codec = description.codec;
    plan.indexed = count.indexed;
    plan.seekExact = count.seekExact;
    plan.startSkip = count.learned.startSkip;
    plan.otherRateIsDamage = description.codec.streamInfo && description.container->nativeFlac;
    reader = std::make_unique<TrackReader>(*packets, *decoder, count.index, count.verdict, plan, description.flac);
    return reader->Start();
}

std::unique_ptr<MovieSource::Impl> MovieSource::Impl::OpenNativeFlac(const std::string& path)
{
    uint8_t info[FlacStreamCheck::kStreamInfoBytes];
    int64_t firstFrame = -1;
    if (CheckRegularFile(path) != noErr || !PlainFlacHead(path, info, &firstFrame))
        return nullptr;
    const FlacStreamCheck::StreamShape shape = FlacStreamCheck::Shape(info);
    if (shape.channels < 1 || shape.channels > 8 || shape.frames == 0)
        return nullptr;
    std::vector<FlacFrameWalk::Frame> walked = FlacFrameWalk::Whole(path, firstFrame);
    if (walked.empty())
        return nullptr;
    TrackDescription track;
    auto libFlac = std::make_unique<FlacFrameDecoder>();
    if (!TrackDescription::FromStreamInfo(path, info, &track) || !libFlac->Open(info, sizeof info))
        return nullptr;
    auto impl = std::make_unique<Impl>(track);
    const TrackDescription& d = impl->description;
    impl->decoder = std::make_unique<FlacFallbackDecoder>(std::move(libFlac), nullptr, path, DecoderPlan{true, 0});
    // The count of the frames walked, each a packet of its samples, as the
    // count of the demuxer's packets would find them.
    TrackCount count(d, std::make_unique<FlacLengthRule>(shape.frames), nullptr);
    WalkedFlacPackets frames(std::move(walked), d.timeBaseNum, d.timeBaseDen, d.streamRate);
    count.IndexPackets(frames, impl->decoder.get());
    if (count.SettlePackets() != noErr || !count.CountedFromPackets())
        return nullptr;
    count.TakePacketCount();
    if (!count.ReadsStraight())
        return nullptr;
    impl->packets = std::make_unique<DirectFlacPackets>(path, count.Index());
    if (count.DropUndecodableEnd(*impl->packets, *impl->decoder) != noErr || !impl->decoder->WithoutLibraries())
        return nullptr;
    count.Settle();
    impl->Take(std::move(count));
    const TrackVerdict& verdict = impl->count.verdict;
    if (verdict.Frames() != shape.frames || verdict.Damaged() || verdict.Cut() || impl->packets->Rewind() != noErr ||
        impl->StartReading() != noErr)
        return nullptr;
    return impl;
}

OSErr MovieSource::Impl::OpenAll(const std::string& path, std::unique_ptr<Impl>* out)
{
    TrackDescription track;
    if (TrackDescription::EmptyMpegStream(path, &track)) {
        auto impl = std::make_unique<Impl>(track);
        impl->channels = track.channels;
        impl->labels = track.labels;
        impl->count.verdict = TrackVerdict(path);
        *out = std::move(impl);
        return noErr;
    }
    std::unique_ptr<DemuxerPackets> demuxer;
    std::unique_ptr<LibraryFrameDecoder> library;
    if (OSErr err = DemuxerPackets::Open(path, &demuxer); err != noErr)
        return err;
    if (OSErr err = LibraryFrameDecoder::Open(demuxer->Stream(), DecoderPlan{}, &library); err != noErr)
        return err;
    if (OSErr err = TrackDescription::Opened(path, *demuxer, *library, &track); err != noErr)
        return err;
    auto impl = std::make_unique<Impl>(track);
    const TrackDescription& d = impl->description;
    const ContainerTraits& container = *d.container;
    DemuxerPackets::PassOver pass;
    pass.syntax = d.codec.syntax;
    if (container.tagged && container.RawStreamOf(d.codec))
        pass.tagsFrom = RawStreamLengthRule::TrailingTagsStart(path);
    if (d.flac.IsOpen() && container.nativeFlac)
        pass.repeatedFrom = FileBytes(path);
    pass.linkHeaders = container.chainsLinks ? d.codec.ogg : OggMapping::None;
    if (WaveDataRule::Data data; container.dataChunk && d.codec.sampleFrames) {
        PositionedFile file(path);
        if (WaveDataRule::FindData(file, &data)) {
            pass.dataEnd = data.body + int64_t(std::min<UInt64>(data.bytes, INT64_MAX / 2));
            pass.padding = data.padding;
            pass.blockAlign = d.blockAlign;
        }
    }
    demuxer->Pass(pass);
    demuxer->SeekByBytes(container.byteSeek);
    // A native FLAC stream's frames decoded by libFLAC, where it opens, and
    // those of a FLAC stream in any container wider than the libraries'
    // decoder takes (more than 24 bits: Ogg FLAC's packets are frames too).
    std::unique_ptr<FlacFrameDecoder> libFlac;
    const AVCodecParameters* setup = demuxer->Stream()->codecpar;
    const std::size_t setupBytes = std::size_t(std::max(setup->extradata_size, 0));
    const uint8_t* streamInfo = d.codec.streamInfo ? FlacStreamCheck::StreamInfo(setup->extradata, setupBytes) : nullptr;
    const bool wide = streamInfo && FlacStreamCheck::Shape(streamInfo).bits > 24;
    if (streamInfo && (container.nativeFlac || wide)) {
        libFlac = std::make_unique<FlacFrameDecoder>();
        if (!libFlac->Open(setup->extradata, setupBytes))
            libFlac.reset();
    }
    const bool withLibFlac = libFlac != nullptr;

    TrackCount count(d, container.LengthRuleFor(d.codec), demuxer.get());
    // The decoder for what the count settles: libFLAC before the
    // libraries' decoder where the packets tell a native FLAC file's
    // frames, the libraries' alone for the rest.
    // (A stream wider than the libraries' decoder takes is libFLAC's
    // however it is counted.)
    const bool fallback = (count.PacketsTellFrames() || wide) && libFlac;
    if (fallback)
        impl->decoder = std::make_unique<FlacFallbackDecoder>(std::move(libFlac), std::move(library), path,
                                                              count.Plan());
    else
        impl->decoder = std::move(library);
    // The packets come from the demuxer, or from the walk while it reads
    // (a native FLAC file it proves whole).
    std::optional<WalkedFlacPackets> walked;
    if (container.nativeFlac && withLibFlac && !d.viewed)
        if (std::vector<FlacFrameWalk::Frame> frames = FlacFrameWalk::Whole(path); !frames.empty())
            walked.emplace(std::move(frames), d.timeBaseNum, d.timeBaseDen, std::max(d.streamRate, 1));
    if (walked)
        count.IndexPackets(*walked, impl->decoder.get());
    else
        count.IndexPackets(*demuxer, impl->decoder.get());
    if (OSErr err = count.SettlePackets(); err != noErr)
        return err;
    if (count.CountedFromPackets()) {
        count.TakePacketCount();
        // After the count the packets are read straight from the file
        // where it can be (DirectFlacPackets).
        if (withLibFlac && count.ReadsStraight())
            impl->packets = std::make_unique<DirectFlacPackets>(path, count.Index());
        else
            impl->packets = std::move(demuxer);
        impl->decoder->PlanRestart(count.Plan());
        if (OSErr err = count.DropUndecodableEnd(*impl->packets, *impl->decoder); err != noErr)
            return err;
    } else {
        count.BeginDecodingCount();
        if (OSErr err = demuxer->Rewind(); err != noErr)
            return err;
        if (fallback && wide) {
            impl->decoder->PlanRestart(count.Plan());
            if (OSErr err = impl->decoder->Restart(); err != noErr)
                return err;
        } else {
            if (OSErr err = LibraryFrameDecoder::Open(demuxer->Stream(), count.Plan(), &library); err != noErr)
                return err;
            impl->decoder = std::move(library);
        }
        impl->packets = std::move(demuxer);
        if (OSErr err = count.CountByDecoding(*impl->packets, *impl->decoder); err != noErr)
            return err;
    }
    count.Settle();
    const DecoderPlan plan = count.Plan();
    impl->Take(std::move(count));
    // A track with packets none of which decodes is no sound track, and
    // neither is one whose header gives a length its packets do not
    // hold; one without packets that states none, or whose packets
    // hold only the encoder's delay and padding, is an empty one, unless
    // a rule found its sound taken out (fragments of it gone); but not a
    // FLAC file cut before its first frame.
    const TrackVerdict& verdict = impl->count.verdict;
    const LearnedShape& learned = impl->count.learned;
    const bool takenOut = learned.dataBytes == 0 && !d.lengthStated && verdict.Loss().Any();
    if (verdict.Frames() == 0 && (learned.dataBytes > 0 ? !learned.trimmedToNothing
                                                        : d.lengthStated || takenOut ||
                                                              (container.nativeFlac && verdict.Cut())))
        return learned.dataBytes == 0 && verdict.Cut() ? eofErr : takenOut ? kUndecodableAudioErr : kNoAudioTrackErr;
    // The reading from the start: the source and the decoder opened again.
    if (OSErr err = impl->packets->Rewind(); err != noErr)
        return err;
    impl->decoder->PlanRestart(plan);
    if (OSErr err = impl->decoder->Restart(); err != noErr)
        return err;
    if (OSErr err = impl->StartReading(); err != noErr)
        return err;
    *out = std::move(impl);
    return noErr;
}

MovieSource::MovieSource(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
MovieSource::~MovieSource() = default;

OSErr MovieSource::Open(const std::string& path, std::unique_ptr<MovieSource>* out)
{
    if (!out)
        return paramErr;
    out->reset();
    try {
        if (std::unique_ptr<Impl> impl = Impl::OpenNativeFlac(path)) {
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
        std::unique_ptr<Impl> impl;
        const OSErr err = Impl::OpenAll(path, &impl);
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
        QuietLogs();
        if (const OSErr err = CheckRegularFile(path); err != noErr)
            return err;
        AVFormatContext* format = nullptr;
        if (const int rc = OpenInput(path, &format, nullptr, nullptr); rc < 0) {
            avformat_close_input(&format);
            return ErrorFromAV(rc, kUnknownFileFormatErr);
        }
        int stream = -1;
        for (unsigned i = 0; i < format->nb_streams; ++i)
            if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
                stream = int(i);
                break;
            }
        CollectMetadata(format, stream, items);
        avformat_close_input(&format);
        return noErr;
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
}

double MovieSource::SampleRate() const { return impl_->description.rate; }
UInt32 MovieSource::Channels() const { return impl_->channels; }
void MovieSource::SetClipCountWindow(UInt64 from, UInt64 to)
{
    if (impl_->reader)
        impl_->reader->SetClipCountWindow(from, to);
}
UInt64 MovieSource::FrameCount() const { return impl_->count.verdict.Frames(); }
bool MovieSource::DataCutShort() const { return impl_->count.verdict.Cut(); }
const SFTDecodeLoss& MovieSource::DecodeLoss() const { return impl_->count.verdict.Loss(); }
const std::vector<UInt32>& MovieSource::FileChannelLabels() const { return impl_->labels; }
OSType MovieSource::FileFormat() const { return impl_->description.fileFormat; }
OSType MovieSource::DataFormat() const { return impl_->description.dataFormat; }
UInt32 MovieSource::SourceBits() const { return impl_->description.sourceBits; }
bool MovieSource::FloatSamples() const { return impl_->description.codec.floatSamples; }
bool MovieSource::HasVideoTrack() const { return impl_->description.hasVideo; }
UInt64 MovieSource::AudioDataBytes() const { return impl_->count.learned.dataBytes; }
UInt32 MovieSource::StatedBitRate() const { return impl_->description.statedBitRate; }
UInt32 MovieSource::FirstMPEGHeader() const { return impl_->count.learned.firstMpegHeader; }
bool MovieSource::ReadsWithoutLibraries() const { return impl_->decoder && impl_->decoder->WithoutLibraries(); }
UInt64 MovieSource::Position() const { return impl_->reader ? impl_->reader->Position() : 0; }
bool MovieSource::Untouched() const { return !impl_->touched; }
const std::vector<std::string>& MovieSource::RuleLines() const { return impl_->count.verdict.Lines(); }

bool MovieSource::SetClientLayout(AudioChannelLayoutTag tag)
{
    std::vector<int> order;
    if (!ChannelOrderForLabels(impl_->labels, ChannelLabelsForLayoutTag(tag), &order))
        return false;
    if (impl_->reader)
        impl_->reader->SetOrder(std::move(order));
    return true;
}

OSErr MovieSource::Seek(UInt64 frame)
{
    impl_->touched = true;
    if (!impl_->reader || !impl_->packets->IsOpen())
        return frame == 0 ? noErr : paramErr;  // an empty stream
    try {
        return impl_->reader->Seek(frame);
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
    if (!impl_->reader || !impl_->packets->IsOpen())
        return impl_->count.verdict.Frames() == 0 ? noErr : kNoAudioTrackErr;  // an empty stream
    return impl_->reader->Read(channels, frames, delivered);
}
