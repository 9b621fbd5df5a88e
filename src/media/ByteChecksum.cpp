#include "ByteChecksum.h"

#include <array>
#include <cstring>

namespace {

// The tables of a CRC of `Bits` bits and polynomial `Poly`, most
// significant bit first, or (Reflected) least significant first with the
// polynomial reversed.  Table k holds the CRC of each byte followed by k
// zero bytes, so that sixteen bytes go through sixteen independent
// look-ups (slicing by sixteen) instead of one after the other.
template <typename Word, int Bits, Word Poly, bool Reflected>
struct Tables {
    std::array<std::array<Word, 256>, 16> t{};

    Tables()
    {
        const Word top = Word(Word(1) << (Bits - 1));
        for (unsigned i = 0; i < 256; ++i) {
            Word r = Reflected ? Word(i) : Word(Word(i) << (Bits - 8));
            for (int k = 0; k < 8; ++k) {
                if (Reflected)
                    r = Word((r & 1) ? (r >> 1) ^ Poly : r >> 1);
                else
                    r = Word((r & top) ? Word(r << 1) ^ Poly : Word(r << 1));
            }
            t[0][i] = r;
        }
        for (int k = 1; k < 16; ++k)
            for (unsigned i = 0; i < 256; ++i)
                t[k][i] = Step(t[k - 1][i], 0);
    }

    // A most-significant-first CRC's bytes, first byte lowest.
    static uint64_t Entering(Word crc)
    {
        if constexpr (Bits == 8)
            return crc;
        else if constexpr (Bits == 16)
            return __builtin_bswap16(crc);
        else
            return __builtin_bswap32(crc);
    }

    // One byte into the CRC.
    Word Step(Word crc, uint8_t byte) const
    {
        if constexpr (Reflected)
            return Bits == 8 ? t[0][uint8_t(crc ^ byte)] : Word((crc >> 8) ^ t[0][uint8_t(crc ^ byte)]);
        else
            return Bits == 8 ? t[0][uint8_t(crc ^ byte)]
                             : Word(Word(crc << 8) ^ t[0][uint8_t((crc >> (Bits - 8)) ^ byte)]);
    }

    Word Run(const uint8_t* data, std::size_t bytes, Word crc) const
    {
        for (; bytes >= 16; bytes -= 16, data += 16) {
            // The sixteen bytes as two little-endian words, the CRC's bytes
            // joining the first ones in the order they enter the division.
            uint64_t x, y;
            std::memcpy(&x, data, 8);
            std::memcpy(&y, data + 8, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
            x = __builtin_bswap64(x);
            y = __builtin_bswap64(y);
#endif
            x ^= Reflected ? uint64_t(crc) : Entering(crc);
            Word next = 0;
            for (int j = 0; j < 8; ++j)
                next ^= t[15 - j][uint8_t(x >> (8 * j))] ^ t[7 - j][uint8_t(y >> (8 * j))];
            crc = next;
        }
        for (std::size_t i = 0; i < bytes; ++i)
            crc = Step(crc, data[i]);
        return crc;
    }
};

template <typename Word, int Bits, Word Poly, bool Reflected>
const Tables<Word, Bits, Poly, Reflected>& TablesOf()
{
    static const Tables<Word, Bits, Poly, Reflected> tables;
    return tables;
}

}  // namespace

uint8_t ByteChecksum::Crc8(const uint8_t* data, std::size_t bytes, uint8_t crc)
{
    return TablesOf<uint8_t, 8, 0x07, false>().Run(data, bytes, crc);
}

uint16_t ByteChecksum::Crc16(const uint8_t* data, std::size_t bytes, uint16_t crc)
{
    return TablesOf<uint16_t, 16, 0x8005, false>().Run(data, bytes, crc);
}

uint32_t ByteChecksum::Crc32(const uint8_t* data, std::size_t bytes, uint32_t crc)
{
    return TablesOf<uint32_t, 32, 0x04C11DB7u, false>().Run(data, bytes, crc);
}

uint16_t ByteChecksum::Crc16Reflected(const uint8_t* data, std::size_t bytes, uint16_t crc)
{
    return TablesOf<uint16_t, 16, 0xA001, true>().Run(data, bytes, crc);
}
