#include "ByteChecksum.h"

#include <array>

namespace {

// The tables of a CRC of `Bits` bits and polynomial `Poly`, most
// significant bit first, or (Reflected) least significant first with the
// polynomial reversed.  Table k holds the CRC of each byte followed by k
// zero bytes, so that eight bytes go through eight look-ups at once
// (slicing by eight) instead of one after the other.
template <typename Word, int Bits, Word Poly, bool Reflected>
struct Tables {
    std::array<std::array<Word, 256>, 8> t{};

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
        for (int k = 1; k < 8; ++k)
            for (unsigned i = 0; i < 256; ++i)
                t[k][i] = Step(t[k - 1][i], 0);
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
        constexpr int kCrcBytes = Bits / 8;
        for (; bytes >= 8; bytes -= 8, data += 8) {
            // The CRC's bytes join the first bytes of the eight, in the
            // order they enter the division.
            uint8_t b[8];
            for (int j = 0; j < 8; ++j)
                b[j] = data[j];
            for (int j = 0; j < kCrcBytes; ++j)
                b[j] ^= uint8_t(Reflected ? crc >> (8 * j) : crc >> (Bits - 8 - 8 * j));
            Word next = 0;
            for (int j = 0; j < 8; ++j)
                next ^= t[7 - j][b[j]];
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
