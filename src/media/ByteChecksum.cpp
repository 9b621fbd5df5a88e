#include "ByteChecksum.h"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

#if defined(__x86_64__)
// The CRC-16 of polynomial 0x8005 over long runs by carry-less
// multiplication (PCLMULQDQ), 16-byte lanes at a time.  Most significant
// bit first, a lane is its bytes as one big-endian 128-bit number: bit k
// the coefficient of x^k.  A lane D ahead of `d` more bits of message
// stands for D x^d, which is reduced modulo the polynomial by its two
// halves: D_hi x^(d+64) + D_lo x^d, each half times the remainder of its
// power.  Least significant bit first, a lane's bits, lowest first, are the
// coefficients from the highest power down, and the constants are
// reflected (the product of two reflected 64-bit values comes out one power
// low, so they are those of x^(d+63) and x^(d-1)).  Four lanes run side by
// side, 64 bytes apart; then they fold into one, which folds over the rest
// 16 bytes at a time; what is left (one lane, the last bytes) goes through
// the tables, from a CRC of 0.
template <bool Reflected>
struct Folding {
    using SInt64 = long long;
    __m128i by64, by16;  // the constants of d = 512 and d = 128

    static uint64_t Remainder(unsigned power)
    {
        uint32_t r = 1;  // x^power modulo x^16 + x^15 + x^2 + 1
        for (unsigned k = 0; k < power; ++k) {
            r <<= 1;
            if (r & 0x10000)
                r ^= 0x18005;
        }
        if (!Reflected)
            return r;
        uint64_t reflected = 0;
        for (int j = 0; j < 16; ++j)
            if (r >> j & 1)
                reflected |= uint64_t(1) << (63 - j);
        return reflected;
    }

    Folding()
    {
        if (Reflected) {
            by64 = _mm_set_epi64x(SInt64(Remainder(511)), SInt64(Remainder(575)));
            by16 = _mm_set_epi64x(SInt64(Remainder(127)), SInt64(Remainder(191)));
        } else {
            by64 = _mm_set_epi64x(SInt64(Remainder(576)), SInt64(Remainder(512)));
            by16 = _mm_set_epi64x(SInt64(Remainder(192)), SInt64(Remainder(128)));
        }
    }

    __attribute__((target("pclmul,ssse3"))) static __m128i Fold(__m128i lane, __m128i constants, __m128i next)
    {
        return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(lane, constants, 0x00),
                                           _mm_clmulepi64_si128(lane, constants, 0x11)),
                             next);
    }

    // 16 bytes as a lane and back (most significant first: byte-reversed).
    __attribute__((target("pclmul,ssse3"))) static __m128i Order(__m128i bytes)
    {
        if (Reflected)
            return bytes;
        return _mm_shuffle_epi8(bytes, _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
    }
    __attribute__((target("pclmul,ssse3"))) static __m128i Load(const uint8_t* p)
    {
        return Order(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }

    // At least 64 bytes.
    template <typename TablesType>
    __attribute__((target("pclmul,ssse3"))) uint16_t Run(const uint8_t* data, std::size_t bytes, uint16_t crc,
                                                        const TablesType& tables) const
    {
        __m128i a = _mm_xor_si128(Load(data), Reflected ? _mm_cvtsi32_si128(crc)
                                                        : _mm_set_epi64x(SInt64(uint64_t(crc) << 48), 0));
        __m128i b = Load(data + 16), c = Load(data + 32), d = Load(data + 48);
        std::size_t at = 64;
        for (; at + 64 <= bytes; at += 64) {
            a = Fold(a, by64, Load(data + at));
            b = Fold(b, by64, Load(data + at + 16));
            c = Fold(c, by64, Load(data + at + 32));
            d = Fold(d, by64, Load(data + at + 48));
        }
        __m128i lane = Fold(Fold(Fold(a, by16, b), by16, c), by16, d);
        for (; at + 16 <= bytes; at += 16)
            lane = Fold(lane, by16, Load(data + at));
        alignas(16) uint8_t last[16];
        _mm_store_si128(reinterpret_cast<__m128i*>(last), Order(lane));
        return tables.Run(data + at, bytes - at, tables.Run(last, 16, 0));
    }
};

bool HasCarrylessMultiply()
{
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("pclmul") != 0 && __builtin_cpu_supports("ssse3") != 0;
    }();
    return has;
}
#endif

// The CRC-16 of polynomial 0x8005, folded over long runs where the
// processor multiplies without carries.
template <bool Reflected>
uint16_t Crc16Of(const uint8_t* data, std::size_t bytes, uint16_t crc)
{
    const auto& tables = TablesOf<uint16_t, 16, uint16_t(Reflected ? 0xA001 : 0x8005), Reflected>();
#if defined(__x86_64__)
    if (bytes >= 256 && HasCarrylessMultiply()) {
        static const Folding<Reflected> folding;
        return folding.Run(data, bytes, crc, tables);
    }
#endif
    return tables.Run(data, bytes, crc);
}

}  // namespace

uint8_t ByteChecksum::Crc8(const uint8_t* data, std::size_t bytes, uint8_t crc)
{
    return TablesOf<uint8_t, 8, 0x07, false>().Run(data, bytes, crc);
}

uint16_t ByteChecksum::Crc16(const uint8_t* data, std::size_t bytes, uint16_t crc)
{
    return Crc16Of<false>(data, bytes, crc);
}

uint32_t ByteChecksum::Crc32(const uint8_t* data, std::size_t bytes, uint32_t crc)
{
    return TablesOf<uint32_t, 32, 0x04C11DB7u, false>().Run(data, bytes, crc);
}

uint32_t ByteChecksum::Crc32Reflected(const uint8_t* data, std::size_t bytes, uint32_t crc)
{
    return TablesOf<uint32_t, 32, 0xEDB88320u, true>().Run(data, bytes, crc);
}

uint16_t ByteChecksum::Crc16Reflected(const uint8_t* data, std::size_t bytes, uint16_t crc)
{
    return Crc16Of<true>(data, bytes, crc);
}
