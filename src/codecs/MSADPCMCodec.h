// Microsoft ADPCM (WAVE format tag 2): blocks of 4-bit codes with a 7-byte
// header per channel (predictor index, delta, two starting samples), one
// or two channels, codes two per byte with the high nibble first.
//
// The object holds a stream's layout (channels, block size, frames per
// block, coefficient pairs); blocks are independent of each other.
// Interleaved 16-bit samples in host order on the linear side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class MSADPCMCodec {
public:
    struct Coefficients {
        int16_t coef1;
        int16_t coef2;
    };

    // Room for at most this many coefficient pairs in a file.
    static constexpr int kMaxCoefficients = 100;
    // The seven standard pairs, in their order.
    static const std::vector<Coefficients>& StandardCoefficients();

    MSADPCMCodec() = default;
    MSADPCMCodec(int channels, int blockAlign, int samplesPerBlock, std::vector<Coefficients> coefficients);

    // Whether the layout is usable: 1 or 2 channels, 1 to kMaxCoefficients
    // pairs, a block holding its header, and samples per block between 2 and
    // what a full block holds.
    bool IsValid() const;
    // Frames a full block holds: 2 + (blockAlign - 7 x channels) x 2 / channels.
    int FramesInFullBlock() const;

    // Decodes one block of `bytes` bytes (a short last block decodes the
    // frames its bytes hold) into `out` (room for samples-per-block frames).
    // Returns the frames decoded, 0 for a block shorter than its header, -1
    // when a predictor index is not below the coefficient count.
    int DecodeBlock(const uint8_t* in, std::size_t bytes, int16_t* out) const;

    // Encodes `frames` (1 .. samples per block) interleaved frames into one
    // block at `out` (room for blockAlign bytes).  A short block is encoded
    // whole (its last byte padded).  Returns the bytes written.
    std::size_t EncodeBlock(const int16_t* in, int frames, uint8_t* out) const;
    // Bytes of the block that holds `frames` frames.
    std::size_t BlockBytes(int frames) const;

    int channels() const { return m_channels; }
    int blockAlign() const { return m_blockAlign; }
    int samplesPerBlock() const { return m_samplesPerBlock; }
    const std::vector<Coefficients>& coefficients() const { return m_coefficients; }

private:
    int m_channels = 1;
    int m_blockAlign = 0;
    int m_samplesPerBlock = 0;
    std::vector<Coefficients> m_coefficients;
};
