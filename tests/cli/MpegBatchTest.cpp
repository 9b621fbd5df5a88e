// quillmarch-batch writing MPEG Layer I, Layer II and Broadcast Wave MPEG
// outputs: each decodes in ffmpeg to the input's length with the bit rate
// and mode asked for; the Broadcast Wave keeps its description.
#include "CliTestSupport.h"

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

}  // namespace
