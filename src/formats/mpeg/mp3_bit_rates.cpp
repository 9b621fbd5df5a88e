#include "mp3_bit_rates.h"

#include "FileOperations.h"

#include <QFile>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// kbit/s by bit-rate index (1 to 14): MPEG-1, then MPEG-2 and 2.5.
constexpr int kLayerIIIRates[2][15] = {
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
};
// Hz by sample-rate index (0 to 2): MPEG-1, MPEG-2, MPEG-2.5.
constexpr int kSampleRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

struct Frame {
    int kbits = 0;
    int64_t length = 0;  // bytes, header included
    int sideInfo = 0;    // bytes of side information after the header
    bool checkWord = false;  // a check word after the header
};

// The Layer III frame whose header starts at `p` (4 bytes there), or none
// (a length of 0).
Frame FrameAt(const uchar* p)
{
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return {};
    const int version = (p[1] >> 3) & 3;  // 0: 2.5, 2: 2, 3: 1 (1 is reserved)
    const int layer = (p[1] >> 1) & 3;    // 1: Layer III
    const int rateIndex = p[2] >> 4;
    const int srIndex = (p[2] >> 2) & 3;
    if (version == 1 || layer != 1 || rateIndex == 0 || rateIndex == 15 || srIndex == 3)
        return {};
    const bool mpeg1 = version == 3;
    const bool mono = (p[3] >> 6) == 3;
    const int kbits = kLayerIIIRates[mpeg1 ? 0 : 1][rateIndex];
    const int rate = kSampleRates[mpeg1 ? 0 : version == 2 ? 1 : 2][srIndex];
    const int padding = (p[2] >> 1) & 1;
    return {kbits, int64_t(mpeg1 ? 144000 : 72000) * kbits / rate + padding,
            mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17), (p[1] & 1) == 0};
}

// The rate in the encoder's tag of the frame at `p` ("Xing" or "Info" after
// the side information, its optional fields, then "LAME" with the rate 20
// bytes on), or 0.  With a check word in the header the tag may come
// after it or, as the encoder writes it, where it would be without one.
int EncoderTarget(const uchar* p, const Frame& frame)
{
    auto tagAt = [&](int64_t at) {
        return at + 8 <= frame.length &&
               (std::memcmp(p + at, "Xing", 4) == 0 || std::memcmp(p + at, "Info", 4) == 0);
    };
    int64_t at = 4 + frame.sideInfo;
    if (!tagAt(at) && !(frame.checkWord && tagAt(at += 2)))
        return 0;
    const uchar flags = p[at + 7];
    const int64_t tag = at + 8 + ((flags & 1) ? 4 : 0) + ((flags & 2) ? 4 : 0) + ((flags & 4) ? 100 : 0) +
                        ((flags & 8) ? 4 : 0);
    if (tag + 21 > frame.length || std::memcmp(p + tag, "LAME", 4) != 0)
        return 0;
    const int kbits = p[tag + 20];
    return kbits < 255 ? kbits : 0;
}

}  // namespace

MP3BitRates ReadMP3BitRates(const std::string& path)
{
    MP3BitRates rates;
    QFile file;
    if (!OpenFileDevice(&file, path, false) || file.size() < 4)
        return rates;
    const int64_t size = file.size();
    const uchar* data = file.map(0, size);
    if (!data)
        return rates;
    // An ID3v2 tag first: its size is in the 7-bit bytes of its header,
    // and a footer adds 10 more.
    int64_t at = 0;
    while (size - at >= 10 && data[at] == 'I' && data[at + 1] == 'D' && data[at + 2] == '3') {
        const int64_t body = int64_t(data[at + 6] & 0x7F) << 21 | int64_t(data[at + 7] & 0x7F) << 14 |
                             int64_t(data[at + 8] & 0x7F) << 7 | int64_t(data[at + 9] & 0x7F);
        at += 10 + body + ((data[at + 5] & 0x10) ? 10 : 0);
    }
    // The first frame: where two frames follow one another (padding after
    // the tag is skipped).
    const int64_t searchEnd = std::min(size - 4, at + 65536);
    bool found = false;
    while (!found && at < searchEnd) {
        const Frame first = FrameAt(data + at);
        found = first.length > 0 && at + first.length + 4 <= size && FrameAt(data + at + first.length).length > 0;
        if (found)
            rates.encoderTarget = EncoderTarget(data + at, first);
        else
            ++at;
    }
    while (found && at + 4 <= size) {
        const Frame frame = FrameAt(data + at);
        if (frame.length <= 0)
            break;
        rates.highestFrame = std::max(rates.highestFrame, frame.kbits);
        at += frame.length;
    }
    file.unmap(const_cast<uchar*>(data));
    return rates;
}
