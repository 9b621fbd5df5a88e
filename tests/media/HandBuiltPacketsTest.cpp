// What no encoder's file reaches in the media layer: the indexer over a
// packet source of hand-built packets, and a native FLAC frame libFLAC
// refuses (a sample past the stream's bit depth) that the libraries'
// decoder takes, where the reading leaves libFLAC for them.
#include "ByteChecksum.h"
#include "MovieSource.h"
#include "PeerTools.h"
#include "SourceReading.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "media_calls.h"

namespace {

// Bits written first to last, most significant first.
struct Bits {
    std::vector<uint8_t> bytes;
    int used = 8;
    void Put(uint32_t value, int count)
    {
        while (count-- > 0) {
            if (used == 8) {
                bytes.push_back(0);
                used = 0;
            }
            bytes.back() |= uint8_t(((value >> count) & 1u) << (7 - used++));
        }
    }
};

// A FLAC frame of 16-bit stereo at 44.1 kHz, `left` and `right` stored
// verbatim (`leftSide`: as left and side, the side one bit wider).
std::vector<uint8_t> FlacFrame(unsigned number, const std::vector<int>& left, const std::vector<int>& right,
                               bool leftSide)
{
    Bits b;
    b.Put(0xFFF8, 16);                  // sync, fixed blocking
    b.Put(0x6, 4);                      // block size: 8 bits of it, less one, after the number
    b.Put(0x9, 4);                      // 44.1 kHz
    b.Put(leftSide ? 0x8 : 0x1, 4);     // left/side, or independent stereo
    b.Put(0x4, 3);                      // 16 bits
    b.Put(0, 1);
    b.Put(number, 8);                   // (below 128: one byte)
    b.Put(unsigned(left.size() - 1), 8);
    b.bytes.push_back(ByteChecksum::Crc8(b.bytes.data(), b.bytes.size()));
    for (int channel = 0; channel < 2; ++channel) {
        b.Put(0x02, 8);  // verbatim, no wasted bits
        for (std::size_t i = 0; i < left.size(); ++i) {
            if (channel == 0)
                b.Put(uint32_t(left[i]) & 0xFFFFu, 16);
            else if (leftSide)
                b.Put(uint32_t(left[i] - right[i]) & 0x1FFFFu, 17);
            else
                b.Put(uint32_t(right[i]) & 0xFFFFu, 16);
        }
    }
    const uint16_t crc = ByteChecksum::Crc16(b.bytes.data(), b.bytes.size());
    b.bytes.push_back(uint8_t(crc >> 8));
    b.bytes.push_back(uint8_t(crc));
    return b.bytes;
}

void Write(const std::string& path, const std::vector<uint8_t>& bytes) { peers::WriteAll(path, bytes); }

}  // namespace

// Thirty frames of 16 samples; the third, stored as left and side, decodes
// to a right channel past 16 bits.  libFLAC's frames are refused there and
// the libraries' decoder gives it (as ffmpeg does), no silence.
TEST(HandBuiltPackets, FrameLibFlacRefusesGoesToTheLibraries)
{
    QM_REQUIRE_PEER("ffmpeg");
    TestTempDir dir;
    const std::string path = dir.file("hand.flac");
    const unsigned kFrames = 30, kBlock = 16;
    std::vector<uint8_t> file = {'f', 'L', 'a', 'C', 0x80, 0, 0, 34};
    Bits info;
    info.Put(kBlock, 16);
    info.Put(kBlock, 16);
    info.Put(0, 24);
    info.Put(0, 24);
    info.Put(44100, 20);
    info.Put(1, 3);   // two channels
    info.Put(15, 5);  // 16 bits
    info.Put(0, 4);
    info.Put(kFrames * kBlock, 32);
    info.bytes.resize(34, 0);  // no signature
    file.insert(file.end(), info.bytes.begin(), info.bytes.end());
    for (unsigned n = 0; n < kFrames; ++n) {
        std::vector<int> left(kBlock), right(kBlock);
        for (unsigned i = 0; i < kBlock; ++i) {
            left[i] = int((n * kBlock + i) * 97 % 20000) - 10000;
            right[i] = -left[i] / 2;
        }
        if (n == 2) {
            left[3] = 32767;
            right[3] = 65535;  // left less side (-32768)
        }
        const std::vector<uint8_t> frame = FlacFrame(n, left, right, n == 2);
        file.insert(file.end(), frame.begin(), frame.end());
    }
    Write(path, file);

    std::unique_ptr<MovieSource> source;
    ASSERT_EQ(MovieSource::Open(path, &source), noErr);
    EXPECT_TRUE(source->ReadsWithoutLibraries());
    ASSERT_EQ(source->FrameCount(), UInt64(kFrames * kBlock));
    const std::vector<SInt32> read = ReadInterleaved(*source, kFrames * kBlock);
    EXPECT_FALSE(source->ReadsWithoutLibraries());
    EXPECT_TRUE(read == peers::FFmpegS32(path));
    EXPECT_EQ(source->DecodeLoss().refusedPackets, 0u);
}
