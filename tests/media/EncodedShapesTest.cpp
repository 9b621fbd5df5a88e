// Compressed inputs of many shapes, as their own encoders write them, read
// through the movie source as ffmpeg decodes them: the frames counted, every
// sample (to 24 bits, the source's reach for float decoders) from the start
// and after a seek back, with nothing lost or cut.
// - Native FLAC of 8 to 24 bits, one to six channels, blocks of 192 to
//   32768, from flac, ffmpeg and sox: its whole frames go through libFLAC,
//   which must give what the FFmpeg decoder gives, and the frame walk finds
//   the packets ffprobe lists; a damaged copy the walk never proves whole.
// - Opus and Vorbis in Ogg from opusenc, oggenc and ffmpeg (rates, channel
//   counts, frame sizes, qualities, files of a single packet): counted off
//   the packets where the pages are whole and the last granule agrees, and
//   by decoding where the last granule states another length than the
//   decoder gives.
#include "FlacFrameWalk.h"
#include "MovieSource.h"
#include "PeerTools.h"
#include "SourceReading.h"
#include "TestTempDir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace {

struct EncodedShape {
    const char* name;
    const char* program;    // flac, opusenc, oggenc, ffmpeg or sox
    const char* arguments;  // {WAV} the tone, {OUT} the file
    const char* extension;
    const char* source;     // rate, channels, bits and seconds of the tone
    int fromPackets;        // counted off the packets: 1, by decoding: 0, either: -1
};

void PrintTo(const EncodedShape& c, std::ostream* os)
{
    *os << c.name;
}

// The packets ffprobe lists in a file: position, size, time stamp and
// duration (in samples: a FLAC stream's time base), one line each.
std::string ProbedPackets(const std::string& path)
{
    const peers::RunResult probe = peers::Run(
        "ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries", "packet=pos,size,pts,duration", "-of",
                    "csv=p=0", QString::fromStdString(path)});
    return probe.exitCode == 0 ? probe.out.toStdString() : std::string("ffprobe failed");
}

std::string WalkedPackets(const std::string& path)
{
    std::string lines;
    for (const FlacFrameWalk::Frame& f : FlacFrameWalk::Whole(path))
        lines += std::to_string(f.start) + "," + std::to_string(f.samples) + "," + std::to_string(f.bytes) + "," +
                 std::to_string(f.pos) + "\n";
    return lines;
}

class EncodedShapes : public ::testing::TestWithParam<EncodedShape> {};

TEST_P(EncodedShapes, ReadAsFFmpegDecodes)
{
    const EncodedShape& c = GetParam();
    QM_REQUIRE_PEER("ffmpeg");
    QM_REQUIRE_PEER("sox");
    if (!peers::Have(QString::fromLatin1(c.program))) {
        if (peers::InCI())
            FAIL() << c.program << " is not installed (a peer every CI run needs)";
        GTEST_SKIP() << c.program << " is not installed";
    }
    TestTempDir dir;
    const QString wav = QString::fromStdString(dir.file("tone.wav"));
    const std::string encoded = dir.file(std::string("tone.") + c.extension);
    const QStringList shape = QString::fromLatin1(c.source).split(' ');
    ASSERT_EQ(peers::Run("sox", {"-R", "-D", "-n", "-r", shape[0], "-c", shape[1], "-b", shape[2], wav, "synth",
                                 shape[3], "sine", "440", "sine", "1250", "gain", "-4"}).exitCode, 0);
    QStringList arguments;
    for (const QString& a : QString::fromLatin1(c.arguments).split(' ', Qt::SkipEmptyParts))
        arguments << (a == "{WAV}" ? wav : a == "{OUT}" ? QString::fromStdString(encoded) : a);
    ASSERT_EQ(peers::Run(c.program, arguments).exitCode, 0);
    // QM_SHAPES_WRITE=FOLDER copies each encode there, named after its
    // case, and checks nothing (the verdict snapshot converts them).
    if (const QString writeTo = qEnvironmentVariable("QM_SHAPES_WRITE"); !writeTo.isEmpty()) {
        ASSERT_TRUE(QDir().mkpath(writeTo));
        ASSERT_TRUE(QFile::copy(QString::fromStdString(encoded),
                                writeTo + "/" + QString::fromLatin1(c.name) + "." + QString::fromLatin1(c.extension)));
        return;
    }

    if (std::string(c.extension) == "flac") {
        EXPECT_EQ(WalkedPackets(encoded), ProbedPackets(encoded));
    }

    std::vector<SInt32> expected = peers::FFmpegS32(encoded);
    for (SInt32& sample : expected)
        sample = SInt32(UInt32(sample) & 0xFFFFFF00u);
    std::unique_ptr<MovieSource> source;
    ASSERT_EQ(MovieSource::Open(encoded, &source), noErr);
    const UInt32 channels = source->Channels();
    ASSERT_EQ(QString::number(channels), shape[1]);
    ASSERT_EQ(expected.size(), source->FrameCount() * channels);
    EXPECT_TRUE(ReadInterleaved(*source, source->FrameCount(), 0xFFFFFF00u) == expected);
    EXPECT_FALSE(source->DecodeLoss().Any());
    EXPECT_FALSE(source->DataCutShort());
    if (c.fromPackets >= 0) {
        const std::vector<std::string>& lines = source->RuleLines();
        const bool fromPackets = std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
            return line.find("frames from the packets") != std::string::npos;
        });
        EXPECT_EQ(fromPackets, c.fromPackets == 1);
    }

    // Back to a frame inside a block, after the end was read.
    const UInt64 at = std::min(source->FrameCount(), source->FrameCount() / 3 + 77);
    const UInt64 frames = std::min<UInt64>(20000, source->FrameCount() - at);
    ASSERT_EQ(source->Seek(at), noErr);
    const std::vector<SInt32> part = ReadInterleaved(*source, frames, 0xFFFFFF00u);
    ASSERT_EQ(part.size(), std::size_t(frames) * channels);
    EXPECT_TRUE(std::equal(part.begin(), part.end(), expected.begin() + std::ptrdiff_t(at * channels)));
}

INSTANTIATE_TEST_SUITE_P(
    Files, EncodedShapes,
    ::testing::Values(
        EncodedShape{"flac_8bit", "flac", "--silent -o {OUT} {WAV}", "flac", "44100 2 8 2.3", -1},
        EncodedShape{"flac_mono_b192", "flac", "--silent -b 192 -o {OUT} {WAV}", "flac", "22050 1 16 2.3", -1},
        EncodedShape{"flac_six_channels", "flac", "--silent -o {OUT} {WAV}", "flac", "48000 6 16 2.3", -1},
        EncodedShape{"flac_96k_24bit", "flac", "--silent -8 -o {OUT} {WAV}", "flac", "96000 2 24 2.3", -1},
        EncodedShape{"flac_lax_b32768", "flac", "--silent --lax -b 32768 -o {OUT} {WAV}", "flac", "44100 2 16 2.3",
                     -1},
        EncodedShape{"ffmpeg_flac_24bit", "ffmpeg", "-nostdin -v error -y -i {WAV} -c:a flac {OUT}", "flac",
                     "44100 2 24 2.3", -1},
        EncodedShape{"sox_flac", "sox", "{WAV} {OUT}", "flac", "32000 2 16 2.3", -1},
        EncodedShape{"opusenc_48k_stereo", "opusenc", "--quiet --comp 10 {WAV} {OUT}", "opus", "48000 2 16 2.3", 1},
        EncodedShape{"opusenc_44k_mono_2_5ms", "opusenc", "--quiet --comp 0 --framesize 2.5 {WAV} {OUT}", "opus",
                     "44100 1 16 0.1", 1},
        EncodedShape{"opusenc_16k_6ch_60ms", "opusenc", "--quiet --framesize 60 --bitrate 160 {WAV} {OUT}", "opus",
                     "16000 6 16 1", 1},
        EncodedShape{"opusenc_8k_one_packet", "opusenc", "--quiet --comp 0 {WAV} {OUT}", "opus", "8000 1 16 0.013",
                     1},
        EncodedShape{"libopus_22k_6ch_one_packet", "ffmpeg", "-nostdin -v error -y -i {WAV} -c:a libopus {OUT}",
                     "opus", "22050 6 16 0.004", 1},
        EncodedShape{"native_opus", "ffmpeg", "-nostdin -v error -y -i {WAV} -c:a opus -strict -2 -ar 48000 {OUT}",
                     "opus", "48000 2 16 1", 1},
        EncodedShape{"oggenc_44k_q3", "oggenc", "-Q -q 3 -o {OUT} {WAV}", "ogg", "44100 2 16 3.337", 1},
        EncodedShape{"oggenc_48k_6ch_q10", "oggenc", "-Q -q 10 -o {OUT} {WAV}", "ogg", "48000 6 16 1", 1},
        EncodedShape{"libvorbis_44k", "ffmpeg", "-nostdin -v error -y -i {WAV} -c:a libvorbis {OUT}", "ogg",
                     "44100 2 16 1", 1},
        EncodedShape{"libvorbis_48k_6ch", "ffmpeg", "-nostdin -v error -y -i {WAV} -c:a libvorbis {OUT}", "ogg",
                     "48000 6 16 3.337", 1},
        // The last granule states less than the last packet gives (its trim
        // is more than the packet holds): counted by decoding.
        EncodedShape{"oggenc_22k_mono_q_minus_1", "oggenc", "-Q -q -1 -o {OUT} {WAV}", "ogg", "22050 1 16 1", 0},
        EncodedShape{"oggenc_16k_short", "oggenc", "-Q -q 3 -o {OUT} {WAV}", "ogg", "16000 1 16 0.02", 0}),
    [](const ::testing::TestParamInfo<EncodedShape>& info) { return std::string(info.param.name); });

// Every damage a copy or a transfer does to a FLAC file's frames (and to
// what STREAMINFO states of them) leaves it unproved: the demuxer reads it.
// (QM_SHAPES_WRITE=FOLDER copies each damaged file there too.)
TEST(FlacFrameWalk, ProvesNoDamagedCopyWhole)
{
    QM_REQUIRE_PEER("flac");
    QM_REQUIRE_PEER("sox");
    QM_REQUIRE_PEER("ffmpeg");
    TestTempDir dir;
    const std::string wav = dir.file("tone.wav");
    const std::string flac = dir.file("tone.flac");
    ASSERT_EQ(peers::Run("sox", {"-R", "-n", "-r", "44100", "-c", "2", "-b", "16", QString::fromStdString(wav),
                                 "synth", "3", "sine", "300-3000", "pinknoise", "gain", "-4"}).exitCode, 0);
    ASSERT_EQ(peers::Run("flac", {"--silent", "-b", "1152", "-o", QString::fromStdString(flac),
                                  QString::fromStdString(wav)}).exitCode, 0);
    std::ifstream in(flac, std::ios::binary);
    const std::string intact((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::pair<std::size_t, std::size_t>> frames;  // position, size
    for (const FlacFrameWalk::Frame& f : FlacFrameWalk::Whole(flac))
        frames.emplace_back(std::size_t(f.pos), f.bytes);
    ASSERT_GT(frames.size(), 100u);
    const auto frame = [&](std::size_t k) { return intact.substr(frames[k].first, frames[k].second); };
    const std::size_t mid = frames.size() / 2, n = frames.size();
    const std::size_t midAt = frames[mid].first, midEnd = midAt + frames[mid].second;
    const auto flipped = [&](std::size_t at, char bits) {
        std::string d = intact;
        d[at] = char(d[at] ^ bits);
        return d;
    };
    // STREAMINFO's sample count (36 bits from its 13th byte) changed by `by`.
    const auto stated = [&](long long by) {
        std::string d = intact;
        auto* b = reinterpret_cast<unsigned char*>(d.data()) + 8 + 13;
        unsigned long long total = (unsigned long long)(b[0] & 15) << 32 | (unsigned long long)b[1] << 24 |
                                   (unsigned long long)b[2] << 16 | (unsigned long long)b[3] << 8 | b[4];
        total += (unsigned long long)by;
        b[0] = (unsigned char)((b[0] & 0xF0) | ((total >> 32) & 15));
        for (int k = 0; k < 4; ++k)
            b[1 + k] = (unsigned char)(total >> (24 - 8 * k));
        return d;
    };
    const std::vector<std::pair<const char*, std::string>> damaged = {
        {"a bit of sound flipped", flipped(midAt + frames[mid].second / 2, 0x10)},
        {"a header's bit flipped", flipped(midAt + 2, 0x01)},
        {"a frame's CRC-16 flipped", flipped(midEnd - 1, char(0xFF))},
        {"the last frame's number flipped", flipped(frames[n - 1].first + 4, 0x01)},
        {"a frame dropped", intact.substr(0, midAt) + intact.substr(midEnd)},
        {"the first frame dropped", intact.substr(0, frames[0].first) + intact.substr(frames[1].first)},
        {"the last frame dropped", intact.substr(0, frames[n - 1].first)},
        {"a frame doubled", intact.substr(0, midEnd) + frame(mid) + intact.substr(midEnd)},
        {"the last frame doubled", intact + frame(n - 1)},
        {"the first frame put in the middle", intact.substr(0, midAt) + frame(0) + intact.substr(midAt)},
        {"two frames swapped", intact.substr(0, midAt) + frame(mid + 1) + frame(mid) +
                                   intact.substr(frames[mid + 1].first + frames[mid + 1].second)},
        {"cut inside a frame", intact.substr(0, midAt + 100)},
        {"cut between frames", intact.substr(0, midEnd)},
        {"an ID3v1 tag after the frames", intact + "TAG" + std::string(125, '\0')},
        {"zeros after the frames", intact + std::string(4096, '\0')},
        {"more samples stated", stated(1000)},
        {"fewer samples stated", stated(-1000)},
        {"no sample count stated", stated(-(long long)(44100 * 3))},
    };
    const QString writeTo = qEnvironmentVariable("QM_SHAPES_WRITE");
    for (const auto& [what, bytes] : damaged) {
        const std::string path = dir.file("damaged.flac");
        std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size()));
        EXPECT_TRUE(FlacFrameWalk::Whole(path).empty()) << what;
        if (!writeTo.isEmpty()) {
            QString name = QString::fromLatin1(what);
            for (QChar& c : name)
                c = c.isLetterOrNumber() ? c : QChar('_');
            ASSERT_TRUE(QDir().mkpath(writeTo));
            ASSERT_TRUE(QFile::copy(QString::fromStdString(path), writeTo + "/flac_damaged_" + name + ".flac"));
        }
    }
}

}  // namespace
