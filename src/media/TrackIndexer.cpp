#include "TrackIndexer.h"

#include "FlacFrameDecoder.h"
#include "FlacFrameWalk.h"
#include "FlacLengthRule.h"
#include "FlacStreamCheck.h"
#include "MediaCodes.h"
#include "OggLengthRule.h"
#include "PositionedFile.h"
#include "RateChangeBridge.h"
#include "RawStreamLengthRule.h"
#include "VorbisBlocks.h"
#include "TrackLengthRule.h"
#include "TrackVerdict.h"
#include "error_codes.h"
#include "ByteOrder.h"
#include "codec_traits.h"
#include "library_input.h"
#include "mpeg_audio_frames.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "media_calls.h"

using namespace movie_input;

bool TrackIndexer::FirstPacketGivesSound()
{
    codec->flags2 |= AV_CODEC_FLAG2_SKIP_MANUAL;  // every frame it decodes, whatever the skip
    bool refused = false;
    return SendAndDrain(&refused);
}

OSErr TrackIndexer::Count()
{
    flacDirect = false;
    AVStream* st = format->streams[stream];
    const AVRational rate{1, std::max(st->codecpar->sample_rate, 1)};
    // Packet durations in a time base coarser than the samples (the
    // milliseconds of Matroska and WebM) cannot tell the frames.
    // Opus and Vorbis in an Ogg file whose pages are whole: the packets
    // tell the frames (an Opus packet's duration, from its table of
    // contents; a Vorbis packet's from its mode, VorbisBlocks: the
    // demuxer's durations of those on the last page can be amiss); the
    // demuxer gives the pre-skip and the trim of the end, and the last
    // granule checks the sum (below).
    lengthRule = TrackLengthRule::For(kind, format, stream);
    int64_t oggGranule = -1;
    VorbisBlocks vorbisBlocks;
    int64_t vorbisUnheard = -1;  // where the first Vorbis packet ends
    auto* oggRule = dynamic_cast<OggLengthRule*>(lengthRule.get());
    const AVCodecParameters* par = st->codecpar;
    const bool vorbis = codecID == AV_CODEC_ID_VORBIS && vorbisBlocks.Open(par->extradata, par->extradata_size);
    const bool oggPackets = oggRule && !view && format->nb_streams == 1 &&
                            (codecID == AV_CODEC_ID_OPUS || vorbis) && oggRule->Intact(path, &oggGranule);
    trusted = (Trusted(codecID) || oggPackets) &&
              int64_t(st->time_base.num) * rate.den <= int64_t(st->time_base.den);
    seekExact = trusted && !oggPackets && codecID != AV_CODEC_ID_AAC && codecID != AV_CODEC_ID_MP1 &&
                codecID != AV_CODEC_ID_ADPCM_IMA_QT && codecID != AV_CODEC_ID_ADPCM_IMA_WAV &&
                codecID != AV_CODEC_ID_MP2 &&
                !(codecID == AV_CODEC_ID_MP3 && codec->sample_fmt != AV_SAMPLE_FMT_FLTP &&
                  codec->sample_fmt != AV_SAMPLE_FMT_FLT);
    UInt64 total = 0;
    UInt64 wholeMPEGFrames = 0;  // frames of the packets (MPEG audio: of whole frames), no trim taken
    // The decoder's trimming, as the libraries do it: a packet's skip
    // (from its side data) replaces the one pending and is taken from
    // the frames that follow, whole frames first; its end padding is
    // taken only from a frame that holds all of it.
    UInt64 pendingSkip = 0;
    std::size_t lastShortMPEGFrame = ~std::size_t(0);
    UInt64 lastShortMPEGFrames = 0;
    int64_t lastPos = -1;
    bool durationsKnown = true;
    bool flacOddPacket = false;
    bool firstGivesNothing = false;
    bool stereoFrames = false;  // MPEG audio frames of two channels
    UInt64 firstFrames = 0;
    const int frameSize = codec->frame_size;
    UInt64 widestPacket = 0;
    const TrackTally packetTally = Tally();
    // The shape the first frame header of MPEG audio or ADTS states, and
    // whether later ones state another rate or channel count: a run of
    // a few whole frames of one other shape (a damaged frame's bytes
    // may read as a header of any shape).
    constexpr int kShapeRun = 3;
    int firstRate = 0;
    int firstChannels = 0;
    int runRate = 0;
    int runChannels = 0;
    int run = 0;
    bool rateChanges = false;
    if (kind == ContainerKind::Flac && flacFrames.IsOpen() && !view)
        walked = FlacFrameWalk::Whole(path);
    while (NextPacket()) {
        dataBytes += UInt64(std::max(packet->size, 0));
        int packetRate = 0;
        int channelCount = 0;
        if (RateChangeBridge::PacketShape(codecID, packet->data, packet->size, &packetRate, &channelCount)) {
            if (firstRate == 0) {
                firstRate = packetRate;
                firstChannels = channelCount;
            }
            run = packetRate == runRate && channelCount == runChannels ? run + 1 : 1;
            runRate = packetRate;
            runChannels = channelCount;
            // (MPEG audio frames of one channel in a stereo track are
            // given in both: UsableFrame.)
            if (run >= kShapeRun) {
                rateChanges = rateChanges || packetRate != firstRate;
                channelsChange = channelsChange || (channelCount != firstChannels && !IsMPEGAudio(codecID));
            }
        } else {
            run = 0;
        }
        if (packet->pos >= 0)
            packetsEnd = std::max(packetsEnd, packet->pos + std::max(packet->size, 0));
        if (packet->pos >= 0 && (packetsStart < 0 || packet->pos < packetsStart))
            packetsStart = packet->pos;
        if (mpegHeader == 0 && IsMPEGAudio(codecID) && packet->size >= 4) {
            const uint8_t* p = packet->data;
            mpegHeader = (UInt32(p[0]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | p[3];
        }
        if (IsMPEGAudio(codecID) && packet->size >= 4 && MPEGFrameBytes(packet->data) > 0 &&
            (packet->data[3] >> 6) != 3)
            stereoFrames = true;
        size_t sideSize = 0;
        const uint8_t* side = av_packet_get_side_data(packet, AV_PKT_DATA_SKIP_SAMPLES, &sideSize);
        UInt64 padding = 0;
        if (side && sideSize >= 10) {
            pendingSkip = ReadLE32(side);
            padding = ReadLE32(side + 4);
        }
        IndexEntry entry{packet->pos, packet->dts, total,
                         pendingSkip == 0 && packet->pos > lastPos && packet->pos >= 0};
        entry.bytes = UInt32(std::max(packet->size, 0));
        if (packet->pos >= 0)
            lastPos = std::max(lastPos, packet->pos);
        if (packet->duration <= 0 && !(packet->flags & AV_PKT_FLAG_DISCARD))
            durationsKnown = false;
        UInt64 frames = UInt64(std::max<int64_t>(av_rescale_q(packet->duration, st->time_base, rate), 0));
        // The AAC decoder gives whole frames, whatever the packet's
        // duration says.
        // (Where the stream's information has no frame size, as when its
        // first packet decodes to nothing, the widest packet tells it.)
        if (codecID == AV_CODEC_ID_AAC) {
            widestPacket = std::max(widestPacket, frames);
            frames = frameSize > 0 ? UInt64(frameSize) : widestPacket;
        }
        // An IMA 4:1 packet that ends inside a block (the file was cut
        // there) holds only its whole blocks: the decoder passes the
        // rest over.
        const int block = st->codecpar->block_align;
        if (codecID == AV_CODEC_ID_ADPCM_IMA_QT && block > 0 && packet->size % block != 0)
            frames = frames * UInt64(packet->size / block) / UInt64((packet->size + block - 1) / block);
        // An MPEG audio frame shorter than its header says, or than a
        // header, is one the file was cut inside when it is the last
        // (known below); inside the track, damage the decoder refuses.
        if (IsMPEGAudio(codecID)) {
            const std::size_t stated = packet->size < 4 ? 0 : MPEGFrameBytes(packet->data);
            if (packet->size < 4 || std::size_t(packet->size) < stated) {
                lastShortMPEGFrame = index.size();
                lastShortMPEGFrames = frames;
            }
            else if (std::size_t(packet->size) != stated)
                SeeDamage();  // bytes that are no frame, taken into one
        }
        // A FLAC packet of more or less than one whole frame before the
        // last is damage (FlacStreamCheck::IsOneFrame; the last one
        // EndsCleanly judges).
        if (flac.IsOpen() && kind == ContainerKind::Flac) {
            if (flacOddPacket)
                SeeDamage();
            // (A frame the walk proved whole is one.)
            flacOddPacket = walked.empty() &&
                            !FlacStreamCheck::IsOneFrame(packet->data, std::size_t(std::max(packet->size, 0)));
        }
        // The demuxer shortens the last Ogg packet by its end trim, which
        // the decoder takes from the whole packet (where it holds it: a
        // duration of 1 may stand for a packet trimmed whole or not at all).
        if (oggPackets && codecID == AV_CODEC_ID_OPUS && padding > 0) {
            durationsKnown = durationsKnown && packet->duration > 1;
            frames += padding;
        }
        const int64_t vorbisFrames = oggPackets && codecID == AV_CODEC_ID_VORBIS
                                         ? vorbisBlocks.Next(packet->data, packet->size) : 0;
        if (oggPackets && codecID == AV_CODEC_ID_VORBIS) {
            durationsKnown = durationsKnown && vorbisFrames >= 0;
            frames = UInt64(std::max<int64_t>(vorbisFrames, 0));
        }
        if (TrackFinding found; lengthRule->Packet(*packet, &frames, packetTally, &found))
            verdict.Take(found);
        if (index.empty() && oggPackets && codecID == AV_CODEC_ID_VORBIS) {
            // The first Vorbis packet only primes the decoder.
            vorbisUnheard = packet->pts == AV_NOPTS_VALUE || packet->pts > 0 || packet->duration <= 0
                                ? 0 : packet->pts + packet->duration;
            entry.priming = UInt32(std::clamp<int64_t>(packet->duration, 0, 0xFFFFFFFF));
            frames = 0;
        } else if (index.empty() && codecID == AV_CODEC_ID_AAC && !FirstPacketGivesSound()) {
            firstGivesNothing = true;
            firstFrames = frames;
            entry.priming = UInt32(std::min<UInt64>(frames, 0xFFFFFFFFu));
            frames = 0;
        } else if (packet->flags & AV_PKT_FLAG_DISCARD) {
            // A packet to be dropped whole takes its share of the skip.
            pendingSkip -= std::min(pendingSkip, frames);
            entry.priming = UInt32(std::min<UInt64>(frames, 0xFFFFFFFFu));
            frames = 0;
        } else {
            wholeMPEGFrames += frames;
            const UInt64 skipped = std::min(frames, pendingSkip);
            pendingSkip -= skipped;
            entry.trim = UInt32(std::min<UInt64>(skipped, 0xFFFFFFFFu));
            entry.priming = entry.trim;
            frames -= skipped;
            if (padding > 0 && padding <= frames)
                frames -= padding;
        }
        entry.frames = UInt32(std::min<UInt64>(frames, 0xFFFFFFFFu));
        index.push_back(entry);
        total += entry.frames;
    }
    walked = {};
    av_packet_unref(packet);
    {
        TrackFinding found("packets");
        found.packets = index.size();
        verdict.Take(found);
    }
    // A stream of that one packet holds no sound: it is no priming.
    if (firstGivesNothing && index.size() == 1) {
        index[0].frames = UInt32(std::min<UInt64>(firstFrames, 0xFFFFFFFFu));
        total += index[0].frames;
        wholeMPEGFrames += firstFrames;
    }
    // A FLAC file whose end is neither its last frame whole nor one
    // broken off by a cut is damaged there.
    if (flac.IsOpen() && kind == ContainerKind::Flac && !index.empty() && !flac.EndsCleanly(path, index.back().pos)) {
        TrackFinding found("FLAC frames");
        found.damaged = true;
        found.Say("the last frame is neither whole nor broken off by the file's end: damaged");
        verdict.Take(found);
    }
    // A last MPEG audio frame cut short would decode as a whole one:
    // it is no frame of the track.  One inside the track is damage.
    if (!index.empty() && lastShortMPEGFrame == index.size() - 1) {
        total -= index.back().frames;
        wholeMPEGFrames -= std::min(wholeMPEGFrames, lastShortMPEGFrames);
        index.back().frames = 0;
        TrackFinding found("MPEG frame sizes");
        found.cut = true;
        found.Say("the last frame is shorter than its header says: cut");
        verdict.Take(found);
    } else if (lastShortMPEGFrame != ~std::size_t(0)) {
        TrackFinding found("MPEG frame sizes");
        found.damaged = true;
        found.Say("a frame inside the track is shorter than its header says: damaged");
        verdict.Take(found);
    }
    // An MPEG audio stream that changes its channel mode from a single
    // channel to two is a stereo track: its single-channel frames are
    // given in both channels (UsableFrame).
    if (stereoFrames && channels == 1) {
        channels = 2;
        fileLabels = {kAudioChannelLabel_Left, kAudioChannelLabel_Right};
        order = {0, 1};
    }
    // AIFF-C files of IMA 4:1 say how long their track is (the frame
    // count of 'COMM'): fewer frames in the packets mean the file was
    // cut short.
    if (codecID == AV_CODEC_ID_ADPCM_IMA_QT && kind == ContainerKind::Aiff && st->duration > 0
        && UInt64(av_rescale_q(st->duration, st->time_base, rate)) > total) {
        TrackFinding found("AIFF-C frame count");
        found.cut = true;
        found.Say("states %llu frames, the packets hold %llu: cut",
                  (unsigned long long)av_rescale_q(st->duration, st->time_base, rate), (unsigned long long)total);
        verdict.Take(found);
    }
    // A track whose channel count changes is not read as one.
    if (channelsChange)
        return kTrackChannelsChangeErr;
    // Ogg packets whose sum is not what the last granule states, less
    // the pre-skip or the first Vorbis packet, are counted by decoding.
    if (oggPackets && ((codecID == AV_CODEC_ID_VORBIS && index.size() < 2) ||
                       int64_t(total) + (codecID == AV_CODEC_ID_OPUS ? std::max(st->codecpar->initial_padding, 0)
                                                                    : vorbisUnheard) != oggGranule))
        trusted = false;
    // Nor is one whose rate changes counted off its packets, which
    // tell the frames of each part at its own rate.
    if (trusted && durationsKnown && !rateChanges) {
        Counted(total, std::nullopt);
        trimmedToNothing = total == 0 && wholeMPEGFrames > 0;
        flacDirect = DirectPackets();
        const OSErr err = DropUndecodableEnd();
        flacDirect = flacDirect && err == noErr;
        return err;
    }
    // Count by decoding.
    trusted = false;
    seekExact = false;
    index.clear();
    OSErr err = OpenStreams(false);
    if (err != noErr)
        return err;
    UInt64 decoded = 0;
    tallying = true;
    while (NextFrame()) {
        decoded += UInt64(frameEnd - frameOffset);
        framePending = false;
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
    if (kind != ContainerKind::Flac || !flacFrames.IsOpen() || !trusted || view || index.empty() ||
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
