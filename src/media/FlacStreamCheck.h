// What a FLAC stream's checksums and structure tell beyond what the decoder
// checks frame by frame (the decoder refuses a frame whose header CRC-8 or
// frame CRC-16 fails, when asked to: FlacStreamCheck::kDecoderChecks).
//
// The MD5 signature STREAMINFO stores is that of the whole decoded sound:
// every sample at the stream's bit depth, little-endian in whole bytes,
// the channels interleaved.  The sound is handed over as it is read; once
// the whole stream has been read from its first frame to its last in
// order, the signature is compared.
//
// At the end of the file: the last frame the demuxer found runs either to
// the file's end (whole), or past it (a file cut inside that frame), or
// it is followed by bytes that are no frame, or its own bytes do not hold
// together (damage).  A frame is decoded through its subframes to find
// where it ends, and checked against its CRC-16 there; a decoded sample
// beyond the frame's bit depth, as no encoder writes, is damage too.
#pragma once

#include "MacTypes.h"
#include "Md5Digest.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct AVFrame;

class FlacStreamCheck {
public:
    // The decoder's error recognition flags that make it refuse a frame
    // failing its checksums (AV_EF_CRCCHECK | AV_EF_EXPLODE).
    static const int kDecoderChecks;

    // Takes the stream's STREAMINFO from the decoder's setup bytes (the
    // block alone, or after "fLaC" and a block header); false when they
    // hold none.  `fileBytes`: the length of a native FLAC file (-1 for a
    // stream in another container).
    bool Open(const uint8_t* setup, std::size_t size, int64_t fileBytes);
    bool IsOpen() const { return open_; }
    // Whether a packet the demuxer places at `pos` is one its parser hands
    // out again when flushed at the end of a damaged file (placed past the
    // file's end, holding frames it delivered already).
    bool Repeated(int64_t pos) const { return open_ && fileBytes_ >= 0 && pos >= fileBytes_; }

    // The sound as it is read: frames [at, at + count) of the track, from
    // a decoded frame (from its sample `first`) or silence.  Sound taken
    // out of order (after a seek) leaves the signature unchecked until the
    // track is read again from its start.
    void TakeDecoded(UInt64 at, const AVFrame* frame, int first, int count);
    void TakeSilence(UInt64 at, UInt64 count);
    // True once the whole stream was read in order and its sound differs
    // from the signature STREAMINFO stores (never when it stores none).
    bool SignatureMismatch() const { return mismatch_; }

    // A frame header's fields: the blocking strategy (variable: the number
    // counts samples, else frames), the number, the block size, channels,
    // bits per sample (`streamBits` where the header leaves them out) and
    // the header's own length, its CRC-8 included.
    struct FrameHeader {
        bool variable = false;
        UInt64 number = 0;
        UInt32 blockSize = 0;
        UInt32 channels = 0;
        UInt32 assignment = 0;
        UInt32 bits = 0;
        std::size_t bytes = 0;
    };
    enum class HeaderRead { Ok, Short, Broken };
    // The header at the start of `bytes`: Ok (its CRC-8 holds), Short (the
    // bytes end inside it), Broken.
    static HeaderRead ReadFrameHeader(const uint8_t* bytes, std::size_t size, UInt32 streamBits, FrameHeader* header);

    // Whether a packet the demuxer delivers is one frame whose CRC-16
    // holds.  Where the demuxer's parser passed over a frame whose header
    // does not hold, it joins it to the packet before: the packet is then
    // no one frame, and sound is missing there.
    static bool IsOneFrame(const uint8_t* bytes, std::size_t size);
    // The bytes of STREAMINFO's body.
    static constexpr std::size_t kStreamInfoBytes = 34;
    // What a STREAMINFO body states of the stream (frames: 0 where it
    // states no length).
    struct StreamShape {
        UInt32 minBlock = 0;
        UInt32 maxBlock = 0;
        UInt32 rate = 0;
        UInt32 channels = 0;
        UInt32 bits = 0;
        UInt64 frames = 0;
    };
    static StreamShape Shape(const uint8_t* streamInfo);
    // The STREAMINFO body in a FLAC codec's setup bytes (the body alone, or
    // after the "fLaC" marker and its block header); null where they are
    // too short.
    static const uint8_t* StreamInfo(const uint8_t* setup, std::size_t size);

    // Whether the file at `path`, whose last frame the demuxer found at
    // byte `lastFrame`, ends cleanly: that frame whole to the file's end
    // (an ID3v1 tag may follow), or broken off by the file's end (cut).
    // False when damage shows there.
    bool EndsCleanly(const std::string& path, int64_t lastFrame) const;

private:
    // How the frame at the start of `bytes` ends: Whole (its CRC-16
    // holds; *end gets its length), RunsPast (the bytes end inside it),
    // Broken (its header, subframes or CRC-16 do not hold).
    enum class FrameEnd { Whole, RunsPast, Broken };
    FrameEnd WalkFrame(const uint8_t* bytes, std::size_t size, std::size_t* end) const;
    void Take(UInt64 at, UInt64 count, const AVFrame* frame, int first);

    bool open_ = false;
    UInt32 bits_ = 0;
    UInt32 channels_ = 0;
    UInt64 statedFrames_ = 0;
    int64_t fileBytes_ = -1;
    uint8_t signature_[16] = {};
    bool hasSignature_ = false;

    // The signature being computed: the frames taken so far in order
    // (valid_ false after a gap, until a read from the start).
    Md5Digest hash_;
    UInt64 next_ = 0;
    bool valid_ = false;
    bool mismatch_ = false;
    std::vector<uint8_t> bytes_;
};
