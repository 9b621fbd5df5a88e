// Reading a track: the pieces of sound handed out from the position on
// (decoded frames, trimmed as the index says, or silence for what the
// decoder refused; or, where the packets do not tell the frames, every
// frame the packets decode to: DecodedFrames), seeking, and the clip count
// and FLAC signature fed on the way.  The reader owns where the reading
// stands, on one state value; it reads the source and the decoder it is
// given, and says what it finds to the track's verdict.
#pragma once

#include "DecodedFrames.h"
#include "FlacStreamCheck.h"
#include "FrameShape.h"
#include "IndexEntry.h"
#include "MacTypes.h"

#include <cstddef>
#include <vector>

class FrameDecoder;
class PacketSource;
class TrackVerdict;
struct AVFrame;

class TrackReader {
public:
    // How the count settled the track is read.
    struct Plan {
        FrameShape shape;
        CodecTraits codec;
        // The index tells each packet's frames (else every decoded frame
        // is the track's), and a seek may start a few packets before its
        // frame.
        bool indexed = false;
        bool seekExact = false;
        // Decoded frames before the track's first.
        UInt64 startSkip = 0;
        // A frame at another rate is refused, not converted.
        bool otherRateIsDamage = false;
    };

    // Reads the track whose packets `packets` gives (as indexed in
    // `index`) through `decoder`, saying what it finds to `verdict`; each
    // outlives the reader.  `signature`: a FLAC stream's checks (not open
    // for any other).
    TrackReader(PacketSource& packets, FrameDecoder& decoder, const std::vector<IndexEntry>& index,
                TrackVerdict& verdict, const Plan& plan, const FlacStreamCheck& signature);

    // Reading from the start: past the stream's delay, where the source
    // and the decoder were just opened.
    OSErr Start();
    OSErr Seek(UInt64 target);
    // Up to `frames` frames from the position into `out` (one array per
    // delivered channel); the decoder's shortfall is silence, said as such.
    OSErr Read(SInt32* const* out, UInt32 frames, UInt32* delivered);

    UInt64 Position() const { return position_; }
    // The delivered channels: decoded channel order[c] for channel c.
    void SetOrder(std::vector<int> order) { order_ = std::move(order); }
    // Float samples beyond full scale are counted only in [from, to).
    void SetClipCountWindow(UInt64 from, UInt64 to);

private:
    // Back to the track's first frame: the source and the decoder began
    // again.
    OSErr Rewind();
    // Nothing pending, no packet in hand.
    void Reset();
    // Positions the source at the packet `k` of the index, with the
    // decoder flushed.
    OSErr SeekToPacket(std::size_t k);
    // Gets the next piece of sound; false at the end of the track.
    bool NextPiece();
    // Where the index tells the frames: each packet gives its frames of
    // the track, decoded (one frame or several) and trimmed, or silence
    // when the decoder refuses it or gives it fewer; a packet of the track
    // the count did not see ends it.
    bool NextIndexedPiece();
    // `frame` whole is the next piece.
    bool Pending(const AVFrame* frame);
    // A packet of the index the decoder refused (`silenced` of its frames
    // read as silence), counted the first time it is read.
    void NoteRefused(std::size_t k, UInt64 silenced);
    // A packet the decoder took in part and refused the rest of: the
    // track is damaged there.
    void SeeDamage();
    // Moves the position on by up to `frames` frames, storing them into
    // `out` when it is given; the frames moved, fewer only at the end of
    // what decodes.
    UInt64 Advance(SInt32* const* out, UInt64 frames);
    OSErr Skip(UInt64 frames);

    PacketSource& packets_;
    FrameDecoder& decoder_;
    const std::vector<IndexEntry>& index_;
    TrackVerdict& verdict_;
    Plan plan_;
    FlacStreamCheck flac_;
    DecodedFrames frames_;
    std::vector<int> order_;
    // The index's packets the decoder refused, each counted once however
    // often it is read (those the count found refused at the start).
    std::vector<bool> refused_;

    // The reading state: the piece of sound handed out next, which is
    // silence standing for a refused packet (`silence_` frames) or the
    // samples [frameOffset_, frameEnd_) of the decoded frame pending;
    // none yet (the next is to be found); or the end of the track.
    enum class State {
        Idle,     // nothing pending: the next piece is found when asked for
        Frame,    // the decoded frame's samples [frameOffset_, frameEnd_)
        Silence,  // `silence_` frames of silence
        Finished  // the decoder is drained: nothing follows
    };
    State state_ = State::Idle;
    UInt64 position_ = 0;        // frame the next Read starts at
    UInt64 clipCountedTo_ = 0;   // the frames below were counted for clipping
    UInt64 clipWindowFrom_ = 0;  // and only those in [from, to) are
    UInt64 clipWindowTo_ = ~UInt64(0);
    const AVFrame* frame_ = nullptr;
    UInt64 silence_ = 0;
    int frameOffset_ = 0;
    int frameEnd_ = 0;
    // The packet in hand, where the index tells the frames: its place,
    // its decoded frames still to drop and to give, whether it gave any,
    // and whether the decoder refused it or the rest of it.
    bool inPacket_ = false;
    std::size_t packet_ = 0;
    UInt64 packetSkip_ = 0;
    UInt64 packetLeft_ = 0;
    bool packetGave_ = false;
    bool packetFailed_ = false;
    bool packetShort_ = false;  // it decoded to fewer frames than it states
};
