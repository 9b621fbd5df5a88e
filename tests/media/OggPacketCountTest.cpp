// Opus and Vorbis in Ogg, as opusenc, oggenc and ffmpeg write them in many
// shapes (rates, channel counts, frame sizes, qualities, files of a single
// packet): the frames the movie source counts, off the packets where the
// pages are whole and the last granule agrees, are those ffmpeg decodes,
// and reading the track loses nothing.  The shapes whose last granule says
// another length than the decoder gives are counted by decoding.
#include "MovieSource.h"
#include "PeerTools.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

struct OggCase {
    const char* name;
    const char* program;    // opusenc, oggenc or ffmpeg
    const char* arguments;  // between the input and the output (ffmpeg), or before them
    int rate;
    int channels;
    const char* seconds;
    bool fromPackets;  // counted off the packets
};

void PrintTo(const OggCase& c, std::ostream* os) { *os << c.name; }

class OggPacketCount : public ::testing::TestWithParam<OggCase> {};

TEST_P(OggPacketCount, CountsWhatFfmpegDecodes)
{
    const OggCase& c = GetParam();
    for (const char* program : {"sox", "ffmpeg", c.program})
        if (!peers::Have(program))
            GTEST_SKIP() << program << " is not installed";
    TestTempDir dir;
    const QString wav = QString::fromStdString(dir.file("tone.wav"));
    const std::string encoded = dir.file(std::string(c.name) + (std::string(c.program) == "oggenc" ? ".ogg" : ".opus"));
    const QString out = QString::fromStdString(encoded);
    ASSERT_EQ(peers::Run("sox", {"-D", "-n", "-r", QString::number(c.rate), "-c", QString::number(c.channels), "-b",
                                 "16", wav, "synth", c.seconds, "sine", "440", "sine", "660", "gain", "-8"}).exitCode,
              0);
    const QStringList arguments = QString(c.arguments).split(' ', Qt::SkipEmptyParts);
    const QString program = c.program;
    QStringList call;
    if (program == "ffmpeg")
        call = QStringList{"-nostdin", "-v", "error", "-y", "-i", wav} + arguments + QStringList{out};
    else if (program == "oggenc")
        call = QStringList{"-Q"} + arguments + QStringList{"-o", out, wav};
    else
        call = QStringList{"--quiet"} + arguments + QStringList{wav, out};
    ASSERT_EQ(peers::Run(program, call).exitCode, 0) << c.name;

    std::unique_ptr<MovieSource> source;
    ASSERT_EQ(MovieSource::Open(encoded, &source), noErr);
    constexpr UInt32 kBlock = 4096;
    std::vector<std::vector<SInt32>> channels(source->Channels(), std::vector<SInt32>(kBlock));
    std::vector<SInt32*> pointers;
    for (auto& channel : channels)
        pointers.push_back(channel.data());
    UInt64 read = 0;
    for (UInt32 delivered = kBlock; delivered == kBlock; read += delivered)
        ASSERT_EQ(source->Read(pointers.data(), kBlock, &delivered), noErr);

    const peers::RunResult decoded = peers::Run("ffmpeg", {"-nostdin", "-v", "quiet", "-i", out, "-ac", "1", "-f",
                                                           "s16le", "-"});
    const UInt64 ffmpegFrames = UInt64(decoded.out.size() / 2);
    EXPECT_EQ(source->FrameCount(), ffmpegFrames);
    EXPECT_EQ(read, ffmpegFrames);
    EXPECT_FALSE(source->DecodeLoss().Any());
    EXPECT_FALSE(source->DataCutShort());
    const std::vector<std::string>& lines = source->RuleLines();
    const bool fromPackets = std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("frames from the packets") != std::string::npos;
    });
    EXPECT_EQ(fromPackets, c.fromPackets);
}

INSTANTIATE_TEST_SUITE_P(Encodes, OggPacketCount, ::testing::Values(
    OggCase{"opusenc_48k_stereo", "opusenc", "--comp 10", 48000, 2, "2.3", true},
    OggCase{"opusenc_44k_mono_2_5ms", "opusenc", "--comp 0 --framesize 2.5", 44100, 1, "0.1", true},
    OggCase{"opusenc_16k_6ch_60ms", "opusenc", "--framesize 60 --bitrate 24", 16000, 6, "1", true},
    OggCase{"opusenc_8k_one_packet", "opusenc", "--comp 0", 8000, 1, "0.013", true},
    OggCase{"libopus_22k_6ch_one_packet", "ffmpeg", "-c:a libopus", 22050, 6, "0.004", true},
    OggCase{"native_opus", "ffmpeg", "-c:a opus -strict -2 -ar 48000", 48000, 2, "1", true},
    OggCase{"oggenc_44k_q3", "oggenc", "-q 3", 44100, 2, "3.337", true},
    OggCase{"oggenc_48k_6ch_q10", "oggenc", "-q 10", 48000, 6, "1", true},
    OggCase{"libvorbis_44k", "ffmpeg", "-c:a libvorbis", 44100, 2, "1", true},
    OggCase{"libvorbis_48k_6ch", "ffmpeg", "-c:a libvorbis", 48000, 6, "3.337", true},
    // The last granule states less than the last packet gives (its trim
    // is more than the packet holds): counted by decoding.
    OggCase{"oggenc_22k_mono_q-1", "oggenc", "-q -1", 22050, 1, "1", false},
    OggCase{"oggenc_16k_short", "oggenc", "-q 3", 16000, 1, "0.02", false}));

}  // namespace
