#include "Md5Digest.h"

#include <cstring>

namespace {

inline uint32_t Rotate(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

inline uint32_t Word(const uint8_t* p)
{
    uint32_t w;
    std::memcpy(&w, p, 4);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    w = __builtin_bswap32(w);
#endif
    return w;
}

// Each step adds the message word and the constant to `a` before the
// latest word `b` is ready, so that only the round function's last
// operations, the rotation and one addition wait for it.
#define QM_MD5_F(a, b, c, d, m, k, s) a = b + Rotate(a + (m + k) + (d ^ (b & (c ^ d))), s)
#define QM_MD5_G(a, b, c, d, m, k, s) a = b + Rotate(a + (m + k) + (c & ~d) + (b & d), s)
#define QM_MD5_H(a, b, c, d, m, k, s) a = b + Rotate(a + (m + k) + (b ^ (c ^ d)), s)
#define QM_MD5_I(a, b, c, d, m, k, s) a = b + Rotate(a + (m + k) + (c ^ (b | ~d)), s)

}  // namespace

void Md5Digest::Reset()
{
    state_[0] = 0x67452301u;
    state_[1] = 0xefcdab89u;
    state_[2] = 0x98badcfeu;
    state_[3] = 0x10325476u;
    length_ = 0;
    held_ = 0;
}

void Md5Digest::Blocks(const uint8_t* p, std::size_t count)
{
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (; count > 0; --count, p += 64) {
        uint32_t m[16];
        for (int i = 0; i < 16; ++i)
            m[i] = Word(p + 4 * i);
        const uint32_t a0 = a, b0 = b, c0 = c, d0 = d;
        QM_MD5_F(a, b, c, d, m[0], 0xd76aa478u, 7);
        QM_MD5_F(d, a, b, c, m[1], 0xe8c7b756u, 12);
        QM_MD5_F(c, d, a, b, m[2], 0x242070dbu, 17);
        QM_MD5_F(b, c, d, a, m[3], 0xc1bdceeeu, 22);
        QM_MD5_F(a, b, c, d, m[4], 0xf57c0fafu, 7);
        QM_MD5_F(d, a, b, c, m[5], 0x4787c62au, 12);
        QM_MD5_F(c, d, a, b, m[6], 0xa8304613u, 17);
        QM_MD5_F(b, c, d, a, m[7], 0xfd469501u, 22);
        QM_MD5_F(a, b, c, d, m[8], 0x698098d8u, 7);
        QM_MD5_F(d, a, b, c, m[9], 0x8b44f7afu, 12);
        QM_MD5_F(c, d, a, b, m[10], 0xffff5bb1u, 17);
        QM_MD5_F(b, c, d, a, m[11], 0x895cd7beu, 22);
        QM_MD5_F(a, b, c, d, m[12], 0x6b901122u, 7);
        QM_MD5_F(d, a, b, c, m[13], 0xfd987193u, 12);
        QM_MD5_F(c, d, a, b, m[14], 0xa679438eu, 17);
        QM_MD5_F(b, c, d, a, m[15], 0x49b40821u, 22);

        QM_MD5_G(a, b, c, d, m[1], 0xf61e2562u, 5);
        QM_MD5_G(d, a, b, c, m[6], 0xc040b340u, 9);
        QM_MD5_G(c, d, a, b, m[11], 0x265e5a51u, 14);
        QM_MD5_G(b, c, d, a, m[0], 0xe9b6c7aau, 20);
        QM_MD5_G(a, b, c, d, m[5], 0xd62f105du, 5);
        QM_MD5_G(d, a, b, c, m[10], 0x02441453u, 9);
        QM_MD5_G(c, d, a, b, m[15], 0xd8a1e681u, 14);
        QM_MD5_G(b, c, d, a, m[4], 0xe7d3fbc8u, 20);
        QM_MD5_G(a, b, c, d, m[9], 0x21e1cde6u, 5);
        QM_MD5_G(d, a, b, c, m[14], 0xc33707d6u, 9);
        QM_MD5_G(c, d, a, b, m[3], 0xf4d50d87u, 14);
        QM_MD5_G(b, c, d, a, m[8], 0x455a14edu, 20);
        QM_MD5_G(a, b, c, d, m[13], 0xa9e3e905u, 5);
        QM_MD5_G(d, a, b, c, m[2], 0xfcefa3f8u, 9);
        QM_MD5_G(c, d, a, b, m[7], 0x676f02d9u, 14);
        QM_MD5_G(b, c, d, a, m[12], 0x8d2a4c8au, 20);

        QM_MD5_H(a, b, c, d, m[5], 0xfffa3942u, 4);
        QM_MD5_H(d, a, b, c, m[8], 0x8771f681u, 11);
        QM_MD5_H(c, d, a, b, m[11], 0x6d9d6122u, 16);
        QM_MD5_H(b, c, d, a, m[14], 0xfde5380cu, 23);
        QM_MD5_H(a, b, c, d, m[1], 0xa4beea44u, 4);
        QM_MD5_H(d, a, b, c, m[4], 0x4bdecfa9u, 11);
        QM_MD5_H(c, d, a, b, m[7], 0xf6bb4b60u, 16);
        QM_MD5_H(b, c, d, a, m[10], 0xbebfbc70u, 23);
        QM_MD5_H(a, b, c, d, m[13], 0x289b7ec6u, 4);
        QM_MD5_H(d, a, b, c, m[0], 0xeaa127fau, 11);
        QM_MD5_H(c, d, a, b, m[3], 0xd4ef3085u, 16);
        QM_MD5_H(b, c, d, a, m[6], 0x04881d05u, 23);
        QM_MD5_H(a, b, c, d, m[9], 0xd9d4d039u, 4);
        QM_MD5_H(d, a, b, c, m[12], 0xe6db99e5u, 11);
        QM_MD5_H(c, d, a, b, m[15], 0x1fa27cf8u, 16);
        QM_MD5_H(b, c, d, a, m[2], 0xc4ac5665u, 23);

        QM_MD5_I(a, b, c, d, m[0], 0xf4292244u, 6);
        QM_MD5_I(d, a, b, c, m[7], 0x432aff97u, 10);
        QM_MD5_I(c, d, a, b, m[14], 0xab9423a7u, 15);
        QM_MD5_I(b, c, d, a, m[5], 0xfc93a039u, 21);
        QM_MD5_I(a, b, c, d, m[12], 0x655b59c3u, 6);
        QM_MD5_I(d, a, b, c, m[3], 0x8f0ccc92u, 10);
        QM_MD5_I(c, d, a, b, m[10], 0xffeff47du, 15);
        QM_MD5_I(b, c, d, a, m[1], 0x85845dd1u, 21);
        QM_MD5_I(a, b, c, d, m[8], 0x6fa87e4fu, 6);
        QM_MD5_I(d, a, b, c, m[15], 0xfe2ce6e0u, 10);
        QM_MD5_I(c, d, a, b, m[6], 0xa3014314u, 15);
        QM_MD5_I(b, c, d, a, m[13], 0x4e0811a1u, 21);
        QM_MD5_I(a, b, c, d, m[4], 0xf7537e82u, 6);
        QM_MD5_I(d, a, b, c, m[11], 0xbd3af235u, 10);
        QM_MD5_I(c, d, a, b, m[2], 0x2ad7d2bbu, 15);
        QM_MD5_I(b, c, d, a, m[9], 0xeb86d391u, 21);

        a += a0;
        b += b0;
        c += c0;
        d += d0;
    }
    state_[0] = a;
    state_[1] = b;
    state_[2] = c;
    state_[3] = d;
}

void Md5Digest::Add(const uint8_t* bytes, std::size_t size)
{
    length_ += size;
    if (held_ > 0) {
        const std::size_t n = size < 64 - held_ ? size : 64 - held_;
        std::memcpy(pending_ + held_, bytes, n);
        held_ += n;
        bytes += n;
        size -= n;
        if (held_ < 64)
            return;
        Blocks(pending_, 1);
        held_ = 0;
    }
    Blocks(bytes, size / 64);
    bytes += size / 64 * 64;
    size %= 64;
    std::memcpy(pending_, bytes, size);
    held_ = size;
}

void Md5Digest::Final(uint8_t digest[16])
{
    // A one bit, zeros to 56 bytes of the last block, the length in bits.
    const uint64_t bits = length_ * 8;
    uint8_t tail[72] = {0x80};
    const std::size_t pad = (held_ < 56 ? 56 : 120) - held_;
    for (int i = 0; i < 8; ++i)
        tail[pad + i] = uint8_t(bits >> (8 * i));
    Add(tail, pad + 8);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            digest[4 * i + j] = uint8_t(state_[i] >> (8 * j));
}
