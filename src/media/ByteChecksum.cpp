#include "ByteChecksum.h"

#include <array>

namespace {

// The table of a CRC of `Bits` bits and polynomial `Poly`, most significant
// bit first, or (Reflected) least significant first with the polynomial
// reversed.
template <typename Word, int Bits, Word Poly, bool Reflected>
const std::array<Word, 256>& Table()
{
    static const std::array<Word, 256> table = [] {
        std::array<Word, 256> t{};
        const Word top = Word(Word(1) << (Bits - 1));
        for (unsigned i = 0; i < 256; ++i) {
            Word r = Reflected ? Word(i) : Word(Word(i) << (Bits - 8));
            for (int k = 0; k < 8; ++k) {
                if (Reflected)
                    r = Word((r & 1) ? (r >> 1) ^ Poly : r >> 1);
                else
                    r = Word((r & top) ? Word(r << 1) ^ Poly : Word(r << 1));
            }
            t[i] = r;
        }
        return t;
    }();
    return table;
}

template <typename Word, int Bits, Word Poly>
Word MostFirst(const uint8_t* data, std::size_t bytes, Word crc)
{
    const auto& table = Table<Word, Bits, Poly, false>();
    for (std::size_t i = 0; i < bytes; ++i)
        crc = Bits == 8 ? table[uint8_t(crc ^ data[i])]
                        : Word(Word(crc << 8) ^ table[uint8_t((crc >> (Bits - 8)) ^ data[i])]);
    return crc;
}

}  // namespace

uint8_t ByteChecksum::Crc8(const uint8_t* data, std::size_t bytes, uint8_t crc)
{
    return MostFirst<uint8_t, 8, 0x07>(data, bytes, crc);
}

uint16_t ByteChecksum::Crc16(const uint8_t* data, std::size_t bytes, uint16_t crc)
{
    return MostFirst<uint16_t, 16, 0x8005>(data, bytes, crc);
}

uint32_t ByteChecksum::Crc32(const uint8_t* data, std::size_t bytes, uint32_t crc)
{
    return MostFirst<uint32_t, 32, 0x04C11DB7u>(data, bytes, crc);
}

uint16_t ByteChecksum::Crc16Reflected(const uint8_t* data, std::size_t bytes, uint16_t crc)
{
    const auto& table = Table<uint16_t, 16, 0xA001, true>();
    for (std::size_t i = 0; i < bytes; ++i)
        crc = uint16_t((crc >> 8) ^ table[uint8_t(crc ^ data[i])]);
    return crc;
}
