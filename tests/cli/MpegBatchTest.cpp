// quillmarch-batch writing MPEG Layer I, Layer II and Broadcast Wave MPEG
// outputs: each decodes in ffmpeg to the input's length with the bit rate
// and mode asked for; the Broadcast Wave keeps its description.  An MP3
// the encoder wrote below the bit rate asked is said.
#include "CliTestSupport.h"
#include "Logger.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace clitest;

namespace {

using MpegBatch = BatchTest;

TEST_F(MpegBatch, LayerOneLayerTwoAndBroadcastWaveOutputs)
{
    ASSERT_TRUE(MakeStereoTake(1.3));

    QByteArray joint(1, char(20));
    joint += "MPEG joint stereo   ";
    QByteArray annotated = joint;
    annotated.resize(22, '\0');
    annotated += "Session one";
    const RunResult run = RunConversions("conversions",
        {{0, TypedConversion("Layer I", "MPG1", 256, QByteArray())},
            {0, TypedConversion("Layer II", "MPG2", 192, joint)},
            {0, TypedConversion("BWF MPEG", "BWMP", 128, annotated)}},
        root + "/in", root + "/out");
    ASSERT_FALSE(run.crashed);
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();

    struct Expected {
        const char* folder;
        const char* codec;
        int bitRate;
    } expected[] = {{"Layer I", "mp1", 256000}, {"Layer II", "mp2", 192000}, {"BWF MPEG", "mp2", 128000}};
    for (const Expected& e : expected) {
        const QStringList files = FilesUnder(root + "/out/" + e.folder);
        ASSERT_EQ(files.size(), 1) << e.folder << " " << files.join(' ').toStdString();
        EXPECT_TRUE(files[0].endsWith(QLatin1String(QLatin1String(e.folder) == QLatin1String("Layer I") ? ".mpg"
                                                     : QLatin1String(e.folder) == QLatin1String("Layer II") ? ".mp2"
                                                                                                            : ".wav")))
            << files[0].toStdString();
        const QJsonObject info = Probe(files[0]);
        const QJsonObject stream = info.value("streams").toArray().at(0).toObject();
        EXPECT_EQ(stream.value("codec_name").toString(), e.codec) << e.folder;
        EXPECT_EQ(stream.value("bit_rate").toString().toInt(), e.bitRate) << e.folder;
        EXPECT_EQ(stream.value("channels").toInt(), 2);
        if (QLatin1String(e.folder) == QLatin1String("BWF MPEG")) {
            EXPECT_EQ(info.value("format").toObject().value("tags").toObject().value("comment").toString(),
                      QStringLiteral("Session one"));
        }
        if (QLatin1String(e.folder) == QLatin1String("Layer II")) {
            QFile f(files[0]);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            EXPECT_EQ(uint8_t(f.read(4).at(3)) >> 6, 1) << "joint stereo asked for";
        }
        QByteArray pcm;
        ASSERT_TRUE(RunPeer(QStringLiteral("ffmpeg"), {"-v", "error", "-i", files[0], "-f", "s16le", "-"}, &pcm));
        const qsizetype frames = pcm.size() / 4;
        // Every input frame, given back 481 frames late (Layer I: 545).
        EXPECT_GE(frames, qsizetype(44100 * 1.3) + 481) << e.folder;
        EXPECT_LT(frames, qsizetype(44100 * 1.3) + 545 + 1152) << e.folder;
    }
}

// Below 32 kHz the encoder writes MP3 at less than 320 kbit/s: the file's
// line says so with both figures, the one written as ffprobe reads it back
// from the constant-rate file (an average asked for is lowered alike);
// where the rate is kept, nothing is said.
TEST_F(MpegBatch, AnMP3WrittenBelowTheBitRateAskedIsSaid)
{
    ASSERT_TRUE(QDir().mkpath(root + "/in"));
    const int rates[] = {8000, 11025, 16000, 22050, 32000, 44100};
    for (const int rate : rates)
        ASSERT_TRUE(Sox({"-D", "-n", "-r", QString::number(rate), "-c", "2", "-b", "16",
                         root + QString("/in/take%1.wav").arg(rate), "synth", "0.3", "sine", "440", "gain", "-6"}));
    QVariantMap constant = HeldEncoder::Conversion("CBR");
    constant.insert("QMCSWordLength", 320);
    QVariantMap average = constant;
    average.insert("QMCSName", "ABR");
    average.insert("QMCSSpecifics", QVariantMap{{"LAMEEncodingMode", 1}});
    const RunResult r = RunConversions("mp3", {{0, constant}, {0, average}}, root + "/in", root + "/out");
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QString log = ReadText(LogPathFromOutput(r.out));
    int lowered = 0;
    for (const int rate : rates) {
        const QString input = root + QString("/in/take%1.wav").arg(rate);
        const QJsonObject stream = Probe(root + QString("/out/CBR/in/take%1.mp3").arg(rate))
                                       .value("streams").toArray().at(0).toObject();
        const int written = stream.value("bit_rate").toString().toInt() / 1000;
        ASSERT_GT(written, 0) << rate;
        const QString name = QString("take%1").arg(rate);
        for (const QString& mode : {QString("CBR"), QString("ABR")}) {
            const QString said = QString("was encoded at a lower bit rate than asked (MP3): %1 kbit/s written, 320 "
                                         "kbit/s asked%2")
                                     .arg(written)
                                     .arg(mode == "ABR" ? " (average)" : "");
            const QString line = "warning " + input + " (conversion '" + mode + "')";
            if (written < 320) {
                EXPECT_TRUE(r.err.contains(line + ": " + said + "\n")) << rate << "\n" << r.err.toStdString();
                EXPECT_TRUE(log.contains(" " + name + Logger::blankFill(name.size()) + said + "\n"))
                    << rate << "\n" << log.toStdString();
            } else {
                EXPECT_FALSE(r.err.contains(line)) << r.err.toStdString();
            }
        }
        lowered += written < 320 ? 1 : 0;
    }
    EXPECT_EQ(lowered, 4);
}

}  // namespace
