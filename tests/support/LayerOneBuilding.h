// MPEG-1 Layer I frames built by hand, bit by bit, with the checksum the
// standard defines: a CRC-16 (polynomial 0x8005, from all ones) over the
// header's last two bytes and the bit allocation, which in joint stereo is
// sent once for both channels from the bound on.  Every frame is 384 bytes
// at 48 kHz and 384 kbit/s; two subbands carry a tone in each channel, one
// below every bound and one above.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace layeronebuild {

class BitWriter {
public:
    void put(uint32_t value, int bits)
    {
        for (int i = bits - 1; i >= 0; --i) {
            if (bits_ % 8 == 0)
                bytes_.push_back(0);
            if ((value >> i) & 1)
                bytes_.back() |= uint8_t(0x80 >> (bits_ % 8));
            ++bits_;
        }
    }
    std::vector<uint8_t>& bytes() { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    int bits_ = 0;
};

inline uint16_t Checksum(const std::vector<uint8_t>& bytes)
{
    uint32_t crc = 0xFFFF;
    for (const uint8_t byte : bytes)
        for (int bit = 7; bit >= 0; --bit) {
            const bool top = ((crc >> 15) ^ (byte >> bit)) & 1;
            crc = (crc << 1) & 0xFFFF;
            if (top)
                crc ^= 0x8005;
        }
    return uint16_t(crc);
}

// Frame `n` of a stream in channel mode `mode` (0 stereo, 1 joint stereo,
// 2 dual channel, 3 single channel) and mode extension `extension` (the
// bound is 4, 8, 12 or 16 subbands in joint stereo).
inline std::vector<uint8_t> Frame(int mode, int extension, int n)
{
    constexpr int kBytes = 384;
    const int channels = mode == 3 ? 1 : 2;
    const int bound = mode == 1 ? 4 * (extension + 1) : 32;
    const auto allocated = [](int subband) {
        return subband == 1 || subband == 20;
    };
    constexpr int kAllocation = 3;  // 4 bits a sample
    const std::vector<uint8_t> header
        = {0xFF, 0xFE, uint8_t((12 << 4) | (1 << 2)), uint8_t((mode << 6) | (extension << 4))};
    BitWriter allocation;
    for (int sb = 0; sb < 32; ++sb)
        for (int c = 0; c < (sb < bound ? channels : 1); ++c)
            allocation.put(allocated(sb) ? kAllocation : 0, 4);
    BitWriter rest;
    for (int sb = 0; sb < 32; ++sb)
        if (allocated(sb))
            for (int c = 0; c < channels; ++c)
                rest.put(20, 6);  // scalefactors: each channel its own, also above the bound
    for (int s = 0; s < 12; ++s)
        for (int sb = 0; sb < 32; ++sb)
            for (int c = 0; c < (sb < bound ? channels : 1); ++c)
                if (allocated(sb))
                    rest.put(uint32_t(8 + std::lround(6 * std::sin(0.69 * double((n * 12 + s) * (c + 1))))), 4);
    std::vector<uint8_t> protectedBits = {header[2], header[3]};
    protectedBits.insert(protectedBits.end(), allocation.bytes().begin(), allocation.bytes().end());
    const uint16_t crc = Checksum(protectedBits);
    std::vector<uint8_t> frame(kBytes, 0);
    std::copy(header.begin(), header.end(), frame.begin());
    frame[4] = uint8_t(crc >> 8);
    frame[5] = uint8_t(crc & 0xFF);
    const auto end = std::copy(allocation.bytes().begin(), allocation.bytes().end(), frame.begin() + 6);
    std::copy(rest.bytes().begin(), rest.bytes().end(), end);
    return frame;
}

// `frames` frames in `mode`; in joint stereo the mode extension goes round
// all four bounds.
inline std::vector<uint8_t> Stream(int mode, int frames)
{
    std::vector<uint8_t> bytes;
    for (int n = 0; n < frames; ++n) {
        const std::vector<uint8_t> frame = Frame(mode, mode == 1 ? n % 4 : 0, n);
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    }
    return bytes;
}

}  // namespace layeronebuild
