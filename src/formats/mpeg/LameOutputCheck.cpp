#include "LameOutputCheck.h"

#include "FileOperations.h"

#include <QFile>

#include <array>
#include <cstdint>

namespace {

struct FrameHeader {
    bool mpeg1 = false;
    bool mono = false;
    std::int64_t length = 0;
};

// A Layer III frame header at `p`; false when it is none.
bool ParseHeader(const unsigned char* p, FrameHeader* h)
{
    static constexpr std::array<int, 15> kMpeg1Rates{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static constexpr std::array<int, 15> kMpeg2Rates{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static constexpr std::array<int, 3> kSampleRates{44100, 48000, 32000};
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return false;
    const int version = (p[1] >> 3) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int layer = (p[1] >> 1) & 3;
    const int rateIndex = p[2] >> 4;
    const int sampleIndex = (p[2] >> 2) & 3;
    if (version == 1 || layer != 1 || rateIndex == 0 || rateIndex == 15 || sampleIndex == 3)
        return false;
    h->mpeg1 = version == 3;
    h->mono = (p[3] >> 6) == 3;
    const int divisor = version == 3 ? 1 : version == 2 ? 2 : 4;
    const std::int64_t bitRate = std::int64_t(h->mpeg1 ? kMpeg1Rates[rateIndex] : kMpeg2Rates[rateIndex]) * 1000;
    const std::int64_t sampleRate = kSampleRates[std::size_t(sampleIndex)] / divisor;
    h->length = (h->mpeg1 ? 144 : 72) * bitRate / sampleRate + ((p[2] >> 1) & 1);
    return true;
}

std::uint32_t BigEndian32(const unsigned char* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

} // namespace

bool LAMEOutputComplete(const std::string& path)
{
    QFile file;
    if (!OpenFileDevice(&file, path, false))
        return false;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const std::int64_t size = bytes.size();
    // The stream lies between the ID3v2 tag (10 bytes of header, the
    // size in 7-bit bytes, a footer when flagged) and an ID3v1 tag.
    std::int64_t start = 0;
    if (size >= 10 && bytes.startsWith("ID3"))
        start = 10 + (std::int64_t(data[6] & 0x7F) << 21 | std::int64_t(data[7] & 0x7F) << 14 |
                      std::int64_t(data[8] & 0x7F) << 7 | std::int64_t(data[9] & 0x7F)) +
                ((data[5] & 0x10) ? 10 : 0);
    std::int64_t end = size;
    if (size - start >= 128 && bytes.mid(size - 128, 3) == "TAG")
        end -= 128;
    FrameHeader h;
    if (end - start < 4 || !ParseHeader(data + start, &h))
        return false;

    // The header frame: after the header and the side information.
    const std::int64_t tag = start + 4 + (h.mpeg1 ? (h.mono ? 17 : 32) : (h.mono ? 9 : 17));
    if (tag + 16 <= end && h.length >= tag + 16 - start) {
        const QByteArray word = bytes.mid(tag, 4);
        if (word == "Xing" || word == "Info") {
            const std::uint32_t flags = BigEndian32(data + tag + 4);
            const std::int64_t field = tag + 8 + ((flags & 1) ? 4 : 0);
            return (flags & 2) && field + 4 <= end && std::int64_t(BigEndian32(data + field)) == end - start;
        }
    }
    // No header frame: the frames end where the stream does.
    std::int64_t at = start;
    while (at + 4 <= end && ParseHeader(data + at, &h))
        at += h.length;
    return at == end;
}
