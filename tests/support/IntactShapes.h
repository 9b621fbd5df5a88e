// Intact files in the shapes other writers give them, made from an
// encoder's output by hand: every change keeps the file valid (checksums
// are made again), so a reader must read each one clean.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace intactshape {

using Bytes = std::vector<uint8_t>;

// The Ogg page checksum: CRC-32 of polynomial 0x04C11DB7, not reflected,
// over the page with its checksum field zeroed.
inline uint32_t OggChecksum(const uint8_t* page, std::size_t size)
{
    uint32_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= uint32_t(i >= 22 && i < 26 ? 0 : page[i]) << 24;
        for (int k = 0; k < 8; ++k)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

// An Ogg Opus file whose identification header states `preSkip` samples
// to drop (valid up to 65535); false when `bytes` holds no such header.
inline bool SetOpusPreSkip(Bytes* bytes, uint16_t preSkip)
{
    const std::string_view view(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    const std::size_t head = view.find("OpusHead");
    const std::size_t page = view.rfind("OggS", head);
    if (head == std::string_view::npos || page == std::string_view::npos || head + 12 > bytes->size())
        return false;
    (*bytes)[head + 10] = uint8_t(preSkip & 0xFF);
    (*bytes)[head + 11] = uint8_t(preSkip >> 8);
    std::size_t end = page + 27 + (*bytes)[page + 26];
    for (std::size_t i = 0; i < (*bytes)[page + 26]; ++i)
        end += (*bytes)[page + 27 + i];
    const uint32_t crc = OggChecksum(bytes->data() + page, end - page);
    for (int i = 0; i < 4; ++i)
        (*bytes)[page + 22 + std::size_t(i)] = uint8_t(crc >> (8 * i));
    return true;
}

inline uint32_t BE32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// An MPEG-4 file of one AAC track whose first packet holds no channel
// element, only a data element naming the encoder: it decodes to nothing,
// cleanly, and primes the decoder (as some encoders begin a stream).  False
// when the sample tables are not found.
inline bool EmptyFirstAACPacket(Bytes* bytes)
{
    const std::string_view view(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    const std::size_t sizes = view.find("stsz");
    const std::size_t chunks = view.find("stco");
    if (sizes == std::string_view::npos || chunks == std::string_view::npos || sizes + 16 > bytes->size() ||
        chunks + 16 > bytes->size())
        return false;
    const uint32_t size = BE32(&(*bytes)[sizes + 8]) ? BE32(&(*bytes)[sizes + 8]) : BE32(&(*bytes)[sizes + 16]);
    const uint32_t at = BE32(&(*bytes)[chunks + 12]);
    const char text[] = "encoder";
    // ID_DSE (3 bits), instance 0 (4), no alignment (1), the count (8), the
    // bytes, then ID_END (3 bits) and zeros.
    std::vector<bool> bits;
    const auto put = [&bits](uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i)
            bits.push_back((value >> i) & 1);
    };
    put(4, 3);
    put(0, 5);
    put(sizeof text - 1, 8);
    for (std::size_t i = 0; i + 1 < sizeof text; ++i)
        put(uint8_t(text[i]), 8);
    put(7, 3);
    if (size < (bits.size() + 7) / 8 || std::size_t(at) + size > bytes->size())
        return false;
    std::fill(bytes->begin() + at, bytes->begin() + at + size, 0);
    for (std::size_t i = 0; i < bits.size(); ++i)
        if (bits[i])
            (*bytes)[at + i / 8] |= uint8_t(0x80 >> (i % 8));
    return true;
}

}  // namespace intactshape
