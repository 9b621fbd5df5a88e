// The length of a raw stream of frames that carry their own length in
// their headers (MPEG audio, ADTS AAC, AC-3 and E-AC-3): no container
// states how long it is, but every frame states its size.  The file's own
// frames are walked, one header leading to the next: bytes between two
// such chains (damage the demuxer found its way back into the stream
// from) held frames at the stream's own bytes per frame, and what the
// track gives short of those frames and the whole ones was lost.  Tags
// (ID3v2 anywhere, two in a row included; ID3v1, APEv2 and Lyrics3 at the
// end), zero bytes between two frames and the bytes between a tag and the
// first frame are no sound; bytes that start the file before its first
// frame are the end of a frame whose front was lost (one frame at least,
// what came before it no header tells).  A last frame shorter than its
// header says is the file's cut.  An MP3 stream
// whose first frame counts the frames (an Xing or Info frame) is measured
// against that count instead.
#pragma once

#include "CodecTraits.h"
#include "PositionedFile.h"
#include "TrackLengthRule.h"

class RawStreamLengthRule : public TrackLengthRule {
public:
    // The bytes and the sample frames of the frame of `syntax` whose header
    // starts at `data` (at least 7 bytes); false when no header starts there.
    static bool ReadFrameHeader(FrameSyntax syntax, const uint8_t* data, int* bytes, int* frames);

    // The first frame of an MP3 stream when it is an Xing or Info frame:
    // the frames after it and the bytes of the stream with it, as stated,
    // and the encoder's checksum of the frames after it (a LAME tag whose
    // own checksum holds).
    struct InfoFrame {
        bool present = false;
        int64_t frames = -1;
        int64_t bytes = -1;
        bool hasMusicCRC = false;
        UInt16 musicCRC = 0;
        // An encoder's tag follows whose own checksum fails: the frame's
        // fields, the count among them, are damaged.
        bool tagDamaged = false;
    };
    static bool ReadInfoFrame(const uint8_t* frame, int frameBytes, InfoFrame* out);

    // The demuxer of a short raw AC-3, E-AC-3 or ADTS stream at `path`:
    // whole frames of one stream from its first byte to its last, two or
    // more, or one whose checksum holds (the content tells, however low the
    // libraries score it); null for any other file.
    static const char* ShortStreamDemuxer(const std::string& path);

    // The bytes of the tag that starts at `p` (`available` bytes there,
    // `left` to the end of the sound's bytes): an ID3v2 tag (its footer
    // too), an APEv2 tag that has a header, an ID3v1 tag at the very end;
    // 0 when no tag starts there.
    // A Lyrics3 tag (which only the end of the file holds) is all that is
    // `left` from its start, cut inside itself or not.
    static int64_t TagBytes(const uint8_t* p, int available, int64_t left);
    // The bytes of the tags and zero bytes that start a packet of `size`
    // bytes before a frame of `syntax`: a tag inside the stream (as joined
    // and streamed files carry), or padding, that the demuxer handed out
    // with the frame after it.  0 when there are none, or no frame follows.
    static int NoSoundBeforeFrame(FrameSyntax syntax, const uint8_t* data, int size);
    // Where the tags at the end of the file at `path` begin (its size when
    // there are none): ID3v1 (with Lyrics3), APEv2 (with a header or not)
    // and ID3v2 with a footer, in any order.
    static int64_t TrailingTagsStart(const std::string& path);
    static int64_t TrailingTagsStart(PositionedFile& file);

    // What the walk over a file found.
    struct Walk {
        UInt64 wholeFrames = 0;   // frames of the sound of whole frames
        UInt64 framesBetween = 0; // frames the bytes between chains held
        bool damaged = false;     // bytes that are no frame were met
        bool endsInsideFrame = false;
        // MPEG audio: the frames of sound a grown ID3v2 tag hides before
        // the first frame after it; Layer III frames whose main data begins
        // in bytes the frames before do not hold (frames were taken out
        // before them); the Info frame, and what the stream holds against
        // it (the whole frames after it, the bytes from it to the end of the
        // last whole frame, and their checksum).
        UInt64 hiddenFrames = 0;
        int joins = 0;
        InfoFrame info;
        int64_t framesAfterInfo = 0;
        int64_t streamBytes = 0;
        UInt16 musicCRC = 0;
        // The encodes whose encoder's checksum of their frames was held
        // against them (each joined encode's Info frame states its own),
        // and those it failed.
        int musicChecked = 0;
        int musicFails = 0;
        int frameSamples = 0;
        int joinedEncodes = 0;  // Info frames after the first (encodes joined)
        // Parts of another rate or kind joined after the first (their
        // frames counted at the first part's rate).
        int otherParts = 0;
    };
    static bool WalkFile(FrameSyntax syntax, PositionedFile& file, Walk* out);

    explicit RawStreamLengthRule(const CodecTraits& codec) : syntax_(codec.syntax), infoFrame_(codec.infoFrame) {}
    bool Packet(const ::Packet& packet, UInt64* frames, const TrackTally& tally, TrackFinding* found) override;
    TrackFinding Settle(const TrackTally& tally) override;

private:
    FrameSyntax syntax_;
    bool infoFrame_;
    // The frames of the packets, of whole frames (no trim taken), the
    // frames of the last packet when it is shorter than its frame, and the
    // packets.
    UInt64 packetFrames_ = 0;
    UInt64 lastShortFrames_ = 0;
    UInt64 packets_ = 0;
};
