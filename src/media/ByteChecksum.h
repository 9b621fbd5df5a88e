// The checksums the container rules check, each computed through tables
// for its polynomial: CRC-8 of polynomial 0x07 (FLAC frame headers), CRC-16
// of 0x8005 most significant bit first (FLAC frames; also AC-3 and MPEG
// audio) and least significant bit first (LAME tags), CRC-32 of 0x04C11DB7
// most significant bit first (Ogg pages) and least significant first
// (Matroska's CRC-32 elements: from and to all ones).  Each starts from
// `crc` (0 for a checksum of its own), so that a checksum can run over
// pieces.
#pragma once

#include <cstddef>
#include <cstdint>

class ByteChecksum {
public:
    static uint8_t Crc8(const uint8_t* data, std::size_t bytes, uint8_t crc = 0);
    static uint16_t Crc16(const uint8_t* data, std::size_t bytes, uint16_t crc = 0);
    static uint16_t Crc16Reflected(const uint8_t* data, std::size_t bytes, uint16_t crc = 0);
    static uint32_t Crc32(const uint8_t* data, std::size_t bytes, uint32_t crc = 0);
    static uint32_t Crc32Reflected(const uint8_t* data, std::size_t bytes, uint32_t crc = 0);
};
