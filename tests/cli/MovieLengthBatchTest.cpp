// Movie outputs of an encoder that takes whole frames only (AAC in MPEG-4,
// IMA 4:1 in a QuickTime movie) hold the input's length exactly: ffmpeg and
// the program decode as many frames as went in, with the sound where it
// was, whatever the length's remainder in the encoder's frames.  An AIFF-C
// IMA 4:1 file counts whole 64-frame packets: its last one is filled with
// silence, and its line says how many frames became how many.  An ALAC
// input kept as its type (MPEG-4, whose writer is AAC) becomes lossy: its
// line says so.
#include "CliTestSupport.h"
#include "PropertyList.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cmath>

using namespace clitest;

namespace {

struct LengthCase {
    const char* name;
    const char* type;    // the output type; "" keeps the input's (an ALAC M4A)
    int wordLength;      // bits, or kbit/s per channel
    int rate;
    int channels;
    int frames;
    double leastSNR;     // dB of the output's sound against the input's
    int held = 0;        // frames the output holds when not `frames`
};

void PrintTo(const LengthCase& c, std::ostream* os)
{
    *os << c.name;
}

const LengthCase kCases[] = {
    {"aac_44100_frames", "Mpg4", 64, 44100, 2, 44100, 15},
    {"aac_whole_packets", "Mpg4", 64, 44100, 2, 5 * 1024, 15},
    {"aac_one_frame_short_of_a_packet", "Mpg4", 48, 48000, 1, 1023, 0},
    {"aac_seven_frames", "Mpg4", 48, 48000, 1, 7, -100},
    {"ima_44100_frames", "QTIM", 16, 44100, 2, 44100, 25},
    {"ima_100_frames", "QTIM", 16, 22050, 1, 100, 10},
    {"aifc_ima_one_frame", "A1t4", 16, 8000, 1, 1, -HUGE_VAL, 64},  // the one sample is 0
    {"aifc_ima_100_frames", "A1t4", 16, 22050, 2, 100, 10, 128},
    {"aifc_ima_whole_packets", "A1t4", 16, 44100, 2, 64 * 100, 25},
    {"alac_kept_as_its_type", "", 16, 44100, 2, 44100, 15},
};

class MovieLengthBatchTest : public BatchTest, public ::testing::WithParamInterface<LengthCase> { };

// The signal-to-noise ratio (dB) of `output` against `input` (interleaved
// alike), over the whole of the shorter.
double SNR(const std::vector<SInt32>& input, const std::vector<SInt32>& output)
{
    double signal = 0;
    double noise = 0;
    for (std::size_t i = 0; i < std::min(input.size(), output.size()); ++i) {
        const double x = input[i] / 2147483648.0;
        const double d = x - output[i] / 2147483648.0;
        signal += x * x;
        noise += d * d;
    }
    return 10 * std::log10(signal / std::max(noise, 1e-30));
}

TEST_P(MovieLengthBatchTest, DecodesToTheInputsFrames)
{
    const LengthCase& c = GetParam();
    QM_REQUIRE_PEER("ffmpeg");
    QM_REQUIRE_PEER("sox");
    ASSERT_TRUE(QDir().mkpath(root + "/in"));
    // A tone whose start and end are heard, so that a shift or a cut shows.
    const QString wave = root + "/source.wav";
    ASSERT_TRUE(Sox({"-D", "-r", QString::number(c.rate), "-c", QString::number(c.channels), "-n", "-b", "16", wave,
                     "synth", QString::number(c.frames) + "s", "sine", "440", "gain", "-6"}));
    QString input = wave;
    QVariantMap conversion;
    if (*c.type) {
        conversion = TypedConversion("movie", c.type, c.wordLength, {});
    } else {
        input = root + "/in/lossless.m4a";
        ASSERT_TRUE(RunPeer("ffmpeg", {"-nostdin", "-v", "error", "-i", wave, "-c:a", "alac", input}));
        conversion = {{"QMCSName", "movie"}, {"QMCSNeedsStrictFileType", false},
                      {"QMCSNeedsSampleRateConversion", false}, {"QMCSNeedsNewWordLength", false}};
    }
    const QString conversions = root + "/conversions.plist";
    ASSERT_TRUE(WriteBytes(conversions, PropertyList::toXml(QVariantList{conversion})));
    const RunResult run = Run({"--quiet", "--conversions", conversions, "-o", root + "/out", input});
    ASSERT_FALSE(run.crashed);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QStringList outputs = QDir(root + "/out/movie").entryList(QDir::Files);
    ASSERT_EQ(outputs.size(), 1) << outputs.join(' ').toStdString();
    const QString output = root + "/out/movie/" + outputs.first();

    const int held = c.held ? c.held : c.frames;
    if (c.held)
        EXPECT_TRUE(run.err.contains(QString("warning %1: was padded with silence to whole packets of 64 frames "
                                             "(IMA 4:1): %2 frames written as %3: an AIFF-C IMA 4:1 file "
                                             "holds whole packets")
                                         .arg(wave)
                                         .arg(c.frames)
                                         .arg(c.held)))
            << run.err.toStdString();
    else if (*c.type)
        EXPECT_TRUE(run.err.trimmed().isEmpty()) << run.err.toStdString();
    else
        EXPECT_TRUE(run.err.contains("warning " + input +
                                     ": is lossless, and its type is written in a lossy coding: written as AAC at"))
            << run.err.toStdString();

    const std::vector<SInt32> source = peers::FFmpegS32(wave.toStdString());
    const std::vector<SInt32> decoded = peers::FFmpegS32(output.toStdString());
    EXPECT_EQ(decoded.size(), source.size() / std::size_t(c.frames) * std::size_t(held))
        << "samples ffmpeg decodes from the output, and from the input";
    EXPECT_GE(SNR(source, decoded), c.leastSNR) << "the sound where it was";
    const RunResult info = Run({"--info", output});
    EXPECT_EQ(QJsonDocument::fromJson(info.out.toUtf8()).object().value("frames").toInt(), held)
        << info.out.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Movies, MovieLengthBatchTest, ::testing::ValuesIn(kCases),
    [](const ::testing::TestParamInfo<LengthCase>& info) { return std::string(info.param.name); });

}  // namespace
