#include "TrackCount.h"

#include "AiffFrameCountRule.h"
#include "CoreAudioTypes.h"
#include "DecodedFrames.h"
#include "DemuxerPackets.h"
#include "error_codes.h"
#include "FrameDecoder.h"
#include "LengthComparison.h"
#include "mpeg_audio_frames.h"
#include "PacketSource.h"
#include "WaveFactRule.h"

#include <algorithm>

#include "media_calls.h"

using namespace movie_input;

TrackCount::TrackCount(const TrackDescription& track, std::unique_ptr<TrackLengthRule> rule,
                       const DemuxerPackets* input)
    : track_(track), rule_(std::move(rule)), input_(input), verdict_(track.path)
{
    shape_ = {track.channels, track.TrackRate(), track.codec.channelModeChanges};
    // Opus and Vorbis in an Ogg file whose pages are whole: the packets
    // tell the frames (OggPacketTrust).  Packet durations in a time base
    // coarser than the samples (the milliseconds of Matroska and WebM)
    // cannot tell the frames.
    oggPackets_ = ogg_.Open(rule_.get(), track.path, track.viewed, track.streams, track.codec.ogg, Stream());
    trusted_ = (track.codec.exactDurations || oggPackets_) &&
               int64_t(track.timeBaseNum) * std::max(track.streamRate, 1) <= int64_t(track.timeBaseDen);
    seekExact_ = trusted_ && !oggPackets_ &&
                 (track.codec.seek == SeekSettling::Settles ||
                  (track.codec.seek == SeekSettling::WithFloatDecoder && track.decoderFloats));
}

const AVFormatContext* TrackCount::Format() const
{
    return input_ ? input_->Format() : nullptr;
}

int TrackCount::StreamIndex() const
{
    return input_ ? input_->StreamIndex() : 0;
}

const AVStream* TrackCount::Stream() const
{
    return input_ ? input_->Stream() : nullptr;
}

void TrackCount::Take(const TrackFinding& found)
{
    if (found.stated)
        lengths_.stated.push_back({found.rule, *found.stated});
    verdict_.Take(found);
}

void TrackCount::IndexPackets(PacketSource& packets, FrameDecoder* decoder)
{
    packetTally_ = std::make_unique<TrackTally>(Tally());
    while (const std::optional<Packet> packet = packets.Next())
        IndexPacket(*packet, decoder);
}

void TrackCount::IndexPacket(const Packet& packet, FrameDecoder* decoder)
{
    const CodecTraits& codec = track_.codec;
    learned_.dataBytes += UInt64(std::max(packet.size, 0));
    shapes_.Packet(codec, packet.data, packet.size);
    if (packet.pos >= 0)
        learned_.packetsEnd = std::max(learned_.packetsEnd, packet.pos + std::max(packet.size, 0));
    if (mpegHeader_ == 0 && codec.syntax == FrameSyntax::Mpeg && packet.size >= 4) {
        const uint8_t* p = packet.data;
        mpegHeader_ = (UInt32(p[0]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | p[3];
    }
    if (codec.channelModeChanges && packet.size >= 4 && MPEGFrameBytes(packet.data) > 0 &&
        (packet.data[3] >> 6) != 3)
        stereoFrames_ = true;
    // The decoder's trimming, as the libraries do it: a packet's skip
    // (from its side data) replaces the one pending and is taken from
    // the frames that follow, whole frames first; its end padding is
    // taken only from a frame that holds all of it.
    UInt64 padding = 0;
    if (packet.skipStated) {
        pendingSkip_ = packet.skip;
        padding = packet.padding;
    }
    IndexEntry entry{packet.pos, packet.dts, total_, pendingSkip_ == 0 && packet.pos > lastPos_ && packet.pos >= 0};
    entry.bytes = UInt32(std::max(packet.size, 0));
    if (packet.pos >= 0)
        lastPos_ = std::max(lastPos_, packet.pos);
    if (packet.duration <= 0 && !packet.discard)
        durationsKnown_ = false;
    UInt64 frames = packet.frames;
    if (frames > 0)
        ++durations_[frames];
    // The AAC decoder gives whole frames, whatever the packet's
    // duration says.
    // (Where the stream's information has no frame size, as when its
    // first packet decodes to nothing, the widest packet tells it.)
    if (codec.wholeFrames) {
        widestPacket_ = std::max(widestPacket_, frames);
        frames = track_.decoderFrameSize > 0 ? UInt64(track_.decoderFrameSize) : widestPacket_;
    }
    // An IMA 4:1 packet that ends inside a block (the file was cut
    // there) holds only its whole blocks: the decoder passes the
    // rest over.
    const int block = track_.blockAlign;
    if (codec.cutBlocksDropped && block > 0 && packet.size % block != 0)
        frames = frames * UInt64(packet.size / block) / UInt64((packet.size + block - 1) / block);
    // MPEG audio frames of other sizes than their headers say
    // (MpegFrameSizeRule), FLAC packets of other than one frame
    // (FlacEndRule).
    if (codec.syntax == FrameSyntax::Mpeg)
        if (TrackFinding found; mpegSizes_.Packet(packet.data, packet.size, frames, index_.size(), &found))
            Take(found);
    if (track_.flac.IsOpen() && track_.container->nativeFlac)
        if (TrackFinding found; flacEnd_.Packet(packet.provenWhole, packet.data, packet.size, &found))
            Take(found);
    ogg_.Packet(packet, padding, &frames, &durationsKnown_);
    if (TrackFinding found; rule_->Packet(packet, &frames, *packetTally_, &found))
        Take(found);
    const UInt64 coded = frames;
    if (index_.empty() && ogg_.FirstPacketPrimes(packet, &entry, &frames)) {
        // (The first Vorbis packet only primes the decoder.)
    } else if (index_.empty() && codec.firstPacketMayPrime && !FirstPacketGivesSound(packet, decoder)) {
        firstGivesNothing_ = true;
        firstFrames_ = frames;
        entry.priming = UInt32(std::min<UInt64>(frames, 0xFFFFFFFFu));
        frames = 0;
    } else if (packet.discard) {
        // A packet to be dropped whole takes its share of the skip.
        pendingSkip_ -= std::min(pendingSkip_, frames);
        entry.priming = UInt32(std::min<UInt64>(frames, 0xFFFFFFFFu));
        frames = 0;
    } else {
        wholeMPEGFrames_ += frames;
        const UInt64 skipped = std::min(frames, pendingSkip_);
        pendingSkip_ -= skipped;
        entry.trim = UInt32(std::min<UInt64>(skipped, 0xFFFFFFFFu));
        entry.priming = entry.trim;
        frames -= skipped;
        if (padding > 0 && padding <= frames)
            frames -= padding;
    }
    lengths_.trimmed += coded - frames;
    entry.frames = UInt32(std::min<UInt64>(frames, 0xFFFFFFFFu));
    index_.push_back(entry);
    total_ += entry.frames;
}

bool TrackCount::FirstPacketGivesSound(const Packet& packet, FrameDecoder* decoder)
{
    if (!decoder)
        return true;
    decoder->TrimNothing();  // every frame it decodes, whatever the skip
    bool refused = false;
    return SendAndDrain(*decoder, packet, &refused);
}

bool TrackCount::SendAndDrain(FrameDecoder& decoder, const Packet& packet, bool* refused)
{
    *refused = false;
    if (decoder.Send(packet) < 0)
        return false;
    bool any = false;
    AVFrame* frame = nullptr;
    while (shape_.Receive(decoder, &frame, refused, &channelsChange_))
        any = true;
    return any;
}

OSErr TrackCount::SettlePackets()
{
    {
        TrackFinding found("packets");
        found.packets = index_.size();
        Take(found);
    }
    // A stream of that one packet holds no sound: it is no priming.
    if (firstGivesNothing_ && index_.size() == 1) {
        index_[0].frames = UInt32(std::min<UInt64>(firstFrames_, 0xFFFFFFFFu));
        total_ += index_[0].frames;
        lengths_.trimmed -= std::min(lengths_.trimmed, firstFrames_);
        wholeMPEGFrames_ += firstFrames_;
    }
    // A FLAC file whose end is neither its last frame whole nor one
    // broken off by a cut is damaged there.
    if (track_.flac.IsOpen() && track_.container->nativeFlac && !index_.empty())
        if (TrackFinding found; FlacEndRule::Settle(track_.flac, track_.path, index_.back().pos, &found))
            Take(found);
    // A last MPEG audio frame cut short would decode as a whole one:
    // it is no frame of the track.  One inside the track is damage.
    if (mpegSizes_.LastCut(index_.size())) {
        total_ -= index_.back().frames;
        wholeMPEGFrames_ -= std::min(wholeMPEGFrames_, mpegSizes_.CutFrames());
        index_.back().frames = 0;
    }
    if (TrackFinding found; mpegSizes_.Settle(index_.size(), &found))
        Take(found);
    // An MPEG audio stream that changes its channel mode from a single
    // channel to two is a stereo track: its single-channel frames are
    // given in both channels (FrameShape::Usable).
    if (stereoFrames_ && shape_.channels == 1) {
        learned_.channels = 2;
        shape_.channels = 2;
    }
    if (track_.codec.cutBlocksDropped && track_.container->commFrames)
        if (TrackFinding found; AiffFrameCountRule::Settle(Stream(), total_, &found))
            Take(found);
    // A track whose channel count changes is not read as one.
    channelsChange_ = channelsChange_ || shapes_.ChannelsChange() || ogg_.ChannelsChange();
    if (channelsChange_)
        return kTrackChannelsChangeErr;
    if (ogg_.WordLengthChanges())
        return kTrackWordLengthChangesErr;
    if (ogg_.RateNoTypeHolds())
        return kTrackRateChangesErr;
    // Ogg packets whose sum is not what the last granule states, less
    // the pre-skip or the first Vorbis packet, are counted by decoding.
    if (oggPackets_ && !ogg_.Holds(total_, index_.size(), Stream()))
        trusted_ = false;
    return noErr;
}

bool TrackCount::CountedFromPackets() const
{
    // Nor is one whose rate changes counted off its packets, which
    // tell the frames of each part at its own rate.
    return trusted_ && durationsKnown_ && !shapes_.RateChanges();
}

void TrackCount::TakePacketCount()
{
    Counted(total_, std::nullopt);
    // Packets whose frames the delay and padding take whole, or AAC
    // packets the edit list drops whole (less than a frame of sound
    // after the encoder's delay), make an empty track.
    learned_.trimmedToNothing =
        total_ == 0 && (wholeMPEGFrames_ > 0 ||
                        (track_.codec.firstPacketMayPrime && !index_.empty() &&
                         std::all_of(index_.begin(), index_.end(), [](const IndexEntry& e) { return e.priming > 0; })));
}

bool TrackCount::ReadsStraight() const
{
    if (!track_.container->nativeFlac || !trusted_ || track_.viewed || index_.empty() || verdict_.Damaged() ||
        verdict_.Cut())
        return false;
    for (std::size_t k = 0; k < index_.size(); ++k) {
        const IndexEntry& e = index_[k];
        if (e.pos < 0 || e.bytes == 0 || (k > 0 && e.pos != index_[k - 1].pos + int64_t(index_[k - 1].bytes)))
            return false;
    }
    return true;
}

OSErr TrackCount::SeekToPacket(PacketSource& packets, FrameDecoder& decoder, std::size_t k)
{
    const IndexEntry& e = index_[k];
    if (e.start == 0 && k == 0)
        return Rewind(packets, decoder);
    if (!packets.SeekTo(k, e))
        return ioErr;
    decoder.Flush();
    decoder.Reset();
    return noErr;
}

OSErr TrackCount::Rewind(PacketSource& packets, FrameDecoder& decoder)
{
    if (const OSErr err = packets.Rewind(); err != noErr)
        return err;
    if (const OSErr err = decoder.Restart(); err != noErr)
        return err;
    decoder.Reset();
    return noErr;
}

OSErr TrackCount::DropUndecodableEnd(PacketSource& packets, FrameDecoder& decoder)
{
    std::size_t last = index_.size();
    while (last > 0 && index_[last - 1].frames == 0)
        --last;
    if (last == 0)
        return noErr;
    int64_t good = -1;
    for (std::size_t window = 16;; window *= 4) {
        std::size_t from = last > window ? last - window : 0;
        while (from > 0 && !index_[from].seekable)
            --from;
        OSErr err = from > 0 ? SeekToPacket(packets, decoder, from) : Rewind(packets, decoder);
        if (err != noErr && from > 0) {
            // Where the demuxer cannot seek: from the start.
            from = 0;
            err = Rewind(packets, decoder);
        }
        if (err != noErr)
            return err;
        for (std::optional<Packet> packet; (packet = packets.Next()) && packet->ordinal >= 0 &&
                                            std::size_t(packet->ordinal) < last;) {
            bool refused = false;
            const bool any = SendAndDrain(decoder, *packet, &refused);
            // A packet the decoder took in part and refused the rest of:
            // the track is damaged there.
            if (any && refused) {
                TrackFinding found("decoder");
                found.damaged = true;
                Take(found);
            }
            if (any)
                good = packet->ordinal;
        }
        if (good >= 0)
            break;
        if (from == 0)
            return kUndecodableAudioErr;
    }
    UInt64 dropped = 0;
    UInt64 refused = 0;
    for (std::size_t i = std::size_t(good) + 1; i < last; ++i) {
        dropped += index_[i].frames;
        refused += index_[i].frames > 0 ? 1 : 0;
        index_[i].frames = 0;
        index_[i].refused = true;
    }
    if (dropped == 0)
        return noErr;
    TrackFinding found("undecodable end");
    found.frames = verdict_.Frames() - std::min(verdict_.Frames(), dropped);
    // A cut breaks off one packet; more refused are damage.
    const bool cut = refused == 1 && !verdict_.Damaged() && PacketsReachFileEnd();
    if (cut) {
        found.cut = true;
    } else {
        found.added.refusedPackets = refused;
        found.added.missingFrames = dropped;
        found.refusedFrames = dropped;
    }
    found.Say("%llu packets at the end refused, %llu frames: %s", (unsigned long long)refused,
              (unsigned long long)dropped, cut ? "cut" : "lost");
    Take(found);
    return noErr;
}

void TrackCount::BeginDecodingCount()
{
    trusted_ = false;
    seekExact_ = false;
    index_.clear();
}

OSErr TrackCount::CountByDecoding(PacketSource& packets, FrameDecoder& decoder)
{
    DecodedFrames frames(packets, decoder, shape_, track_.codec,
                         track_.codec.streamInfo && track_.container->nativeFlac,
                         track_.streamFrameSize > 0 ? UInt64(track_.streamFrameSize) : track_.framesPerPacket);
    frames.CountRefusals(&verdict_);
    UInt64 decoded = 0;
    while (const AVFrame* frame = frames.Next()) {
        decoded += UInt64(frame->nb_samples);
        ++decodedSizes_[UInt64(frame->nb_samples)];
    }
    lastPacketRefused_ = frames.LastPacketRefused();
    lastPacketFrames_ = frames.LastRefusedFrames();
    if (channelsChange_ || frames.ChannelsChanged())
        return kTrackChannelsChangeErr;
    if (frames.ShapeError() != noErr)
        return frames.ShapeError();
    Counted(decoded, frames.PacketsRead());
    if (decoded == 0 && verdict_.Loss().refusedPackets > 0)
        return kUndecodableAudioErr;
    // Packets that all decode, to nothing (an encoder's whole output
    // for no sound), make an empty track.
    learned_.trimmedToNothing = decoded == 0 && frames.PacketsRead() > 0;
    return noErr;
}

void TrackCount::Counted(UInt64 frames, std::optional<UInt64> packets)
{
    TrackFinding found("count");
    found.frames = frames;
    found.packets = packets;
    Take(found);
}

TrackTally TrackCount::Tally() const
{
    TrackTally tally{track_.path, Format(), StreamIndex(), verdict_};
    tally.fileBytes = track_.fileBytes;
    tally.packetsEnd = learned_.packetsEnd;
    tally.lastPacketRefused = lastPacketRefused_;
    tally.lastPacketFrames = lastPacketFrames_;
    return tally;
}

bool TrackCount::PacketsReachFileEnd() const
{
    return track_.fileBytes >= 0 && learned_.packetsEnd >= track_.fileBytes;
}

UInt64 TrackCount::LongestPacket(const std::map<UInt64, UInt64>& durations)
{
    // The longest duration many packets state (a damaged packet may state
    // the time of a gap), else the one most state.
    UInt64 packets = 0, most = 0, longest = 0, usual = 0;
    for (const auto& [frames, count] : durations)
        packets += count;
    for (const auto& [frames, count] : durations) {
        if (count >= std::max<UInt64>(2, packets / 100))
            longest = frames;
        if (count > most) {
            most = count;
            usual = frames;
        }
    }
    return longest > 0 ? longest : usual;
}

void TrackCount::SayDecoder()
{
    const SFTDecodeLoss& loss = verdict_.Loss();
    TrackFinding decoder("decoder");
    decoder.Say("%llu packets, %llu refused, %llu frames silenced, %llu missing; %llu frames %s",
                (unsigned long long)loss.packets, (unsigned long long)loss.refusedPackets,
                (unsigned long long)loss.silencedFrames, (unsigned long long)loss.missingFrames,
                (unsigned long long)verdict_.Frames(), trusted_ ? "from the packets" : "decoded");
    Take(decoder);
}

void TrackCount::Settle()
{
    // A compressed WAVE stream ends where its 'fact' chunk says
    // (WaveFactRule).
    if (track_.container->factChunk && track_.dataFormat != kAudioFormatLinearPCM)
        Take(WaveFactRule::Settle(track_.path, track_.codec, verdict_.Frames(), &learned_.startSkip));
    // What the container states of the track's length, against the
    // frames counted: a cut, or sound lost (TrackLengthRule).
    SayDecoder();
    Take(rule_->Settle(Tally()));
    // Every length stated, against the frames delivered (LengthComparison).
    lengths_.streamDuration = track_.statedFrames;
    lengths_.delivered = verdict_.Frames();
    lengths_.otherRates = shapes_.RateChanges();
    // (Durations in a coarse time base may fall short of the frames a
    // decoder gives for a packet.)
    lengths_.packetFrames = std::max(LongestPacket(durations_), LongestPacket(decodedSizes_));
    if (lengths_.packetFrames == 0)
        lengths_.packetFrames = track_.streamFrameSize > 0 ? UInt64(track_.streamFrameSize) : track_.framesPerPacket;
    Take(LengthComparison::Settle(lengths_, verdict_, track_.fileBytes));
    verdict_.Close();
}

CountResult TrackCount::Result() &&
{
    CountResult result;
    result.index = std::move(index_);
    result.indexed = trusted_;
    result.seekExact = seekExact_;
    learned_.firstMpegHeader = mpegHeader_;
    result.learned = learned_;
    lengths_.packets = verdict_.Loss().packets;
    result.lengths = std::move(lengths_);
    result.verdict = std::move(verdict_);
    return result;
}
