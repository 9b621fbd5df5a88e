#include "g711.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace {

// Upper ends of the mu-law segments, on the biased 16-bit scale.
constexpr int16_t kMuLawSegmentEnd[8] = {0x00FF, 0x01FF, 0x03FF, 0x07FF, 0x0FFF, 0x1FFF, 0x3FFF, 0x7FFF};

// Upper ends of the A-law segments, on the 12-bit magnitude scale.
constexpr int kALawSegmentEnd[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};

int clamp16(int sample)
{
    return sample < -32768 ? -32768 : (sample > 32767 ? 32767 : sample);
}

// The G.711 A-law compression of one 16-bit sample.  Negative samples take
// the one's complement as their magnitude, so that the quantiser is
// symmetric about -0.5 over the whole 16-bit range (x and -1 - x get codes
// that differ only in the sign bit).
unsigned char compress_alaw(int sample)
{
    unsigned char mask;
    int magnitude; // 0..4095
    if (sample >= 0) {
        magnitude = sample >> 3;
        mask = 0xD5; // sign bit set, even bits inverted
    } else {
        magnitude = (-sample - 1) >> 3;
        mask = 0x55;
    }
    int segment = 0;
    while (segment < 8 && magnitude > kALawSegmentEnd[segment])
        ++segment;
    if (segment >= 8)
        return static_cast<unsigned char>(0x7F ^ mask);
    const int mantissa = (segment < 2 ? magnitude >> 1 : magnitude >> segment) & 0x0F;
    return static_cast<unsigned char>(((segment << 4) | mantissa) ^ mask);
}

using ALawTable = std::array<unsigned char, 65536>;

const ALawTable& alaw_table()
{
    // Built on first use; the initialisation of a local static is
    // thread-safe, so concurrent first callers wait for one build.
    static const ALawTable table = [] {
        ALawTable t{};
        for (int i = 0; i < 65536; ++i)
            t[static_cast<std::size_t>(i)] = compress_alaw(i - 32768);
        return t;
    }();
    return table;
}

} // namespace

unsigned char LoadRawALawTable(int sample)
{
    return alaw_table()[static_cast<std::size_t>(clamp16(sample) + 32768)];
}

int alaw2linear(unsigned char alaw)
{
    const int a = alaw ^ 0x55;
    int t = (a & 0x0F) << 4;
    const int segment = (a & 0x70) >> 4;
    if (segment == 0)
        t += 8;
    else if (segment == 1)
        t += 0x108;
    else
        t = (t + 0x108) << (segment - 1);
    return (a & 0x80) ? t : -t;
}

unsigned char linear2ulaw(int sample)
{
    int x = clamp16(sample);
    unsigned char mask;
    if (x < 0) {
        x = 132 - x;
        mask = 0x7F;
    } else {
        x += 132;
        mask = 0xFF;
    }
    int segment = 0;
    while (segment < 8 && kMuLawSegmentEnd[segment] < x)
        ++segment;
    if (segment >= 8)
        return static_cast<unsigned char>(0x7F ^ mask);
    return static_cast<unsigned char>(((segment << 4) | ((x >> (segment + 3)) & 0x0F)) ^ mask);
}

int ulaw2linear(unsigned char ulaw)
{
    const int u = ~ulaw & 0xFF;
    const int t = (((u & 0x0F) << 3) + 0x84) << ((u & 0x70) >> 4);
    return (u & 0x80) ? (0x84 - t) : (t - 0x84);
}
