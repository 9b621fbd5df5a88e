#include "TrackIndexer.h"

#include "AiffFrameCountRule.h"
#include "ByteFields.h"
#include "DemuxerPackets.h"
#include "DirectFlacPackets.h"
#include "error_codes.h"
#include "FlacFallbackDecoder.h"
#include "FlacFrameWalk.h"
#include "LibraryFrameDecoder.h"
#include "library_input.h"
#include "mpeg_audio_frames.h"
#include "TrackLengthRule.h"
#include "TrackVerdict.h"
#include "WalkedFlacPackets.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "media_calls.h"

using namespace movie_input;

bool TrackIndexer::FirstPacketGivesSound()
{
    codec->flags2 |= AV_CODEC_FLAG2_SKIP_MANUAL;  // every frame it decodes, whatever the skip
    bool refused = false;
    return SendAndDrain(&refused);
}

void TrackIndexer::ChooseDecoder()
{
    if (trusted && flacFrames.IsOpen())
        decoder = std::make_unique<FlacFallbackDecoder>(*this, false);
    else
        decoder = std::make_unique<LibraryFrameDecoder>(*this);
}

OSErr TrackIndexer::Count()
{
    CountPass c;
    c.st = format->streams[stream];
    c.rate = AVRational{1, std::max(c.st->codecpar->sample_rate, 1)};
    AVStream* st = c.st;
    const AVRational rate = c.rate;
    // Packet durations in a time base coarser than the samples (the
    // milliseconds of Matroska and WebM) cannot tell the frames.
    // Opus and Vorbis in an Ogg file whose pages are whole: the packets
    // tell the frames (OggPacketTrust).
    lengthRule = containerTraits->LengthRuleFor(codecTraits);
    const bool oggPackets = c.ogg.Open(lengthRule.get(), path, view != nullptr, format->nb_streams, codecTraits.ogg, st);
    trusted = (codecTraits.exactDurations || oggPackets) &&
              int64_t(st->time_base.num) * rate.den <= int64_t(st->time_base.den);
    const bool floats = codec->sample_fmt == AV_SAMPLE_FMT_FLTP || codec->sample_fmt == AV_SAMPLE_FMT_FLT;
    seekExact = trusted && !oggPackets &&
                (codecTraits.seek == SeekSettling::Settles ||
                 (codecTraits.seek == SeekSettling::WithFloatDecoder && floats));
    ChooseDecoder();
    c.frameSize = codec->frame_size;
    c.packetTally = std::make_unique<TrackTally>(Tally());
    // The packets come from the source the opening built (the demuxer's),
    // or from the walk while it reads.
    std::unique_ptr<PacketSource> opened;
    if (containerTraits->nativeFlac && flacFrames.IsOpen() && !view)
        if (std::vector<FlacFrameWalk::Frame> frames = FlacFrameWalk::Whole(path); !frames.empty())
            opened = std::exchange(packets, std::make_unique<WalkedFlacPackets>(*this, std::move(frames)));
    while (NextPacket())
        IndexPacket(c);
    if (opened)
        packets = std::move(opened);
    av_packet_unref(packet);
    {
        TrackFinding found("packets");
        found.packets = index.size();
        verdict.Take(found);
    }
    // A stream of that one packet holds no sound: it is no priming.
    if (c.firstGivesNothing && index.size() == 1) {
        index[0].frames = UInt32(std::min<UInt64>(c.firstFrames, 0xFFFFFFFFu));
        c.total += index[0].frames;
        c.wholeMPEGFrames += c.firstFrames;
    }
    SettleCountRules(c);
    // A track whose channel count changes is not read as one.
    channelsChange = channelsChange || c.shapes.ChannelsChange();
    if (channelsChange)
        return kTrackChannelsChangeErr;
    // Ogg packets whose sum is not what the last granule states, less
    // the pre-skip or the first Vorbis packet, are counted by decoding.
    if (oggPackets && !c.ogg.Holds(c.total, index.size(), st)) {
        trusted = false;
        ChooseDecoder();
    }
    // Nor is one whose rate changes counted off its packets, which
    // tell the frames of each part at its own rate.
    if (trusted && c.durationsKnown && !c.shapes.RateChanges()) {
        Counted(c.total, std::nullopt);
        // Packets whose frames the delay and padding take whole, or AAC
        // packets the edit list drops whole (less than a frame of sound
        // after the encoder's delay), make an empty track.
        trimmedToNothing = c.total == 0 && (c.wholeMPEGFrames > 0 ||
                                            (codecTraits.firstPacketMayPrime && !index.empty() &&
                                             std::all_of(index.begin(), index.end(),
                                                         [](const IndexEntry& e) { return e.priming > 0; })));
        if (DirectPackets())
            packets = std::make_unique<DirectFlacPackets>(*this);
        const OSErr err = DropUndecodableEnd();
        if (err != noErr)
            packets = std::make_unique<DemuxerPackets>(*this);
        return err;
    }
    return CountByDecoding();
}

void TrackIndexer::IndexPacket(CountPass& c)
{
    AVStream* st = c.st;
    const AVRational rate = c.rate;
    dataBytes += UInt64(std::max(packet->size, 0));
    c.shapes.Packet(codecTraits, packet->data, packet->size);
    if (packet->pos >= 0)
        packetsEnd = std::max(packetsEnd, packet->pos + std::max(packet->size, 0));
    if (mpegHeader == 0 && codecTraits.syntax == FrameSyntax::Mpeg && packet->size >= 4) {
        const uint8_t* p = packet->data;
        mpegHeader = (UInt32(p[0]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | p[3];
    }
    if (codecTraits.channelModeChanges && packet->size >= 4 && MPEGFrameBytes(packet->data) > 0 &&
        (packet->data[3] >> 6) != 3)
        c.stereoFrames = true;
    // The decoder's trimming, as the libraries do it: a packet's skip
    // (from its side data) replaces the one pending and is taken from
    // the frames that follow, whole frames first; its end padding is
    // taken only from a frame that holds all of it.
    size_t sideSize = 0;
    const uint8_t* side = av_packet_get_side_data(packet, AV_PKT_DATA_SKIP_SAMPLES, &sideSize);
    UInt64 padding = 0;
    if (side && sideSize >= 10) {
        c.pendingSkip = ReadLE32(side);
        padding = ReadLE32(side + 4);
    }
    IndexEntry entry{packet->pos, packet->dts, c.total,
                     c.pendingSkip == 0 && packet->pos > c.lastPos && packet->pos >= 0};
    entry.bytes = UInt32(std::max(packet->size, 0));
    if (packet->pos >= 0)
        c.lastPos = std::max(c.lastPos, packet->pos);
    if (packet->duration <= 0 && !(packet->flags & AV_PKT_FLAG_DISCARD))
        c.durationsKnown = false;
    UInt64 frames = UInt64(std::max<int64_t>(av_rescale_q(packet->duration, st->time_base, rate), 0));
    // The AAC decoder gives whole frames, whatever the packet's
    // duration says.
    // (Where the stream's information has no frame size, as when its
    // first packet decodes to nothing, the widest packet tells it.)
    if (codecTraits.wholeFrames) {
        c.widestPacket = std::max(c.widestPacket, frames);
        frames = c.frameSize > 0 ? UInt64(c.frameSize) : c.widestPacket;
    }
    // An IMA 4:1 packet that ends inside a block (the file was cut
    // there) holds only its whole blocks: the decoder passes the
    // rest over.
    const int block = st->codecpar->block_align;
    if (codecTraits.cutBlocksDropped && block > 0 && packet->size % block != 0)
        frames = frames * UInt64(packet->size / block) / UInt64((packet->size + block - 1) / block);
    // MPEG audio frames of other sizes than their headers say
    // (MpegFrameSizeRule), FLAC packets of other than one frame
    // (FlacEndRule).
    if (codecTraits.syntax == FrameSyntax::Mpeg)
        if (TrackFinding found; c.mpegSizes.Packet(packet->data, packet->size, frames, index.size(), &found))
            verdict.Take(found);
    if (flac.IsOpen() && containerTraits->nativeFlac)
        if (TrackFinding found; c.flacEnd.Packet(packets->ProvenWhole(), packet->data, packet->size, &found))
            verdict.Take(found);
    c.ogg.Packet(*packet, padding, &frames, &c.durationsKnown);
    if (TrackFinding found; lengthRule->Packet(*packet, &frames, *c.packetTally, &found))
        verdict.Take(found);
    if (index.empty() && c.ogg.FirstPacketPrimes(*packet, &entry, &frames)) {
        // (The first Vorbis packet only primes the decoder.)
    } else if (index.empty() && codecTraits.firstPacketMayPrime && !FirstPacketGivesSound()) {
        c.firstGivesNothing = true;
        c.firstFrames = frames;
        entry.priming = UInt32(std::min<UInt64>(frames, 0xFFFFFFFFu));
        frames = 0;
    } else if (packet->flags & AV_PKT_FLAG_DISCARD) {
        // A packet to be dropped whole takes its share of the skip.
        c.pendingSkip -= std::min(c.pendingSkip, frames);
        entry.priming = UInt32(std::min<UInt64>(frames, 0xFFFFFFFFu));
        frames = 0;
    } else {
        c.wholeMPEGFrames += frames;
        const UInt64 skipped = std::min(frames, c.pendingSkip);
        c.pendingSkip -= skipped;
        entry.trim = UInt32(std::min<UInt64>(skipped, 0xFFFFFFFFu));
        entry.priming = entry.trim;
        frames -= skipped;
        if (padding > 0 && padding <= frames)
            frames -= padding;
    }
    entry.frames = UInt32(std::min<UInt64>(frames, 0xFFFFFFFFu));
    index.push_back(entry);
    c.total += entry.frames;
}

void TrackIndexer::SettleCountRules(CountPass& c)
{
    // A FLAC file whose end is neither its last frame whole nor one
    // broken off by a cut is damaged there.
    if (flac.IsOpen() && containerTraits->nativeFlac && !index.empty())
        if (TrackFinding found; FlacEndRule::Settle(flac, path, index.back().pos, &found))
            verdict.Take(found);
    // A last MPEG audio frame cut short would decode as a whole one:
    // it is no frame of the track.  One inside the track is damage.
    if (c.mpegSizes.LastCut(index.size())) {
        c.total -= index.back().frames;
        c.wholeMPEGFrames -= std::min(c.wholeMPEGFrames, c.mpegSizes.CutFrames());
        index.back().frames = 0;
    }
    if (TrackFinding found; c.mpegSizes.Settle(index.size(), &found))
        verdict.Take(found);
    // An MPEG audio stream that changes its channel mode from a single
    // channel to two is a stereo track: its single-channel frames are
    // given in both channels (UsableFrame).
    if (c.stereoFrames && channels == 1) {
        channels = 2;
        fileLabels = {kAudioChannelLabel_Left, kAudioChannelLabel_Right};
        order = {0, 1};
    }
    if (codecTraits.cutBlocksDropped && containerTraits->commFrames)
        if (TrackFinding found; AiffFrameCountRule::Settle(c.st, c.total, &found))
            verdict.Take(found);
}

OSErr TrackIndexer::CountByDecoding()
{
    trusted = false;
    seekExact = false;
    ChooseDecoder();
    index.clear();
    OSErr err = OpenStreams(false);
    if (err != noErr)
        return err;
    UInt64 decoded = 0;
    tallying = true;
    while (NextFrame()) {
        decoded += UInt64(frameEnd - frameOffset);
        state = ReadState::Idle;
        av_frame_unref(frame);
    }
    tallying = false;
    if (channelsChange)
        return kTrackChannelsChangeErr;
    if (shapeError != noErr)
        return shapeError;
    Counted(decoded, UInt64(packetOrdinal + 1));
    if (decoded == 0 && verdict.Loss().refusedPackets > 0)
        return kUndecodableAudioErr;
    // Packets that all decode, to nothing (an encoder's whole output
    // for no sound), make an empty track.
    trimmedToNothing = decoded == 0 && packetOrdinal >= 0;
    return noErr;
}

void TrackIndexer::Counted(UInt64 frames, std::optional<UInt64> packets)
{
    TrackFinding found("count");
    found.frames = frames;
    found.packets = packets;
    verdict.Take(found);
}

TrackTally TrackIndexer::Tally()
{
    TrackTally tally{path, format, stream, verdict};
    tally.fileBytes = view ? view->Bytes() : FileBytes(path);
    tally.packetsEnd = packetsEnd;
    tally.lastPacketRefused = lastTallied >= 0 && lastTallied == packetOrdinal;
    tally.lastPacketFrames = lastTalliedFrames;
    return tally;
}

UInt64 TrackIndexer::StatedFrames() const
{
    const AVStream* st = format->streams[stream];
    if (format->duration_estimation_method != AVFMT_DURATION_FROM_STREAM || st->duration == AV_NOPTS_VALUE ||
        st->duration <= 0)
        return 0;
    return UInt64(std::max<int64_t>(
        av_rescale_q(st->duration, st->time_base, {1, std::max(st->codecpar->sample_rate, 1)}), 0));
}

bool TrackIndexer::PacketsReachFileEnd() const
{
    const int64_t fileBytes = view ? view->Bytes() : FileBytes(path);
    return fileBytes >= 0 && packetsEnd >= fileBytes;
}

OSErr TrackIndexer::DropUndecodableEnd()
{
    std::size_t last = index.size();
    while (last > 0 && index[last - 1].frames == 0)
        --last;
    if (last == 0)
        return noErr;
    int64_t good = -1;
    for (std::size_t window = 16;; window *= 4) {
        std::size_t from = last > window ? last - window : 0;
        while (from > 0 && !index[from].seekable)
            --from;
        OSErr err = from > 0 ? SeekToPacket(from) : Rewind();
        if (err != noErr && from > 0) {
            // Where the demuxer cannot seek: from the start.
            from = 0;
            err = Rewind();
        }
        if (err != noErr)
            return err;
        while (NextPacket() && packetOrdinal >= 0 && std::size_t(packetOrdinal) < last)
            if (PacketDecodes())
                good = packetOrdinal;
        if (good >= 0)
            break;
        if (from == 0)
            return kUndecodableAudioErr;
    }
    UInt64 dropped = 0;
    UInt64 refused = 0;
    for (std::size_t i = std::size_t(good) + 1; i < last; ++i) {
        dropped += index[i].frames;
        refused += index[i].frames > 0 ? 1 : 0;
        index[i].frames = 0;
        index[i].refused = true;
    }
    if (dropped == 0)
        return noErr;
    TrackFinding found("undecodable end");
    found.frames = verdict.Frames() - std::min(verdict.Frames(), dropped);
    // A cut breaks off one packet; more refused are damage.
    const bool cut = refused == 1 && !verdict.Damaged() && PacketsReachFileEnd();
    if (cut) {
        found.cut = true;
    } else {
        found.added.refusedPackets = refused;
        found.added.missingFrames = dropped;
        found.refusedFrames = dropped;
    }
    found.Say("%llu packets at the end refused, %llu frames: %s", (unsigned long long)refused,
              (unsigned long long)dropped, cut ? "cut" : "lost");
    verdict.Take(found);
    return noErr;
}

bool TrackIndexer::DirectPackets() const
{
    if (!containerTraits->nativeFlac || !flacFrames.IsOpen() || !trusted || view || index.empty() ||
        verdict.Damaged() || verdict.Cut())
        return false;
    for (std::size_t k = 0; k < index.size(); ++k) {
        const IndexEntry& e = index[k];
        if (e.pos < 0 || e.bytes == 0 || (k > 0 && e.pos != index[k - 1].pos + int64_t(index[k - 1].bytes)))
            return false;
    }
    return true;
}

void TrackIndexer::SayDecoder()
{
    const SFTDecodeLoss& loss = verdict.Loss();
    TrackFinding decoder("decoder");
    decoder.Say("%llu packets, %llu refused, %llu frames silenced, %llu missing; %llu frames %s",
                (unsigned long long)loss.packets, (unsigned long long)loss.refusedPackets,
                (unsigned long long)loss.silencedFrames, (unsigned long long)loss.missingFrames,
                (unsigned long long)verdict.Frames(), trusted ? "from the packets" : "decoded");
    verdict.Take(decoder);
}
