// Decodes the frames of a native FLAC stream one packet at a time with
// libFLAC, which checks each frame's header CRC-8 and frame CRC-16 as it
// decodes it.
//
// A packet is decoded here only when it is exactly one frame of the
// stream's shape (its channels, bit depth and rate; of any block size, as
// libFLAC reads it), its checksums hold and every sample fits the stream's
// bit depth.  Anything else (bytes before or after the frame,
// a frame cut short, a checksum that fails, a sample out of range) is left
// to the caller's other decoder, so that a damaged stream reads exactly as
// it did: Decode is false then, and the decoder is ready for the next
// packet.  Every frame stands alone, so packets may come in any order
// (after a seek, too).
//
// The samples are given per channel as 32-bit integers with the sound at
// the top bits (a 16-bit sample shifted left by 16), as the FFmpeg decoder
// gives them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class FlacFrameDecoder {
public:
    FlacFrameDecoder() = default;
    ~FlacFrameDecoder();
    FlacFrameDecoder(const FlacFrameDecoder&) = delete;
    FlacFrameDecoder& operator=(const FlacFrameDecoder&) = delete;

    // Takes the stream's STREAMINFO from the setup bytes (the block alone,
    // or after "fLaC" and a block header); false when they hold none or
    // libFLAC cannot be set up.
    bool Open(const uint8_t* setup, std::size_t size);
    bool IsOpen() const { return decoder_ != nullptr; }

    // Decodes the packet `bytes` (see above); false leaves nothing decoded.
    bool Decode(const uint8_t* bytes, std::size_t size);

    // The frame decoded last: its samples per channel, and channel `c`.
    unsigned Samples() const { return samples_; }
    unsigned Channels() const { return channels_; }
    unsigned Rate() const { return rate_; }
    int32_t* Plane(unsigned c) { return planes_[c].data(); }

private:
    struct Callbacks;
    void Recover();

    void* decoder_ = nullptr;  // FLAC__StreamDecoder
    unsigned channels_ = 0;
    unsigned bits_ = 0;
    unsigned rate_ = 0;

    // The bytes being handed to libFLAC, and how many it was given in all.
    const uint8_t* next_ = nullptr;
    std::size_t left_ = 0;
    uint64_t fed_ = 0;
    // What the packet being decoded showed.
    bool starved_ = false;  // libFLAC wanted bytes past it
    bool error_ = false;    // libFLAC reported an error
    unsigned frames_ = 0;   // frames it gave
    bool unfit_ = false;    // a frame of another shape, or a sample out of range

    unsigned samples_ = 0;
    std::vector<int32_t> planes_[8];
};
