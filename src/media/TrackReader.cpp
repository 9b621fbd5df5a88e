#include "TrackReader.h"

#include "FrameDecoder.h"
#include "PacketSource.h"
#include "sample_conversion.h"
#include "TrackVerdict.h"

#include <algorithm>

#include "MediaLibraries.h"

using namespace movie_input;

TrackReader::TrackReader(PacketSource& packets, FrameDecoder& decoder, const std::vector<IndexEntry>& index,
                         TrackVerdict& verdict, const Plan& plan, const FlacStreamCheck& signature)
    : packets_(packets), decoder_(decoder), index_(index), verdict_(verdict), plan_(plan), flac_(signature),
      frames_(packets, decoder, plan.shape, plan.codec, plan.otherRateIsDamage, 0)
{
    order_.resize(plan.shape.channels);
    for (UInt32 c = 0; c < plan.shape.channels; ++c)
        order_[c] = int(c);
    refused_.resize(index.size());
    for (std::size_t k = 0; k < index.size(); ++k)
        refused_[k] = index[k].refused;
}

void TrackReader::SetClipCountWindow(UInt64 from, UInt64 to)
{
    clipWindowFrom_ = from;
    clipWindowTo_ = std::max(from, to);
}

OSErr TrackReader::Start()
{
    Reset();
    // Past the delay of a lagged stream (its frame 0 is the first
    // sample after it).
    if (plan_.startSkip > 0) {
        if (const OSErr err = Skip(plan_.startSkip); err != noErr)
            return err;
        position_ = 0;
    }
    return noErr;
}

OSErr TrackReader::Rewind()
{
    if (const OSErr err = packets_.Rewind(); err != noErr)
        return err;
    if (const OSErr err = decoder_.Restart(); err != noErr)
        return err;
    return Start();
}

void TrackReader::Reset()
{
    frames_.Reset();
    position_ = silence_ = 0;
    frameOffset_ = frameEnd_ = 0;
    frame_ = nullptr;
    state_ = State::Idle;
    inPacket_ = false;
    decoder_.Reset();
}

bool TrackReader::NextPiece()
{
    silence_ = 0;
    state_ = State::Idle;
    if (plan_.indexed)
        return NextIndexedPiece();
    const AVFrame* frame = frames_.Next();
    return frame && Pending(frame);
}

bool TrackReader::NextIndexedPiece()
{
    for (;;) {
        if (!inPacket_) {
            const std::optional<Packet> packet = packets_.Next();
            if (!packet || packet->ordinal < 0 || std::size_t(packet->ordinal) >= index_.size())
                return false;
            packet_ = std::size_t(packet->ordinal);
            const IndexEntry& entry = index_[packet_];
            packetSkip_ = entry.trim;
            packetLeft_ = entry.frames;
            packetGave_ = false;
            packetShort_ = false;
            inPacket_ = decoder_.Send(*packet) >= 0;
            packetFailed_ = !inPacket_;
        }
        bool refused = false;
        bool channelsChange = false;
        AVFrame* frame = nullptr;
        if (inPacket_ && plan_.shape.Receive(decoder_, &frame, &refused, &channelsChange)) {
            // A packet of a codec whose packets state their frames exactly
            // that decodes to fewer is refused whole: what it gave cannot
            // be trusted (a decoder that stops inside a packet may give the
            // rest of its frame unwritten).
            if (packetShort_ || (plan_.codec.exactDurations && plan_.codec.framePerPacket && !packetGave_ &&
                                 UInt64(frame->nb_samples) < packetSkip_ + packetLeft_)) {
                packetShort_ = true;
                packetFailed_ = true;
                continue;
            }
            packetGave_ = true;
            const UInt64 samples = UInt64(frame->nb_samples);
            const UInt64 skipped = std::min(samples, packetSkip_);
            const UInt64 taken = std::min(samples - skipped, packetLeft_);
            packetSkip_ -= skipped;
            packetLeft_ -= taken;
            if (taken == 0)
                continue;
            frame_ = frame;
            frameOffset_ = int(skipped);
            frameEnd_ = int(skipped + taken);
            state_ = State::Frame;
            return true;
        }
        // The packet is done: what it did not give is silence.
        if (packetGave_ && refused)
            SeeDamage();
        packetFailed_ = packetFailed_ || refused;
        inPacket_ = false;
        // A packet of the stream's delay alone that the decoder refuses
        // leaves it unprimed for the sound that follows: the frames it
        // stood for are lost.  (One that decodes to nothing only primes
        // it: the count knows it as such.)
        const IndexEntry& entry = index_[packet_];
        if (!packetGave_ && packetFailed_ && entry.frames == 0 && entry.priming > 0 && !refused_[packet_]) {
            refused_[packet_] = true;
            TrackFinding found("decoder");
            found.added.refusedPackets = 1;
            found.added.missingFrames = entry.priming;
            found.refusedFrames = entry.priming;
            verdict_.Take(found);
        }
        if (packetLeft_ > 0) {
            NoteRefused(packet_, packetLeft_);
            silence_ = packetLeft_;
            state_ = State::Silence;
            packetLeft_ = 0;
            return true;
        }
    }
}

bool TrackReader::Pending(const AVFrame* frame)
{
    frame_ = frame;
    frameOffset_ = 0;
    frameEnd_ = frame->nb_samples;
    state_ = State::Frame;
    return true;
}

void TrackReader::NoteRefused(std::size_t k, UInt64 silenced)
{
    if (refused_[k])
        return;
    refused_[k] = true;
    TrackFinding found("decoder");
    found.added.refusedPackets = 1;
    found.added.silencedFrames = silenced;
    verdict_.Take(found);
}

void TrackReader::SeeDamage()
{
    TrackFinding found("decoder");
    found.damaged = true;
    verdict_.Take(found);
}

OSErr TrackReader::Seek(UInt64 target)
{
    if (target == position_)
        return noErr;
    // Ahead within reach, or ahead in a stream whose decoder carries
    // state from the start: decode on.
    if (target > position_ &&
        (!plan_.seekExact || target - position_ < UInt64(plan_.shape.rate) * 4 + 65536))
        return Skip(target - position_);
    if (plan_.seekExact && !index_.empty()) {
        // The last seekable packet at or before the target, then back
        // far enough for the decoder to settle.
        std::size_t i = index_.size();
        while (i > 0 && !(index_[i - 1].seekable && index_[i - 1].start <= target))
            --i;
        if (i > 0) {
            std::size_t k = i - 1;
            const int64_t wantBytes = 4096;
            std::size_t back = 0;
            while (k > 0 && (back < 8 || (index_[k].pos >= 0 && index_[i - 1].pos - index_[k].pos < wantBytes))) {
                --k;
                ++back;
            }
            while (k > 0 && !index_[k].seekable)
                --k;
            if (index_[k].seekable && SeekToPacket(k) == noErr)
                return Skip(target - position_);
        }
    }
    // From the start.
    const OSErr err = Rewind();
    if (err != noErr)
        return err;
    return Skip(target);
}

OSErr TrackReader::SeekToPacket(std::size_t k)
{
    const IndexEntry& e = index_[k];
    if (e.start == 0 && k == 0)
        return Rewind();
    if (!packets_.SeekTo(k, e))
        return ioErr;
    // The index trims the decoded frames, as from the start.
    decoder_.Flush();
    Reset();
    position_ = e.start;
    return noErr;
}

UInt64 TrackReader::Advance(SInt32* const* out, UInt64 frames)
{
    const UInt32 channels = plan_.shape.channels;
    UInt64 done = 0;
    while (done < frames) {
        if (state_ == State::Idle && !NextPiece())
            state_ = State::Finished;
        if (state_ == State::Finished)
            break;
        if (state_ == State::Frame) {
            const UInt64 take = std::min<UInt64>(UInt64(frameEnd_ - frameOffset_), frames - done);
            // Each frame of the track is counted for clipping once,
            // however often it is decoded.
            const UInt64 at = position_ + done;
            const UInt64 end = std::max(at, std::min(at + take, clipWindowTo_));
            const UInt64 first = std::min(std::max({clipCountedTo_, at, clipWindowFrom_}), end);
            if (out) {
                const int frameChannels = frame_->ch_layout.nb_channels;
                for (UInt32 c = 0; c < channels; ++c)
                    ConvertChannel(frame_, std::min(order_[c], frameChannels - 1), frameChannels, frameOffset_,
                                   UInt32(take), out[c] + done, UInt32(first - at), UInt32(end - at));
                clipCountedTo_ = std::max(clipCountedTo_, end);
            }
            flac_.TakeDecoded(position_ + done, frame_, frameOffset_, int(take));
            frameOffset_ += int(take);
            done += take;
            if (frameOffset_ >= frameEnd_)
                state_ = State::Idle;
        } else {
            const UInt64 take = std::min(silence_, frames - done);
            if (out)
                for (UInt32 c = 0; c < channels; ++c)
                    std::fill(out[c] + done, out[c] + done + take, 0);
            flac_.TakeSilence(position_ + done, take);
            silence_ -= take;
            done += take;
            if (silence_ == 0)
                state_ = State::Idle;
        }
    }
    position_ += done;
    if (flac_.SignatureMismatch() != verdict_.Loss().checksumMismatch) {
        TrackFinding found("FLAC signature");
        found.checksumMismatch = flac_.SignatureMismatch();
        verdict_.Take(found);
    }
    return done;
}

OSErr TrackReader::Skip(UInt64 frames)
{
    const UInt64 moved = Advance(nullptr, frames);
    position_ += frames - moved;
    return noErr;
}

OSErr TrackReader::Read(SInt32* const* out, UInt32 frames, UInt32* delivered)
{
    const UInt64 limit = verdict_.Frames() > position_ ? verdict_.Frames() - position_ : 0;
    if (frames > limit)
        frames = UInt32(limit);
    const UInt64 done = Advance(out, frames);
    if (frames_.ShapeError() != noErr)
        return frames_.ShapeError();
    if (done < frames) {
        // The decoder gave fewer frames than counted (the file changed
        // since it was opened): silence, said as such.
        for (UInt32 c = 0; c < plan_.shape.channels; ++c)
            std::fill(out[c] + done, out[c] + frames, 0);
        TrackFinding found("decoder");
        found.added.silencedFrames = frames - done;
        verdict_.Take(found);
        position_ += frames - done;
    }
    *delivered = frames;
    return noErr;
}
