// What no encoder's file reaches in the media layer: the count over a
// vector of hand-built packets and the reading over a scripted decoder,
// with neither the media libraries nor a file (seeks after the pre-roll
// each codec's decoder needs, refusals, packets whose durations disagree
// with what the decoder gives); and a native FLAC frame libFLAC refuses (a
// sample past the stream's bit depth) that the libraries' decoder takes,
// where the reading leaves libFLAC for them.
#include "ByteChecksum.h"
#include "FrameDecoder.h"
#include "MovieSource.h"
#include "ListedPackets.h"
#include "PeerTools.h"
#include "SourceReading.h"
#include "TestTempDir.h"
#include "TrackCount.h"
#include "TrackReader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <vector>

#include "media_calls.h"

namespace {

// ---------------------------------------------------------------- scripted

constexpr UInt64 kPacketFrames = 100;
constexpr int kPacketBytes = 1440;  // one MPEG-1 Layer III frame of 320 kbit/s at 32 kHz

// The sample `i` of packet `k` as decoded right, and as a decoder that has
// not settled gives it.
SInt32 Sample(std::size_t k, UInt64 i) { return SInt32((k + 1) * 1000 + i + 1); }
constexpr SInt32 kUnsettled = 500000;

// What the decoder does with one packet: decodes it (giving `gives` frames,
// whatever its duration says), refuses it whole, or refuses the rest after
// giving `gives` frames.
struct Fate {
    enum Kind { Decodes, Refused, RefusesRest } kind = Decodes;
    UInt64 gives = kPacketFrames;
};

// `count` packets of kPacketFrames frames each, one after the other in the
// file; each packet's bytes name it (the decoder reads them, not its
// place), behind the header of a single-channel MPEG audio frame of their
// size.  The first may state a skip (an encoder's delay).
class VectorPackets : public ListedPackets {
public:
    VectorPackets(std::size_t count, UInt32 skip)
    {
        for (std::size_t k = 0; k < count; ++k) {
            std::vector<uint8_t> bytes(kPacketBytes, 0);
            const uint8_t header[] = {0xFF, 0xFB, 0xE8, 0xC4, uint8_t(k), uint8_t(k >> 8)};
            std::memcpy(bytes.data(), header, sizeof header);
            bytes_.push_back(std::move(bytes));
            Packet p;
            p.size = kPacketBytes;
            p.pos = 64 + int64_t(k) * kPacketBytes;
            p.pts = p.dts = int64_t(k * kPacketFrames);
            p.duration = int64_t(kPacketFrames);
            p.frames = kPacketFrames;
            p.skipStated = k == 0 && skip > 0;
            p.skip = p.skipStated ? skip : 0;
            packets_.push_back(p);
        }
    }
    int64_t End() const { return 64 + int64_t(packets_.size()) * kPacketBytes; }

    std::optional<Packet> Next() override
    {
        if (next_ >= packets_.size())
            return std::nullopt;
        Packet p = packets_[next_];
        p.data = bytes_[next_].data();
        p.ordinal = int64_t(next_++);
        return p;
    }

private:
    std::vector<Packet> packets_;
    std::vector<std::vector<uint8_t>> bytes_;
};

// A decoder that gives each packet's frames as `fates` say, one frame of
// one channel per packet.  It models the state a real decoder carries:
// after a flush, a packet decodes right only once `settle` packets before
// it were decoded in a row (-1: never; only decoding from the stream's
// start in order gives the right sound, as dither or a noise generator
// kept from the start makes it).
class ScriptedDecoder : public FrameDecoder {
public:
    ScriptedDecoder(std::vector<Fate> fates, int settle) : fates_(std::move(fates)), settle_(settle) {}

    int Send(const Packet& packet) override
    {
        const std::size_t k = std::size_t(packet.data[4] | packet.data[5] << 8);
        const Fate fate = fates_[k];
        if (fate.kind == Fate::Refused)
            return -1;
        const int consecutive = int64_t(k) == last_ + 1 ? run_ : 0;
        const bool right = (fromStart_ && k == next_) || (settle_ >= 0 && consecutive >= settle_);
        fromStart_ = fromStart_ && k == next_;
        next_ = k + 1;
        run_ = consecutive + 1;
        last_ = int64_t(k);
        std::vector<int32_t> samples(fate.gives);
        for (UInt64 i = 0; i < fate.gives; ++i)
            samples[i] = Sample(k, i) + (right ? 0 : kUnsettled);
        if (!samples.empty())
            pending_.push_back(std::move(samples));
        refuseRest_ = fate.kind == Fate::RefusesRest;
        return 0;
    }
    void SendEnd() override { ended_ = true; }
    int Receive(AVFrame** frame) override
    {
        if (!pending_.empty()) {
            plane_ = std::move(pending_.front());
            pending_.pop_front();
            frame_ = AVFrame{};
            frame_.format = AV_SAMPLE_FMT_S32P;
            frame_.nb_samples = int(plane_.size());
            frame_.sample_rate = 8000;
            frame_.ch_layout.nb_channels = 1;
            frame_.data[0] = reinterpret_cast<uint8_t*>(plane_.data());
            frame_.extended_data = frame_.data;
            *frame = &frame_;
            return 0;
        }
        if (std::exchange(refuseRest_, false))
            return AVERROR_INVALIDDATA;
        return ended_ ? AVERROR_EOF : AVERROR(EAGAIN);
    }
    void Flush() override
    {
        pending_.clear();
        fromStart_ = false;
        run_ = 0;
        last_ = -2;
    }
    OSErr Restart() override
    {
        Flush();
        fromStart_ = true;
        next_ = 0;
        last_ = -1;
        ended_ = false;
        return noErr;
    }

private:
    std::vector<Fate> fates_;
    int settle_;
    std::deque<std::vector<int32_t>> pending_;
    std::vector<int32_t> plane_;
    AVFrame frame_{};
    bool refuseRest_ = false;
    bool ended_ = false;
    bool fromStart_ = true;
    std::size_t next_ = 0;
    int run_ = 0;
    int64_t last_ = -1;
};

// A single-channel track at 8 kHz of `codec`, its packets `packets`, counted
// and read as a movie source counts and reads one.
struct ScriptedTrack {
    ScriptedTrack(AVCodecID codec, bool floats, std::vector<Fate> fates, int settle, UInt32 skip, int64_t bytesAfter)
        : packets(fates.size(), skip), decoder(std::move(fates), settle)
    {
        track.path = "scripted";
        track.codec = CodecTraits::Of(codec);
        track.rate = 8000;
        track.channels = 1;
        track.timeBaseDen = track.streamRate = 8000;
        track.decoderFloats = floats;
        track.fileBytes = packets.End() + bytesAfter;
    }

    OSErr Open()
    {
        TrackCount count(track, std::make_unique<TrackLengthRule>(), nullptr);
        count.IndexPackets(packets, &decoder);
        if (const OSErr err = count.SettlePackets(); err != noErr)
            return err;
        if (count.CountedFromPackets()) {
            count.TakePacketCount();
            if (const OSErr err = count.DropUndecodableEnd(packets, decoder); err != noErr)
                return err;
        } else {
            count.BeginDecodingCount();
            packets.Rewind();
            decoder.Restart();
            if (const OSErr err = count.CountByDecoding(packets, decoder); err != noErr)
                return err;
        }
        count.Settle();
        result = std::move(count).Result();
        packets.Rewind();
        decoder.Restart();
        TrackReader::Plan plan;
        plan.shape = {1, 8000, track.codec.channelModeChanges};
        plan.codec = track.codec;
        plan.indexed = result.indexed;
        plan.seekExact = result.seekExact;
        reader = std::make_unique<TrackReader>(packets, decoder, result.index, result.verdict, plan, FlacStreamCheck());
        return reader->Start();
    }

    std::vector<SInt32> Read(UInt64 frames)
    {
        std::vector<SInt32> out(frames);
        SInt32* plane = out.data();
        UInt32 delivered = 0;
        EXPECT_EQ(reader->Read(&plane, UInt32(frames), &delivered), noErr);
        out.resize(delivered);
        return out;
    }

    TrackDescription track;
    VectorPackets packets;
    ScriptedDecoder decoder;
    CountResult result;
    std::unique_ptr<TrackReader> reader;
};

// How each codec's decoder settles after a seek, as the real ones do: one
// that decodes each packet alone settles at once; MPEG Layer III decoded to
// floats needs the packets its bit reservoir and overlap reach back into
// (up to six at the lowest rates); the fixed-point MPEG decoders carry
// dither, and AAC its noise generator, from the stream's start.
struct SeekCase {
    const char* name;
    AVCodecID codec;
    bool floats;
    int settle;
};

class SeekPreRoll : public testing::TestWithParam<SeekCase> {};

// Every codec whose packets tell the frames (the reading sought by the
// index), its stream starting with an encoder's delay of a packet and a
// half: a read from any frame after a seek back gives what a read from
// the start gave.
TEST_P(SeekPreRoll, SeekingBackGivesWhatTheStartGave)
{
    const SeekCase& c = GetParam();
    ScriptedTrack t(c.codec, c.floats, std::vector<Fate>(64), c.settle, 150, 0);
    ASSERT_EQ(t.Open(), noErr);
    const UInt64 frames = 64 * kPacketFrames - 150;
    ASSERT_EQ(t.result.verdict.Frames(), frames);
    const std::vector<SInt32> whole = t.Read(frames);
    ASSERT_EQ(whole.size(), frames);
    for (UInt64 i = 0; i < frames; ++i)
        ASSERT_EQ(whole[i], Sample(std::size_t((i + 150) / kPacketFrames), (i + 150) % kPacketFrames)) << i;
    for (const UInt64 target : {UInt64(6000), UInt64(3071), UInt64(850), UInt64(10), UInt64(0), UInt64(4999)}) {
        ASSERT_EQ(t.reader->Seek(target), noErr) << target;
        const std::vector<SInt32> part = t.Read(300);
        const std::vector<SInt32> expected(whole.begin() + std::ptrdiff_t(target),
                                           whole.begin() + std::ptrdiff_t(std::min(frames, target + 300)));
        EXPECT_TRUE(part == expected) << c.name << " from " << target;
    }
    EXPECT_EQ(t.result.verdict.Loss().refusedPackets + t.result.verdict.Loss().silencedFrames, 0u);
}

INSTANTIATE_TEST_SUITE_P(Codecs, SeekPreRoll,
                         testing::Values(SeekCase{"mp3_float", AV_CODEC_ID_MP3, true, 6},
                                         SeekCase{"mp3_fixed", AV_CODEC_ID_MP3, false, -1},
                                         SeekCase{"mp2", AV_CODEC_ID_MP2, false, -1},
                                         SeekCase{"mp1", AV_CODEC_ID_MP1, false, -1},
                                         SeekCase{"aac", AV_CODEC_ID_AAC, true, -1},
                                         SeekCase{"alac", AV_CODEC_ID_ALAC, false, 0},
                                         SeekCase{"flac", AV_CODEC_ID_FLAC, false, 0},
                                         SeekCase{"ima_qt", AV_CODEC_ID_ADPCM_IMA_QT, false, 0},
                                         SeekCase{"ima_wav", AV_CODEC_ID_ADPCM_IMA_WAV, false, 0},
                                         SeekCase{"alaw", AV_CODEC_ID_PCM_ALAW, false, 0}),
                         [](const testing::TestParamInfo<SeekCase>& info) { return std::string(info.param.name); });

// Eight packets, one of which (`at`) the decoder refuses or decodes to
// another length than its duration, in a codec whose packets tell the
// frames (A-law: the index trims what is decoded) or not (Opus: counted by
// decoding); what the count and the reading say of it.
struct ScriptCase {
    const char* name;
    AVCodecID codec;
    int at;
    Fate fate;
    int64_t bytesAfter;  // of the file after the last packet
    UInt64 frames;       // the track's
    bool cut;
    bool damaged;
    UInt64 refused, silenced, missing;
};

class ScriptedDecoding : public testing::TestWithParam<ScriptCase> {};

TEST_P(ScriptedDecoding, SaysWhatTheDecoderGaveAndReadsIt)
{
    const ScriptCase& c = GetParam();
    std::vector<Fate> fates(8);
    fates[std::size_t(c.at)] = c.fate;
    ScriptedTrack t(c.codec, false, fates, 0, 0, c.bytesAfter);
    ASSERT_EQ(t.Open(), noErr);
    // What a reader expects, packet by packet: where the packets tell the
    // frames, each gives its duration (trimmed), or silence for the whole
    // of it where the decoder refuses it or gives fewer (what a packet
    // that decodes short gave cannot be trusted); where they do not, what
    // the decoder gives is the track.  A packet refused at the very end is
    // none of the track's, nor is a first one that decodes to nothing (it
    // only primes the decoder).
    const bool indexed = t.result.indexed;
    std::vector<SInt32> expected;
    for (std::size_t k = 0; k < fates.size(); ++k) {
        const UInt64 given = fates[k].kind == Fate::Refused ? 0 : fates[k].gives;
        if (indexed && k + 1 == fates.size() && given == 0)
            break;
        const bool primes = k == 0 && fates[k].kind == Fate::Decodes && given == 0;
        const UInt64 length = indexed && !primes ? kPacketFrames : given;
        const bool whole = !indexed || given >= kPacketFrames;
        for (UInt64 i = 0; i < length; ++i)
            expected.push_back(i < given && whole ? Sample(k, i) : 0);
    }
    const std::vector<SInt32> read = t.Read(t.result.verdict.Frames());
    EXPECT_TRUE(read == expected) << c.name;
    const TrackVerdict& v = t.result.verdict;
    EXPECT_EQ(v.Frames(), c.frames);
    EXPECT_EQ(v.Cut(), c.cut);
    EXPECT_EQ(v.Damaged(), c.damaged);
    EXPECT_EQ(v.Loss().refusedPackets, c.refused);
    EXPECT_EQ(v.Loss().silencedFrames, c.silenced);
    EXPECT_EQ(v.Loss().missingFrames, c.missing);
}

constexpr Fate kRefused{Fate::Refused, 0};
constexpr AVCodecID kIndexed = AV_CODEC_ID_PCM_ALAW;
constexpr AVCodecID kDecoded = AV_CODEC_ID_OPUS;

INSTANTIATE_TEST_SUITE_P(
    Fates, ScriptedDecoding,
    testing::Values(
        ScriptCase{"indexed_whole", kIndexed, 0, {}, 0, 800, false, false, 0, 0, 0},
        ScriptCase{"indexed_first_refused", kIndexed, 0, kRefused, 0, 800, false, false, 1, 100, 0},
        ScriptCase{"indexed_middle_refused", kIndexed, 3, kRefused, 0, 800, false, false, 1, 100, 0},
        ScriptCase{"indexed_last_refused_at_the_end", kIndexed, 7, kRefused, 0, 700, true, false, 0, 0, 0},
        ScriptCase{"indexed_last_refused_before_more", kIndexed, 7, kRefused, 10, 700, false, false, 1, 0, 100},
        ScriptCase{"indexed_middle_refuses_its_rest", kIndexed, 3, {Fate::RefusesRest, 40}, 0, 800, false, true, 1,
                   100, 0},
        ScriptCase{"indexed_middle_gives_fewer", kIndexed, 3, {Fate::Decodes, 90}, 0, 800, false, false, 1, 100, 0},
        ScriptCase{"indexed_middle_gives_more", kIndexed, 3, {Fate::Decodes, 110}, 0, 800, false, false, 0, 0, 0},
        ScriptCase{"indexed_first_only_primes", AV_CODEC_ID_AAC, 0, {Fate::Decodes, 0}, 0, 700, false, false, 0, 0,
                   0},
        ScriptCase{"decoded_whole", kDecoded, 0, {}, 0, 800, false, false, 0, 0, 0},
        ScriptCase{"decoded_first_refused", kDecoded, 0, kRefused, 0, 700, false, false, 1, 0, 100},
        ScriptCase{"decoded_middle_refused", kDecoded, 3, kRefused, 0, 700, false, false, 1, 0, 100},
        ScriptCase{"decoded_last_refused", kDecoded, 7, kRefused, 0, 700, false, false, 1, 0, 100},
        ScriptCase{"decoded_middle_refuses_its_rest", kDecoded, 3, {Fate::RefusesRest, 40}, 0, 740, false, false, 1,
                   0, 100},
        ScriptCase{"decoded_middle_gives_fewer", kDecoded, 3, {Fate::Decodes, 90}, 0, 790, false, false, 0, 0, 0},
        ScriptCase{"decoded_middle_gives_more", kDecoded, 3, {Fate::Decodes, 110}, 0, 810, false, false, 0, 0, 0}),
    [](const testing::TestParamInfo<ScriptCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- FLAC


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
