// Streams joined from parts of different shapes, as players meet them: a
// chained Ogg Vorbis file whose second link has another rate, MP3 and ADTS
// files of two rates joined end to end.  Converted to 24-bit AIFF at the
// first part's rate, every part plays at its own speed: the output holds as
// many frames as ffmpeg decodes (ffmpeg converts each part to the first
// one's rate) and the same sound, frame by frame.  Parts that change the
// channel count (of Ogg links or ADTS frames; an MPEG audio stream's
// single-channel frames are played in both channels of a stereo track)
// fail the file with a line saying so, instead of losing a part without a
// word.  So does a link whose header states a rate no converter takes the
// track's from (1 Hz, 100 Hz, 2^31 - 1 Hz; its page checksum made again):
// that file alone fails, the batch goes on, nothing absurd is written.
#include "CliTestSupport.h"
#include "IntactShapes.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

using namespace clitest;

namespace {

struct Part {
    int rate;
    int channels;
    int tone;  // Hz
    int stated = 0;  // the rate its Vorbis identification header is made to state (0: its own)
};

struct JoinedCase {
    const char* name;
    const char* extension;
    QStringList encoder;  // ffmpeg's codec options, or {"lame"}
    Part first;
    Part second;
    bool converts;  // else the file fails: its channel count or a stated rate
};

// `bytes` (one Ogg Vorbis link) with its identification header stating
// `rate`, the page's checksum made again.
bool StateRate(QByteArray* bytes, int rate)
{
    const qsizetype head = bytes->indexOf("\x01vorbis");
    const qsizetype page = bytes->lastIndexOf("OggS", head);
    if (head < 0 || page < 0 || head + 16 > bytes->size())
        return false;
    for (int i = 0; i < 4; ++i)
        (*bytes)[head + 12 + i] = char(uint32_t(rate) >> (8 * i));
    const auto* p = reinterpret_cast<const uint8_t*>(bytes->constData()) + page;
    qsizetype end = 27 + p[26];
    for (int i = 0; i < p[26]; ++i)
        end += p[27 + i];
    const uint32_t crc = intactshape::OggChecksum(p, std::size_t(end));
    for (int i = 0; i < 4; ++i)
        (*bytes)[page + 22 + i] = char(crc >> (8 * i));
    return true;
}

void PrintTo(const JoinedCase& c, std::ostream* os)
{
    *os << c.name;
}

const QStringList kVorbis = {"-c:a", "libvorbis"};
const QStringList kADTS = {"-c:a", "aac", "-f", "adts"};
const QStringList kLame = {"lame"};

const JoinedCase kCases[] = {
    {"vorbis_44k_then_22k", "ogg", kVorbis, {44100, 2, 440}, {22050, 2, 880}, true},
    {"vorbis_22k_then_48k", "ogg", kVorbis, {22050, 1, 440}, {48000, 1, 660}, true},
    {"mp3_44k_then_22k", "mp3", kLame, {44100, 2, 440}, {22050, 2, 880}, true},
    {"adts_44k_then_22k", "aac", kADTS, {44100, 2, 440}, {22050, 2, 880}, true},
    {"vorbis_stereo_then_mono", "ogg", kVorbis, {44100, 2, 440}, {44100, 1, 880}, false},
    {"adts_stereo_then_mono", "aac", kADTS, {44100, 2, 440}, {44100, 1, 880}, false},
    {"vorbis_second_states_100hz", "ogg", kVorbis, {44100, 2, 440}, {44100, 2, 880, 100}, false},
    {"vorbis_second_states_1hz", "ogg", kVorbis, {44100, 2, 440}, {44100, 2, 880, 1}, false},
    {"vorbis_second_states_2147483647hz", "ogg", kVorbis, {44100, 2, 440}, {44100, 2, 880, 2147483647}, false},
    {"vorbis_first_states_2147483647hz", "ogg", kVorbis, {44100, 2, 440, 2147483647}, {44100, 2, 880}, false},
};

class ChainedStreamBatchTest : public BatchTest, public ::testing::WithParamInterface<JoinedCase> {
protected:
    // `part` encoded alone (3 s of its tone at -6 dBFS) as root/<index>.<ext>.
    ::testing::AssertionResult Encode(const JoinedCase& c, const Part& part, int index, QString* path) const
    {
        const QString wave = root + "/part" + QString::number(index) + ".wav";
        *path = root + "/part" + QString::number(index) + "." + c.extension;
        if (!Sox({"-D", "-n", "-r", QString::number(part.rate), "-c", QString::number(part.channels), "-b", "16", wave,
                  "synth", "3", "sine", QString::number(part.tone), "gain", "-6"}))
            return ::testing::AssertionFailure() << "sox failed";
        const bool encoded = c.encoder == kLame
                                 ? RunPeer("lame", {"--quiet", wave, *path})
                                 : RunPeer("ffmpeg", QStringList{"-nostdin", "-v", "error", "-y", "-i", wave} +
                                                         c.encoder + QStringList{*path});
        return encoded ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "encoding failed";
    }
};

TEST_P(ChainedStreamBatchTest, EveryPartPlaysAtItsOwnSpeedOrTheFileFails)
{
    const JoinedCase& c = GetParam();
    QM_REQUIRE_PEER("ffmpeg");
    QM_REQUIRE_PEER("sox");
    if (c.encoder == kLame)
        QM_REQUIRE_PEER("lame");
    ASSERT_TRUE(QDir().mkpath(root + "/in"));
    QString first;
    QString second;
    ASSERT_TRUE(Encode(c, c.first, 1, &first));
    ASSERT_TRUE(Encode(c, c.second, 2, &second));
    QByteArray parts[2] = {ReadBytes(first), ReadBytes(second)};
    for (int k = 0; k < 2; ++k)
        if (const int stated = (k == 0 ? c.first : c.second).stated)
            ASSERT_TRUE(StateRate(&parts[k], stated));
    const QString joined = root + "/in/joined." + c.extension;
    ASSERT_TRUE(WriteBytes(joined, parts[0] + parts[1]));
    // An intact file beside it, converted all the same.
    ASSERT_TRUE(WriteBytes(root + "/in/other." + c.extension, ReadBytes(first)));

    // 24-bit AIFF at the input's own rate.
    const RunResult run = RunConversions("aiff24",
        {{0, {{"QMCSNeedsSampleRateConversion", false}, {"QMCSNeedsRedither", false},
              {"QMCSNeedsNewWordLength", true}, {"QMCSWordLength", 24}}}},
        root + "/in", root + "/out");
    ASSERT_FALSE(run.crashed);
    const QString folder = root + "/out/CD quality AIFF (44.1 kHz, 16 bits)/in/";
    const QString output = folder + "joined.aif";
    EXPECT_TRUE(QFile::exists(folder + "other.aif")) << run.err.toStdString();
    if (!c.converts) {
        EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains("failed " + joined + ": " +
                                     (c.first.stated || c.second.stated
                                             ? "has parts at another sample rate that cannot be read as one sound"
                                             : "has parts with another number of channels")))
            << run.err.toStdString();
        EXPECT_FALSE(QFile::exists(output));
        return;
    }
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.trimmed().isEmpty()) << "no warning: " << run.err.toStdString();
    EXPECT_EQ(std::atoi(peers::FFprobeField(output.toStdString(), "sample_rate").c_str()), c.first.rate);

    // ffmpeg decodes the second part at the first one's rate: the same
    // frames, the same sound (within the 24-bit words' rounding).
    const std::vector<SInt32> expected = peers::FFmpegS32(joined.toStdString());
    const std::vector<SInt32> written = peers::SoxS32(output.toStdString());
    const std::size_t channels = std::size_t(c.first.channels);
    ASSERT_FALSE(expected.empty());
    ASSERT_EQ(written.size() / channels, expected.size() / channels)
        << "frames written, and decoded by ffmpeg; the parts alone hold "
        << (3.0 * c.first.rate) << " and " << (3.0 * c.second.rate) << " at their own rates";
    double worst = 0;
    std::size_t at = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const double difference = std::fabs(double(written[i]) - double(expected[i])) / 2147483648.0;
        if (difference > worst) {
            worst = difference;
            at = i / channels;
        }
    }
    EXPECT_LT(worst, 1e-5) << "largest difference from ffmpeg's decoding at frame " << at;
}

INSTANTIATE_TEST_SUITE_P(Joined, ChainedStreamBatchTest, ::testing::ValuesIn(kCases),
    [](const ::testing::TestParamInfo<JoinedCase>& info) { return std::string(info.param.name); });

}  // namespace
