// Compressed and movie inputs through the batch command: --info describes
// them, and the factory conversions that name an output type convert them
// with every frame.
#include "CliTestSupport.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace clitest;

using MovieInputBatch = BatchTest;

TEST_F(MovieInputBatch, InfoAndFactoryConversionsTakeCompressedInputs)
{
    const QString in = dir.qpath() + QStringLiteral("/in");
    const QString out = dir.qpath() + QStringLiteral("/out");
    ASSERT_TRUE(QDir().mkpath(in));
    ASSERT_TRUE(QDir().mkpath(out));
    const QString wav = dir.qpath() + QStringLiteral("/source.wav");
    ASSERT_TRUE(Sox({QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"), QStringLiteral("-c"),
                     QStringLiteral("2"), QStringLiteral("-b"), QStringLiteral("16"), wav, QStringLiteral("synth"),
                     QStringLiteral("0.7"), QStringLiteral("sine"), QStringLiteral("440")}));
    ASSERT_TRUE(RunPeer(QStringLiteral("lame"), {QStringLiteral("--quiet"), wav, in + QStringLiteral("/a.mp3")}));
    const QStringList ff = {QStringLiteral("-nostdin"), QStringLiteral("-loglevel"), QStringLiteral("error"),
                            QStringLiteral("-i"), wav};
    ASSERT_TRUE(RunPeer(QStringLiteral("ffmpeg"), ff + QStringList{QStringLiteral("-c:a"), QStringLiteral("aac"),
                                                                   in + QStringLiteral("/b.m4a")}));
    ASSERT_TRUE(RunPeer(QStringLiteral("ffmpeg"), ff + QStringList{in + QStringLiteral("/c.flac")}));
    ASSERT_TRUE(RunPeer(QStringLiteral("ffmpeg"), ff + QStringList{in + QStringLiteral("/d.caf")}));
    QStringList inputs;
    for (const char* name : {"a.mp3", "b.m4a", "c.flac", "d.caf"})
        inputs << in + QLatin1Char('/') + QString::fromLatin1(name);

    const RunResult info = Run(QStringList{QStringLiteral("--info")} + inputs);
    ASSERT_EQ(info.exitCode, 0) << info.err.toStdString();
    QMap<QString, QJsonObject> described;
    for (const QString& line : info.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        described.insert(o.value(QStringLiteral("path")).toString().section(QLatin1Char('/'), -1), o);
    }
    EXPECT_EQ(described.value(QStringLiteral("a.mp3")).value(QStringLiteral("type")).toString(), "Mp3 ");
    EXPECT_EQ(described.value(QStringLiteral("b.m4a")).value(QStringLiteral("type")).toString(), "Mpg4");
    EXPECT_EQ(described.value(QStringLiteral("c.flac")).value(QStringLiteral("format")).toString(), "FLAC");
    EXPECT_EQ(described.value(QStringLiteral("d.caf")).value(QStringLiteral("format")).toString(),
              "Core Audio File");

    // The three conversions with an output type of their own.
    const QString conversions = dir.qpath() + QStringLiteral("/conversions.plist");
    WriteConversions(conversions, {{0, {}}, {1, {}}, {2, {}}});
    const RunResult run = Run(
        QStringList{QStringLiteral("--quiet"), QStringLiteral("--conversions"), conversions, QStringLiteral("-o"), out}
        + inputs);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString() << run.out.toStdString();
    const QByteArray source = SoxSamples(wav);
    for (const char* name : {"a.mp3", "b.m4a", "c.flac", "d.caf"}) {
        const QString base = QString::fromLatin1(name).section(QLatin1Char('.'), 0, 0);
        int outputs = 0;
        for (const QString& folder : QDir(out).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            for (const QString& file : QDir(out + QLatin1Char('/') + folder).entryList(QDir::Files))
                if (file.startsWith(base + QLatin1Char('.')))
                    ++outputs;
        EXPECT_EQ(outputs, 3) << name;
    }
    // A lossless input comes out of the 44.1 kHz 16-bit AIFF conversion as it went in.
    const QString aiff = out + QStringLiteral("/CD quality AIFF (44.1 kHz, 16 bits)/c.aif");
    EXPECT_EQ(SoxSamples(aiff).size(), source.size());
}

// A compressed WAVE ends where its 'fact' chunk says, not with the padding
// of its last block: 7900 frames in 16 blocks of 505 (IMA ADPCM) or 500
// (MS ADPCM) frames, 25 of 320 (GSM 6.10).
TEST_F(MovieInputBatch, CompressedWaveEndsAtItsFactChunk)
{
    QM_REQUIRE_PEER("sox");
    const QString in = dir.qpath() + QStringLiteral("/in");
    ASSERT_TRUE(QDir().mkpath(in));
    QStringList inputs;
    for (const char* encoding : {"ima-adpcm", "ms-adpcm", "gsm-full-rate"}) {
        const QString path = in + QLatin1Char('/') + QString::fromLatin1(encoding) + QStringLiteral(".wav");
        ASSERT_TRUE(Sox({"-r", "8000", "-c", "1", "-n", "-e", encoding, path, "synth", "7900s", "sine", "440", "vol",
                         "0.5"}));
        inputs << path;
    }
    const RunResult info = Run(QStringList{QStringLiteral("--info")} + inputs);
    ASSERT_EQ(info.exitCode, 0) << info.err.toStdString();
    const QStringList lines = info.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), inputs.size()) << info.out.toStdString();
    for (const QString& line : lines) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        EXPECT_EQ(o.value(QStringLiteral("frames")).toInt(), 7900) << line.toStdString();
    }

    // Converted, the sound keeps that length.
    const QString out = dir.qpath() + QStringLiteral("/out");
    const RunResult run = RunConversions(QStringLiteral("aiff"), {{0, {{"QMCSNeedsSampleRateConversion", false}}}},
                                         in, out);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString() << run.out.toStdString();
    for (const char* encoding : {"ima-adpcm", "ms-adpcm", "gsm-full-rate"}) {
        const QString aiff =
            out + QStringLiteral("/CD quality AIFF (44.1 kHz, 16 bits)/in/") + QString::fromLatin1(encoding) + ".aif";
        EXPECT_EQ(SoxSamples(aiff).size(), 7900 * 2) << encoding;
    }
}
