// Every frame a track's packets decode to, in order, where the packets do
// not tell the frames: each packet sent as it comes, a packet the decoder
// refuses passed over (as the reference decoder does), the decoder drained
// at the end.  Parts of the track at another rate than its first (a
// chained Ogg stream, joined MPEG audio or ADTS frames) reach the track at
// its rate through a RateChangeBridge, made at the first such frame.  The
// reading runs it as it is; the count by decoding also has it say each
// packet the decoder refuses (CountRefusals).
#pragma once

#include "CodecTraits.h"
#include "FrameShape.h"
#include "MacTypes.h"
#include "RateChangeBridge.h"

#include <memory>

class FrameDecoder;
class PacketSource;
class TrackVerdict;

class DecodedFrames {
public:
    // The frames of `packets` through `decoder`, of the track's `shape`.
    // `otherRateIsDamage`: a frame at another rate is refused (a native
    // FLAC stream has STREAMINFO's rate), not converted.  `packetFrames`:
    // the frames a packet that states no duration stands for (0: unknown).
    DecodedFrames(PacketSource& packets, FrameDecoder& decoder, const FrameShape& shape, const CodecTraits& codec,
                  bool otherRateIsDamage, UInt64 packetFrames);
    ~DecodedFrames();
    DecodedFrames(const DecodedFrames&) = delete;
    DecodedFrames& operator=(const DecodedFrames&) = delete;

    // The next decoded frame (all its samples the track's); null at the
    // end, or where a part cannot be converted (ShapeError).
    AVFrame* Next();
    // From the start of the packets again (after the source and the
    // decoder began again).
    void Reset();

    // While counting: each packet the decoder refuses is said to `verdict`
    // once, as missing its frames.
    void CountRefusals(TrackVerdict* verdict) { tally_ = verdict; }

    bool ChannelsChanged() const { return channelsChange_; }
    // The bridge could not convert a part (kTrackRateChangesErr).
    OSErr ShapeError() const { return shapeError_; }
    // The packets read, and whether the last was refused (its frames).
    UInt64 PacketsRead() const { return UInt64(current_.ordinal + 1); }
    bool LastPacketRefused() const { return lastTallied_ >= 0 && lastTallied_ == current_.ordinal; }
    UInt64 LastRefusedFrames() const { return lastTalliedFrames_; }

private:
    // What the count keeps of the packet sent last.
    struct Sent {
        int64_t ordinal = -1;
        int64_t duration = 0;
        UInt64 frames = 0;
        bool dropped = false;  // the container, or its end trim, drops it
    };
    // The packet sent last gave no frame and no error: the first packet of
    // a stream that may only prime the decoder.
    bool PrimesOnly() const { return codec_.firstPacketMayPrime && current_.ordinal == 0 && !gaveFrame_; }
    // The decoder's skip may have taken the packet's whole sound (it drops
    // a frame that the skip covers, and takes the skip down by it); so may
    // the end trim the packet carries (an Opus stream's may reach over
    // several packets), or the container's word that it is to be dropped.
    bool SkipTookPacket();
    // The frames of the packet sent last, where the packet, the codec or
    // the container tells them.
    UInt64 PacketFrames() const;
    // While counting: the packet sent last was refused.
    void TallyRefused();

    PacketSource& packets_;
    FrameDecoder& decoder_;
    FrameShape shape_;
    CodecTraits codec_;
    bool otherRateIsDamage_;
    UInt64 packetFrames_;
    TrackVerdict* tally_ = nullptr;

    std::unique_ptr<RateChangeBridge> bridge_;
    AVFrame* bridged_ = nullptr;  // the bridge's frames, once made
    bool flushed_ = false;        // end of packets sent to the decoder
    Sent current_;
    bool sentGaveNothing_ = false;
    UInt64 decoderSkip_ = 0;
    bool gaveFrame_ = false;
    bool channelsChange_ = false;
    OSErr shapeError_ = noErr;
    int64_t lastTallied_ = -1;
    UInt64 lastTalliedFrames_ = 0;
};
