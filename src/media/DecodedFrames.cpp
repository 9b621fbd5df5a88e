#include "DecodedFrames.h"

#include "error_codes.h"
#include "FrameDecoder.h"
#include "PacketSource.h"
#include "TrackVerdict.h"

#include "media_calls.h"

DecodedFrames::DecodedFrames(PacketSource& packets, FrameDecoder& decoder, const FrameShape& shape,
                             const CodecTraits& codec, bool otherRateIsDamage, UInt64 packetFrames)
    : packets_(packets), decoder_(decoder), shape_(shape), codec_(codec), otherRateIsDamage_(otherRateIsDamage),
      packetFrames_(packetFrames)
{
}

DecodedFrames::~DecodedFrames()
{
    if (bridged_)
        av_frame_free(&bridged_);
}

void DecodedFrames::Reset()
{
    bridge_.reset();
    flushed_ = sentGaveNothing_ = gaveFrame_ = false;
    current_ = Sent();
    decoderSkip_ = 0;
}

AVFrame* DecodedFrames::Next()
{
    for (;;) {
        if (bridge_ && bridge_->Take(bridged_))
            return bridged_;
        AVFrame* frame = nullptr;
        const int rc = decoder_.Receive(&frame);
        if (rc == 0) {
            if (!shape_.Usable(frame, &channelsChange_))
                continue;
            if (shape_.OtherRate(frame) && otherRateIsDamage_) {
                TallyRefused();
                continue;
            }
            sentGaveNothing_ = false;
            gaveFrame_ = true;
            decoderSkip_ = 0;  // what is left of it was taken from this frame
            // From the first frame at another rate on, every frame goes
            // through the bridge, in order.
            if (!bridge_ && shape_.OtherRate(frame)) {
                if (!bridged_ && !(bridged_ = av_frame_alloc())) {
                    shapeError_ = memFullErr;
                    return nullptr;
                }
                bridge_ = std::make_unique<RateChangeBridge>(shape_.rate);
            }
            if (!bridge_)
                return frame;
            if (!bridge_->Put(frame)) {
                shapeError_ = kTrackRateChangesErr;
                return nullptr;
            }
            continue;
        }
        if (rc == AVERROR_EOF || flushed_) {
            if (bridge_ && bridge_->Finish() && bridge_->Take(bridged_))
                return bridged_;
            return nullptr;
        }
        // An error: the rest of the packet is lost; the decoder goes on
        // with the next one.  A packet that gave no frame and no error
        // is lost as well, from a codec that gives every packet's sound
        // as it comes.
        if (rc != AVERROR(EAGAIN) ||
            (sentGaveNothing_ && codec_.soundPerPacket && !PrimesOnly() && !SkipTookPacket()))
            TallyRefused();
        sentGaveNothing_ = false;
        if (const std::optional<Packet> packet = packets_.Next()) {
            current_ = {packet->ordinal, packet->duration, packet->frames,
                        packet->discard || (packet->skipStated && packet->padding > 0)};
            sentGaveNothing_ = true;
            if (packet->skipStated)
                decoderSkip_ = packet->skip;
            if (decoder_.Send(*packet) < 0)
                TallyRefused();
        } else {
            flushed_ = true;
            decoder_.SendEnd();
        }
    }
}

bool DecodedFrames::SkipTookPacket()
{
    const UInt64 frames = PacketFrames();
    if (frames == 0 || decoderSkip_ < frames)
        return current_.dropped;
    decoderSkip_ -= frames;
    return true;
}

UInt64 DecodedFrames::PacketFrames() const
{
    return current_.duration > 0 ? current_.frames : packetFrames_;
}

void DecodedFrames::TallyRefused()
{
    if (!tally_ || current_.ordinal == lastTallied_)
        return;
    lastTallied_ = current_.ordinal;
    lastTalliedFrames_ = PacketFrames();
    TrackFinding found("decoder");
    found.added.refusedPackets = 1;
    found.added.missingFrames = lastTalliedFrames_;
    found.refusedFrames = lastTalliedFrames_;
    tally_->Take(found);
}
