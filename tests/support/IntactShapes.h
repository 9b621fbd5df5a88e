// Intact files in the shapes other writers give them, made from an
// encoder's output by hand: every change keeps the file valid (checksums
// are made again), so a reader must read each one clean.
#pragma once

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

}  // namespace intactshape
