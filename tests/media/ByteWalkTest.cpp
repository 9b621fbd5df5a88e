// The container rules' byte walks on files built byte by byte: each walk
// reads what the intact file states, and tells each damage of its kind.
#include "AsfLengthRule.h"
#include "ByteChecksum.h"
#include "CafLengthRule.h"
#include "ContainerTraits.h"
#include "FlacEndRule.h"
#include "FlacLengthRule.h"
#include "MatroskaLengthRule.h"
#include "Md5Digest.h"
#include "Mp4LengthRule.h"
#include "MpegFrameSizeRule.h"
#include "OggLengthRule.h"
#include "PacketShapeRule.h"
#include "PositionedFile.h"
#include "RawStreamLengthRule.h"
#include "TestTempDir.h"
#include "WaveDataRule.h"
#include "WaveFactRule.h"

#include "../fuzz/ContainerFuzzSeeds.h"

#include <QCryptographicHash>
#include <gtest/gtest.h>

#include <fstream>

using namespace containerseeds;

namespace {

TEST(ByteChecksum, MatchesTheCatalogueChecks)
{
    const Bytes text{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(ByteChecksum::Crc8(text.data(), text.size()), 0xF4);
    EXPECT_EQ(ByteChecksum::Crc16(text.data(), text.size()), 0xFEE8);
    EXPECT_EQ(ByteChecksum::Crc16Reflected(text.data(), text.size()), 0xBB3D);
    EXPECT_EQ(ByteChecksum::Crc32(text.data(), text.size()), 0x89A1897Fu);  // CRC-32/CKSUM before its inversion
    EXPECT_EQ(~ByteChecksum::Crc32Reflected(text.data(), text.size(), 0xFFFFFFFFu), 0xCBF43926u);  // CRC-32 (zlib)
    // In pieces, as over a stream read in blocks.
    EXPECT_EQ(ByteChecksum::Crc32(text.data() + 4, 5, ByteChecksum::Crc32(text.data(), 4)), 0x89A1897Fu);
}

// A CRC one bit at a time, most significant first or (reflected) least.
uint32_t BitByBit(const uint8_t* data, std::size_t bytes, uint32_t crc, int bits, uint32_t poly, bool reflected)
{
    const uint32_t mask = bits == 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
    for (std::size_t i = 0; i < bytes; ++i)
        for (int k = 0; k < 8; ++k) {
            if (reflected) {
                const bool out = ((crc ^ (data[i] >> k)) & 1) != 0;
                crc = (crc >> 1) ^ (out ? poly : 0);
            } else {
                const bool out = (((crc >> (bits - 1)) ^ (data[i] >> (7 - k))) & 1) != 0;
                crc = ((crc << 1) ^ (out ? poly : 0)) & mask;
            }
        }
    return crc;
}

// Runs of every length class the faster paths take (bytes one by one,
// groups of 16, the 64-byte folding and its tail), at odd addresses, from
// a running CRC, against the bit-by-bit division.
TEST(ByteChecksum, LongRunsAgreeWithTheBitByBitDivision)
{
    Bytes data(70000);
    uint32_t seed = 12345;
    for (auto& b : data)
        b = uint8_t((seed = seed * 1103515245u + 12345u) >> 16);
    for (const std::size_t length : {0, 7, 15, 16, 17, 63, 64, 255, 256, 257, 1000, 4099, 65536, 69990}) {
        for (const std::size_t offset : {0, 3}) {
            const uint8_t* p = data.data() + offset;
            const uint32_t from = uint32_t(length * 2654435761u);
            SCOPED_TRACE(testing::Message() << length << " bytes from " << offset);
            EXPECT_EQ(ByteChecksum::Crc8(p, length, uint8_t(from)), BitByBit(p, length, uint8_t(from), 8, 0x07, false));
            EXPECT_EQ(ByteChecksum::Crc16(p, length, uint16_t(from)),
                      BitByBit(p, length, uint16_t(from), 16, 0x8005, false));
            EXPECT_EQ(ByteChecksum::Crc16Reflected(p, length, uint16_t(from)),
                      BitByBit(p, length, uint16_t(from), 16, 0xA001, true));
            EXPECT_EQ(ByteChecksum::Crc32(p, length, from), BitByBit(p, length, from, 32, 0x04C11DB7u, false));
        }
    }
}

// Every length the padding treats apart (up to 55 bytes in the last
// block, 56 to 63, whole blocks), fed whole, a byte at a time and in odd
// pieces that straddle blocks, against Qt's MD5.
TEST(Md5Digest, AgreesWithAnotherMd5InAnyPieces)
{
    Bytes data(70000);
    uint32_t seed = 777;
    for (auto& b : data)
        b = uint8_t((seed = seed * 1103515245u + 12345u) >> 16);
    for (const std::size_t length : {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 128, 1000, 69999}) {
        const QByteArray expected = QCryptographicHash::hash(
            QByteArrayView(reinterpret_cast<const char*>(data.data()), qsizetype(length)), QCryptographicHash::Md5);
        for (const std::size_t piece : {std::size_t(1), std::size_t(3), std::size_t(64), std::size_t(100), length + 1}) {
            SCOPED_TRACE(testing::Message() << length << " bytes in pieces of " << piece);
            Md5Digest md5;
            md5.Add(data.data(), 0);
            for (std::size_t at = 0; at < length; at += piece)
                md5.Add(data.data() + at, std::min(piece, length - at));
            uint8_t digest[16];
            md5.Final(digest);
            EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(digest), 16).toHex(), expected.toHex());
        }
    }
}

TEST(PositionedFile, ReadsAndViewsAFileAndBytesAlike)
{
    TestTempDir dir;
    Bytes bytes(3 << 19);  // a window and a half
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i * 7 + i / 256);
    const std::string path = dir.file("bytes");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    PositionedFile file(path);
    PositionedFile memory(bytes);
    for (PositionedFile* f : {&file, &memory}) {
        ASSERT_EQ(f->Size(), int64_t(bytes.size()));
        for (const int64_t at : {int64_t(0), int64_t(1 << 20) - 3, int64_t(bytes.size()) - 8}) {
            const uint8_t* p = f->View(at, 8);
            ASSERT_NE(p, nullptr) << at;
            EXPECT_EQ(std::memcmp(p, &bytes[std::size_t(at)], 8), 0) << at;
        }
        EXPECT_EQ(f->View(int64_t(bytes.size()) - 4, 8), nullptr);
        // Views walking forward, overlapping what the window holds, some
        // wider than it, then one back to the start.
        for (int64_t at = 0, step = 0; at < int64_t(bytes.size()); at += 100000 + step, step += 37000) {
            const std::size_t count = std::size_t(std::min<int64_t>(int64_t(bytes.size()) - at, 200000 + 9 * step));
            const uint8_t* p = f->View(at, count);
            ASSERT_NE(p, nullptr) << at;
            EXPECT_EQ(std::memcmp(p, &bytes[std::size_t(at)], count), 0) << at << " " << count;
        }
        ASSERT_NE(f->View(0, 16), nullptr);
        EXPECT_EQ(std::memcmp(f->View(0, 16), bytes.data(), 16), 0);
        uint8_t tail[8];
        EXPECT_EQ(f->Read(int64_t(bytes.size()) - 4, tail, 8), 4u);
        EXPECT_EQ(f->Read(int64_t(bytes.size()), tail, 8), 0u);
    }
    PositionedFile missing(dir.file("none"));
    EXPECT_FALSE(missing.IsOpen());
}

OggLengthRule::Pages WalkOgg(const Bytes& bytes)
{
    PositionedFile file(bytes);
    OggLengthRule::Pages pages;
    EXPECT_TRUE(OggLengthRule::Walk(file, &pages));
    return pages;
}

TEST(OggWalk, TellsThePageSequenceAndTheEnd)
{
    const std::vector<Bytes> pages = OggOpusPages(7, 6);
    {
        const auto intact = WalkOgg(Join(pages));
        EXPECT_EQ(intact.lastGranule, 5760);
        EXPECT_TRUE(intact.endMarked);
        EXPECT_FALSE(intact.damaged);
        EXPECT_EQ(intact.missingPages + intact.repeatedGranules + intact.lateGranules + intact.tailGranules, 0);
    }
    std::vector<Bytes> dropped = pages;
    dropped.erase(dropped.begin() + 4);
    EXPECT_EQ(WalkOgg(Join(dropped)).missingPages, 1);
    std::vector<Bytes> repeated = pages;
    repeated.insert(repeated.begin() + 4, pages[4]);
    EXPECT_EQ(WalkOgg(Join(repeated)).repeatedGranules, 960);
    std::vector<Bytes> swapped = pages;
    std::swap(swapped[4], swapped[5]);
    EXPECT_EQ(WalkOgg(Join(swapped)).lateGranules, 960);
    std::vector<Bytes> unended(pages.begin(), pages.end() - 1);
    EXPECT_FALSE(WalkOgg(Join(unended)).endMarked);
    Bytes cut = Join(pages);
    cut.resize(cut.size() - 10);
    EXPECT_TRUE(WalkOgg(cut).endsInsidePage);
    Bytes flipped = Join(pages);
    flipped[flipped.size() - 60] ^= 1;
    EXPECT_TRUE(WalkOgg(flipped).damaged);
    // Zeros over the last two pages: their sound at the stream's bytes per
    // granule.
    Bytes zeros = Join(pages);
    std::fill(zeros.end() - std::ptrdiff_t(pages[6].size() + pages[7].size()), zeros.end(), 0);
    const auto tail = WalkOgg(zeros);
    EXPECT_NEAR(double(tail.tailGranules), 1920, 100);
}

TEST(OggWalk, FollowsAChain)
{
    std::vector<Bytes> chain = OggOpusPages(7, 3);
    const std::vector<Bytes> second = OggOpusPages(9, 4, true, 120);
    chain.insert(chain.end(), second.begin(), second.end());
    const auto whole = WalkOgg(Join(chain));
    EXPECT_EQ(whole.streams, 2);
    EXPECT_EQ(whole.laterGranules, 4 * 960 - 120);
    EXPECT_EQ(whole.unendedLinks, 0);
    // The second stream's first page lost: its sound is stated all the same.
    std::vector<Bytes> headless = chain;
    headless.erase(headless.begin() + 5);
    const auto orphan = WalkOgg(Join(headless));
    EXPECT_TRUE(orphan.damaged);
    EXPECT_EQ(orphan.laterGranules, 4 * 960);
    // The first stream's last page lost: it never ended.
    chain.erase(chain.begin() + 4);
    EXPECT_EQ(WalkOgg(Join(chain)).unendedLinks, 1);
}

TEST(AsfWalk, TellsObjectsRepeatedAndTakenOut)
{
    const auto walk = [](const std::vector<uint32_t>& times, AsfLengthRule::Objects* objects) {
        PositionedFile file(Asf(256, times, 46 * times.size()));
        AsfLengthRule::Header header;
        EXPECT_TRUE(AsfLengthRule::ReadHeader(file, &header));
        EXPECT_EQ(header.packetBytes, 256u);
        EXPECT_EQ(header.dataPackets, times.size());
        EXPECT_EQ(header.prerollMs, 3100u);
        return AsfLengthRule::WalkPackets(file, header, 0, objects);
    };
    AsfLengthRule::Objects intact, repeated, missing;
    ASSERT_TRUE(walk({0, 46, 92, 139, 185, 232}, &intact));
    EXPECT_EQ(intact.repeatedMs + intact.missingMs, 0);
    ASSERT_TRUE(walk({0, 46, 92, 92, 139, 185}, &repeated));
    EXPECT_EQ(repeated.repeatedMs, 46);
    ASSERT_TRUE(walk({0, 46, 92, 278, 325, 371}, &missing));
    EXPECT_EQ(missing.gaps, 1);
    EXPECT_EQ(missing.missingMs, 278 - 92 - 46);
}

TEST(MatroskaWalk, ReadsTheDurationAndTellsACut)
{
    const Bytes whole = Matroska(1500.0, 400);
    PositionedFile file(whole);
    MatroskaLengthRule::Layout layout;
    ASSERT_TRUE(MatroskaLengthRule::Walk(file, &layout));
    EXPECT_DOUBLE_EQ(layout.durationSeconds, 1.5);
    EXPECT_FALSE(layout.cut);
    for (const std::size_t keep : {whole.size() - 10, whole.size() / 2}) {
        PositionedFile cut(Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(keep)));
        MatroskaLengthRule::Layout cutLayout;
        ASSERT_TRUE(MatroskaLengthRule::Walk(cut, &cutLayout));
        EXPECT_TRUE(cutLayout.cut) << keep;
    }
}

TEST(BoxAndChunkWalks, TellCutsFromWholeFiles)
{
    const auto cutBefore = [](Bytes b) {
        PositionedFile f(std::move(b));
        return Mp4LengthRule::CutBeforeMovieBox(f);
    };
    const auto whole = [](Bytes b) {
        PositionedFile f(std::move(b));
        return Mp4LengthRule::BoxesWhole(f);
    };
    const Bytes mp4 = Mp4(300, 64);
    EXPECT_FALSE(cutBefore(mp4));
    EXPECT_TRUE(whole(mp4));
    EXPECT_TRUE(cutBefore(Bytes(mp4.begin(), mp4.begin() + 200)));
    EXPECT_FALSE(whole(Bytes(mp4.begin(), mp4.end() - 1)));
    Bytes zeroed = mp4;
    std::fill(zeroed.end() - 72, zeroed.end(), 0);
    EXPECT_TRUE(cutBefore(zeroed));

    const auto cafCut = [](Bytes b) {
        PositionedFile f(std::move(b));
        return CafLengthRule::CutInsideChunk(f);
    };
    const Bytes caf = Caf(400, 16);
    EXPECT_FALSE(cafCut(caf));
    EXPECT_TRUE(cafCut(Bytes(caf.begin(), caf.end() - 4)));

    const auto flacCut = [](Bytes b) {
        PositionedFile f(std::move(b));
        return FlacLengthRule::CutInMetadata(f);
    };
    const Bytes flac = FlacMetadata(500);
    EXPECT_FALSE(flacCut(flac));
    EXPECT_TRUE(flacCut(Bytes(flac.begin(), flac.begin() + 200)));

    // A WAVE file's data chunk, its size stated in the chunk, in RF64's
    // 'ds64' chunk, or as Wave64's 64-bit size with the header; a
    // placeholder states none.
    const auto data = [](Bytes b) {
        PositionedFile f(std::move(b));
        WaveDataRule::Data d;
        return WaveDataRule::FindData(f, &d) ? std::make_pair(d.body, d.bytes) : std::make_pair(int64_t(-1), UInt64(0));
    };
    const auto le = [](Bytes* b, uint64_t v, int n) {
        for (int i = 0; i < n; ++i)
            b->push_back(uint8_t(v >> (8 * i)));
    };
    const auto riff = [&](const char* form, uint32_t dataField, uint64_t ds64Data) {
        Bytes b(form, form + 4);
        le(&b, 0xFFFFFFFFu, 4);
        b.insert(b.end(), {'W', 'A', 'V', 'E'});
        if (ds64Data > 0) {
            b.insert(b.end(), {'d', 's', '6', '4', 28, 0, 0, 0});
            le(&b, 0, 8);
            le(&b, ds64Data, 8);
            b.resize(b.size() + 12, 0);  // (the sample count and an empty table)
        }
        b.insert(b.end(), {'f', 'm', 't', ' ', 3, 0, 0, 0, 1, 2, 3, 0});  // (odd: padded)
        b.insert(b.end(), {'d', 'a', 't', 'a'});
        le(&b, dataField, 4);
        b.resize(b.size() + 600, 0);
        return b;
    };
    EXPECT_EQ(data(riff("RIFF", 600, 0)), std::make_pair(int64_t(32), UInt64(600)));
    EXPECT_EQ(data(riff("RF64", 0xFFFFFFFFu, 5000000000)), std::make_pair(int64_t(68), UInt64(5000000000)));
    EXPECT_EQ(data(riff("RIFF", 0xFFFFFFFFu, 0)).first, -1);
    Bytes w64 = {'r', 'i', 'f', 'f', 0x2E, 0x91, 0xCF, 0x11, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0, 0};
    le(&w64, 0, 8);
    w64.insert(w64.end(), {'w', 'a', 'v', 'e', 0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1, 0, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A});
    for (const auto& [id, bytes] : {std::pair<char, int>{'f', 19}, std::pair<char, int>{'d', 600}}) {
        const char* name = id == 'f' ? "fmt " : "data";
        w64.insert(w64.end(), name, name + 4);
        w64.insert(w64.end(), {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1, 0, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A});
        le(&w64, uint64_t(24 + bytes), 8);
        w64.resize(w64.size() + std::size_t((bytes + 7) & ~7), 0);  // (chunks start on multiples of eight)
    }
    EXPECT_EQ(data(w64), std::make_pair(int64_t(40 + 48 + 24), UInt64(600)));
}

TEST(FrameHeaders, GiveEachFramesBytesAndSamples)
{
    struct Case {
        AVCodecID codec;
        Bytes frame;
        int bytes, frames;
    };
    const Case cases[] = {
        {AV_CODEC_ID_AC3, Ac3Frame(), 256, 1536},
        {AV_CODEC_ID_EAC3, Eac3Frame(), 512, 1536},
        {AV_CODEC_ID_AAC, AdtsFrame(), 200, 1024},
        {AV_CODEC_ID_MP3, Mp3WithInfo(1), 417, 1152},
    };
    for (const Case& c : cases) {
        int bytes = 0, frames = 0;
        const FrameSyntax syntax = CodecTraits::Of(c.codec).syntax;
        ASSERT_TRUE(RawStreamLengthRule::ReadFrameHeader(syntax, c.frame.data(), &bytes, &frames)) << c.codec;
        EXPECT_EQ(bytes, c.bytes) << c.codec;
        EXPECT_EQ(frames, c.frames) << c.codec;
        Bytes broken = c.frame;
        broken[1] = 0;
        EXPECT_FALSE(RawStreamLengthRule::ReadFrameHeader(syntax, broken.data(), &bytes, &frames)) << c.codec;
        // A stream of them, one cut inside its last frame.
        Bytes stream = Repeat(Bytes(c.frame.begin(), c.frame.begin() + c.bytes), 4);
        stream.resize(stream.size() - 5);
        PositionedFile file(stream);
        RawStreamLengthRule::Walk walk;
        ASSERT_TRUE(RawStreamLengthRule::WalkFile(syntax, file, &walk)) << c.codec;
        EXPECT_EQ(walk.wholeFrames, 3u * UInt64(c.frames)) << c.codec;
        EXPECT_TRUE(walk.endsInsideFrame) << c.codec;
    }
}

TEST(FrameHeaders, MeasureAnMp3AgainstItsInfoFrame)
{
    const Bytes mp3 = Mp3WithInfo(6);
    const auto walk = [](const Bytes& bytes) {
        PositionedFile file(bytes);
        RawStreamLengthRule::Walk w;
        EXPECT_TRUE(RawStreamLengthRule::WalkFile(FrameSyntax::Mpeg, file, &w));
        return w;
    };
    const auto intact = walk(mp3);
    ASSERT_TRUE(intact.info.present);
    EXPECT_EQ(intact.info.frames, 6);
    EXPECT_EQ(intact.info.bytes, 7 * 417);
    EXPECT_TRUE(intact.info.hasMusicCRC);
    EXPECT_EQ(intact.framesAfterInfo, 6);
    EXPECT_EQ(intact.streamBytes, 7 * 417);
    EXPECT_EQ(intact.musicCRC, intact.info.musicCRC);
    // A frame repeated: one more than counted, the checksum no longer holds.
    Bytes repeated = mp3;
    repeated.insert(repeated.end(), mp3.end() - 417, mp3.end());
    repeated[repeated.size() - 100] = 1;
    const auto more = walk(repeated);
    EXPECT_EQ(more.framesAfterInfo, 7);
    EXPECT_NE(more.musicCRC, more.info.musicCRC);
    // An ID3v2 tag grown over the Info frame and the first frame.
    Bytes tagged{'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0};
    tagged.insert(tagged.end(), mp3.begin(), mp3.end());
    tagged[8] = uint8_t((2 * 417) >> 7);
    tagged[9] = uint8_t((2 * 417) & 0x7F);
    EXPECT_EQ(walk(tagged).hiddenFrames, 1152u);
}

}  // namespace

// The counting rules on frames and files built by hand: MPEG frame sizes
// against their headers, FLAC packets of other than one frame, MPEG frame
// headers of another rate in a run, a WAVE file's 'fact' chunk; and the
// kinds the demuxers' names give.
TEST(CountingRules, JudgeHandBuiltFrames)
{
    // MPEG-1 Layer III, 128 kbit/s, 44.1 kHz, stereo: 417 bytes a frame.
    Bytes frame(417, 0x55);
    frame[0] = 0xFF, frame[1] = 0xFB, frame[2] = 0x90, frame[3] = 0x00;
    {
        MpegFrameSizeRule sizes;
        TrackFinding found;
        EXPECT_FALSE(sizes.Packet(frame.data(), int(frame.size()), 1152, 0, &found));
        Bytes longer = frame;
        longer.push_back(0);
        ASSERT_TRUE(sizes.Packet(longer.data(), int(longer.size()), 1152, 1, &found));  // a byte that is no frame
        EXPECT_TRUE(found.damaged);
        EXPECT_FALSE(sizes.Settle(2, &found));
        EXPECT_FALSE(sizes.Packet(frame.data(), 300, 1152, 2, &found));  // the last, cut short
        ASSERT_TRUE(sizes.Settle(3, &found));
        EXPECT_EQ(found.cut, true);
        EXPECT_EQ(sizes.CutFrames(), 1152u);
        EXPECT_FALSE(sizes.Packet(frame.data(), int(frame.size()), 1152, 3, &found));
        ASSERT_TRUE(sizes.Settle(4, &found));  // now inside the track
        EXPECT_TRUE(found.damaged);
        EXPECT_FALSE(found.cut.has_value());
    }
    {
        // Three whole frames of another rate (48 kHz) in a row change it; two do not.
        Bytes other = frame;
        other[2] = 0x94;
        other.resize(384);  // 144 * 128000 / 48000
        PacketShapeRule shapes;
        const CodecTraits mp3 = CodecTraits::Of(AV_CODEC_ID_MP3);
        for (int i = 0; i < 4; ++i)
            shapes.Packet(mp3, frame.data(), int(frame.size()));
        shapes.Packet(mp3, other.data(), int(other.size()));
        shapes.Packet(mp3, other.data(), int(other.size()));
        EXPECT_FALSE(shapes.RateChanges());
        shapes.Packet(mp3, other.data(), int(other.size()));
        EXPECT_TRUE(shapes.RateChanges());
        EXPECT_FALSE(shapes.ChannelsChange());
    }
    {
        // A packet that is no whole FLAC frame is damage once another follows.
        FlacEndRule end;
        TrackFinding found;
        EXPECT_FALSE(end.Packet(false, frame.data(), int(frame.size()), &found));
        EXPECT_TRUE(end.Packet(true, nullptr, 0, &found));
        EXPECT_TRUE(found.damaged);
        EXPECT_FALSE(end.Packet(true, nullptr, 0, &found));  // a frame the walk proved whole is one
    }
    {
        // A WAVE file whose 'fact' chunk states 1000 frames.
        TestTempDir dir;
        Bytes wave;
        const auto chunk = [&wave](const char* id, const Bytes& body) {
            wave.insert(wave.end(), id, id + 4);
            PutLE(wave, body.size(), 4);
            wave.insert(wave.end(), body.begin(), body.end());
        };
        wave.insert(wave.end(), {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'});
        Bytes format;
        for (const uint64_t field : {uint64_t(0x11) | 1u << 16, uint64_t(22050), uint64_t(11100), uint64_t(512) | 4u << 16})
            PutLE(format, field, 4);
        chunk("fmt ", format);
        Bytes fact;
        PutLE(fact, 1000, 4);
        chunk("fact", fact);
        chunk("data", Bytes(1024, 0));
        for (int i = 0; i < 4; ++i)
            wave[4 + i] = uint8_t((wave.size() - 8) >> (8 * i));
        const std::string path = dir.file("ima.wav");
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(wave.data()), std::streamsize(wave.size()));
        EXPECT_EQ(WaveFactRule::FactFrames(path), 1000u);
        UInt64 skip = 0;
        TrackFinding found = WaveFactRule::Settle(path, CodecTraits::Of(AV_CODEC_ID_ADPCM_IMA_WAV), 1017, &skip);
        EXPECT_EQ(found.frames, std::optional<UInt64>(1000));  // the padding of the last block is no sound
        EXPECT_EQ(found.line, "states 1000 frames, counted 1017");
        found = WaveFactRule::Settle(path, CodecTraits::Of(AV_CODEC_ID_MP2), 2304, &skip);  // a Layer II stream lags
        EXPECT_EQ(skip, 481u);
        EXPECT_EQ(found.frames, std::optional<UInt64>(1000));
        found = WaveFactRule::Settle(path, CodecTraits::Of(AV_CODEC_ID_MP3), 576, &skip);  // fewer whole frames: cut
        EXPECT_EQ(found.cut, true);
    }
    for (const auto& [name, kind] : std::initializer_list<std::pair<const char*, ContainerKind>>{
             {"mov,mp4,m4a,3gp,3g2,mj2", ContainerKind::QuickTime}, {"matroska,webm", ContainerKind::Matroska},
             {"wc3movie", ContainerKind::NamedMovie}, {"mp3", ContainerKind::MpegAudio}, {"w64", ContainerKind::Wave64},
             {"asf_o", ContainerKind::Other}, {"ogg", ContainerKind::Ogg}})
        EXPECT_EQ(KindOfDemuxer(name), kind) << name;
    EXPECT_EQ(ContainerTraits::Of(ContainerKind::QuickTime).FileFormatOf("/a.b/Song.M4A"), FOUR_CHAR_CODE("m4af"));
    EXPECT_EQ(ContainerTraits::Of(ContainerKind::NamedMovie).FileFormatOf("x.mov"), 0u);
}
