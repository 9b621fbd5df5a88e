// What no encoder's file reaches in the media layer: the indexer over a
// packet source of hand-built packets, and a native FLAC frame libFLAC
// refuses (a sample past the stream's bit depth) that the libraries'
// decoder takes, where the reading leaves libFLAC for them.
#include "ByteChecksum.h"
#include "MovieSource.h"
#include "PacketSource.h"
#include "PeerTools.h"
#include "SourceReading.h"
#include "TestTempDir.h"
#include "TrackIndexer.h"

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

// The packets it is given, handed out in order as the demuxer would.
class FakePackets : public PacketSource {
public:
    struct Packet {
        int64_t pos;
        std::vector<uint8_t> bytes;
        int64_t duration;
    };
    FakePackets(TrackState& track, std::vector<Packet> packets) : track_(track), packets_(std::move(packets)) {}

    bool Next() override
    {
        const std::size_t k = std::size_t(track_.packetOrdinal + 1);
        if (k >= packets_.size())
            return false;
        AVPacket* p = track_.packet;
        av_packet_unref(p);
        if (av_new_packet(p, int(packets_[k].bytes.size())) < 0)
            return false;
        std::memcpy(p->data, packets_[k].bytes.data(), packets_[k].bytes.size());
        p->pos = packets_[k].pos;
        p->pts = p->dts = start_[k] = k == 0 ? 0 : start_[k - 1] + packets_[k - 1].duration;
        p->duration = packets_[k].duration;
        p->stream_index = track_.stream;
        p->flags = AV_PKT_FLAG_KEY;
        track_.packetOrdinal = int64_t(k);
        return true;
    }
    const uint8_t* Data() const override { return track_.packet->data; }
    std::size_t Size() const override { return std::size_t(track_.packet->size); }

private:
    TrackState& track_;
    std::vector<Packet> packets_;
    int64_t start_[16] = {};
};

void Write(const std::string& path, const std::vector<uint8_t>& bytes) { peers::WriteAll(path, bytes); }

}  // namespace

// The indexer counts what the source gives, whatever the demuxer would:
// three packets of a WAVE file's data, of 100, 100 and 50 frames.
TEST(HandBuiltPackets, IndexerCountsTheSourcesPackets)
{
    if (!MediaLibraries::Available())
        GTEST_SKIP() << "no media libraries";
    TestTempDir dir;
    const std::string wav = dir.file("hand.wav");
    const uint32_t data = 1000;
    std::vector<uint8_t> bytes = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,
                                  1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0,
                                  'd', 'a', 't', 'a'};
    for (int i = 0; i < 4; ++i)
        bytes.push_back(uint8_t(data >> (8 * i)));
    const uint32_t riff = uint32_t(bytes.size()) - 8 + data;
    for (int i = 0; i < 4; ++i)
        bytes[4 + i] = uint8_t(riff >> (8 * i));
    for (uint32_t i = 0; i < data; ++i)
        bytes.push_back(uint8_t(i * 7));
    Write(wav, bytes);

    TrackIndexer track;
    track.path = wav;
    track.verdict = TrackVerdict(wav);
    ASSERT_EQ(track.OpenStreams(true), noErr);
    const AVStream* st = track.format->streams[track.stream];
    track.codecID = st->codecpar->codec_id;
    track.sampleRate = 44100;
    track.channels = 2;
    track.kind = ContainerKind::Wave;
    track.containerTraits = &ContainerTraits::Of(track.kind);
    track.codecTraits = CodecTraits::Of(track.codecID);
    const auto slice = [&](int64_t pos, std::size_t size) {
        return std::vector<uint8_t>(bytes.begin() + pos, bytes.begin() + pos + std::ptrdiff_t(size));
    };
    const int64_t perFrame = av_rescale_q(1, AVRational{1, 44100}, st->time_base);
    track.packets = std::make_unique<FakePackets>(
        track, std::vector<FakePackets::Packet>{{44, slice(44, 400), 100 * perFrame},
                                                {444, slice(444, 400), 100 * perFrame},
                                                {844, slice(844, 200), 50 * perFrame}});
    ASSERT_EQ(track.Count(), noErr);
    ASSERT_EQ(track.index.size(), 3u);
    EXPECT_EQ(track.verdict.Frames(), 250u);
    EXPECT_EQ(track.dataBytes, 1000u);
    EXPECT_EQ(track.packetsEnd, 1044);
    const UInt64 starts[] = {0, 100, 200};
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(track.index[k].start, starts[k]) << k;
        EXPECT_EQ(track.index[k].bytes, k < 2 ? 400u : 200u) << k;
        EXPECT_TRUE(track.index[k].seekable) << k;
    }
    EXPECT_FALSE(track.verdict.Cut());
    EXPECT_FALSE(track.verdict.Damaged());
}

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
