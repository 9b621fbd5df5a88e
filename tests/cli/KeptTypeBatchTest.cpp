// Conversions that keep the input's type, and the MPEG-4 bit rate: an input
// whose type cannot be written fails alone with a line naming the type (in
// the log and on standard error alike, its code once); an MPEG-4 input keeps
// its bit rate; the log names the MPEG-4 rate that is written.
#include "CliTestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace clitest;

namespace {

constexpr int kNormalizeWithFades = 3;  // the factory conversion that keeps the type

class KeptTypeBatch : public BatchTest {
protected:
    // in/<name> encoded by ffmpeg from `seconds` of a stereo tone at `rate`.
    ::testing::AssertionResult Encode(const QString& name, int rate, double seconds, const QStringList& codec)
    {
        const QString wave = root + "/tone-" + QString::number(rate) + ".wav";
        if (!QFile::exists(wave) && !Sox({"-D", "-n", "-r", QString::number(rate), "-c", "2", "-b", "16", wave, "synth",
                                          QString::number(seconds), "sine", "440", "sine", "660", "gain", "-3"}))
            return ::testing::AssertionFailure() << "sox failed";
        if (!QDir().mkpath(root + "/in") ||
            !RunPeer("ffmpeg", QStringList{"-v", "error", "-i", wave} + codec + QStringList{root + "/in/" + name}))
            return ::testing::AssertionFailure() << "ffmpeg failed for " << name.toStdString();
        return ::testing::AssertionSuccess();
    }
    static int BitRate(const QString& path)
    {
        return Probe(path).value("streams").toArray().at(0).toObject().value("bit_rate").toString().toInt();
    }
};

TEST_F(KeptTypeBatch, AnInputWhoseTypeCannotBeWrittenFailsAloneNamingTheType)
{
    QM_REQUIRE_PEER("ffmpeg");
    ASSERT_TRUE(Encode("layer3.mp3", 44100, 0.5, {"-c:a", "libmp3lame", "-b:a", "128k"}));
    ASSERT_TRUE(Encode("lossless.flac", 44100, 0.5, {}));
    ASSERT_TRUE(Encode("vorbis.ogg", 44100, 0.5, {"-c:a", "libvorbis"}));
    ASSERT_TRUE(Encode("speech.wav", 44100, 0.5, {}));
    ASSERT_TRUE(Encode("song.m4a", 44100, 0.5, {"-c:a", "aac", "-b:a", "128k"}));

    const RunResult run = RunConversions("fades", {{kNormalizeWithFades, {}}}, root + "/in", root + "/out");
    ASSERT_FALSE(run.crashed);
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    const QString log = ReadText(LogPathFromOutput(run.out));
    for (const auto& [name, type] :
         {std::pair{"layer3.mp3", "Mp3 "}, std::pair{"lossless.flac", "MooV"}, std::pair{"vorbis.ogg", "MooV"}}) {
        const QRegularExpression line(QStringLiteral("failed [^\\n]*/%1: ([^\\n]*)").arg(QLatin1String(name)));
        const QRegularExpressionMatch m = line.match(run.err);
        ASSERT_TRUE(m.hasMatch()) << name << "\n" << run.err.toStdString();
        const QString text = m.captured(1);
        EXPECT_TRUE(text.contains(QStringLiteral("(type '%1') cannot be written: the conversion needs an output type")
                                      .arg(QLatin1String(type))))
            << text.toStdString();
        EXPECT_EQ(text.count(QStringLiteral("(-24620)")), 1) << text.toStdString();
        // The log says the same, without the code.
        EXPECT_TRUE(log.contains(text.left(text.lastIndexOf(QStringLiteral(" (-24620)"))))) << log.toStdString();
    }
    // The others convert under the same conversion, MPEG-4 with its fades.
    EXPECT_TRUE(QFile::exists(root + "/out/Normalize to -1 dBFS with fades/in/speech.wav"));
    EXPECT_TRUE(QFile::exists(root + "/out/Normalize to -1 dBFS with fades/in/song.m4a")) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("song.m4a")) << run.err.toStdString();
}

TEST_F(KeptTypeBatch, SameTypeMpeg4KeepsTheInputBitRate)
{
    QM_REQUIRE_PEER("ffmpeg");
    ASSERT_TRUE(Encode("low.m4a", 22050, 1.0, {"-c:a", "aac", "-b:a", "96k"}));
    ASSERT_TRUE(Encode("cd.m4a", 44100, 1.0, {"-c:a", "aac", "-b:a", "128k"}));
    QVariantMap keep = TypedConversion("keep", "AIFF", 16, {});
    keep.insert("QMCSNeedsStrictFileType", false);
    keep.insert("QMCSNeedsNewWordLength", false);
    const RunResult run = RunConversions("keep", {{0, keep}}, root + "/in", root + "/out");
    ASSERT_FALSE(run.crashed);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    for (const char* name : {"low.m4a", "cd.m4a"}) {
        const int in = BitRate(root + "/in/" + name);
        const int out = BitRate(root + "/out/keep/in/" + name);
        EXPECT_GT(out, in * 3 / 4) << name << ": " << in << " in, " << out << " out";
        EXPECT_LT(out, in * 5 / 4) << name << ": " << in << " in, " << out << " out";
    }
}

TEST_F(KeptTypeBatch, TheLogNamesTheMpeg4RateWritten)
{
    QM_REQUIRE_PEER("ffprobe");
    ASSERT_TRUE(MakeStereoTake(1.0));
    QVariantMap perChannel = TypedConversion("per channel", "Mpg4", 128, {});
    perChannel.insert("QMCSBitRatePerChannel", true);
    QVariantMap whole = TypedConversion("whole", "Mpg4", 128, {});
    whole.insert("QMCSBitRatePerChannel", false);
    const RunResult run = RunConversions("rates", {{0, perChannel}, {0, whole}}, root + "/in", root + "/out");
    ASSERT_FALSE(run.crashed);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QString log = ReadText(LogPathFromOutput(run.out));
    EXPECT_TRUE(log.contains("Convert number of bits to: 128 kbit/s per channel (256 kbit/s for stereo),"))
        << log.toStdString();
    EXPECT_TRUE(log.contains("Convert number of bits to: 128 kbit/s,")) << log.toStdString();
    EXPECT_GT(BitRate(root + "/out/per channel/in/take.m4a"), 192000);
    EXPECT_LT(BitRate(root + "/out/whole/in/take.m4a"), 160000);
}

}  // namespace
