// Compressed and movie inputs through the batch command: --info describes
// them, and the factory conversions that name an output type convert them
// with every frame.
#include "CliTestSupport.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>

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

// Linear inputs of the movie layer (Core Audio files and QuickTime movies,
// written by ffmpeg and libsndfile), and a 32-bit WAVE, keep their word
// length through every output type that holds it when the conversion keeps
// the word length: integers of 8 to 32 bits as they are, 32 and 64-bit
// floats as 32-bit samples (the float outputs, and a float CAF kept as CAF,
// as floats).  Read by ffmpeg,
// each output declares the input's word length and holds its samples to
// the last bit.
namespace {

struct LinearInput {
    const char* file;     // its extension tells the container
    const char* maker;    // "ffmpeg", "sndfile-convert" or "sox"
    const char* encoding; // ffmpeg's codec (and options), sndfile-convert's or sox's options
    int bits;             // the word length kept
    bool floating;
};
const LinearInput kLinearInputs[] = {
    {"s8.caf", "ffmpeg", "pcm_s8", 8, false},
    {"s16.caf", "sndfile-convert", "-pcm16", 16, false},
    {"s24.caf", "ffmpeg", "pcm_s24le", 24, false},
    {"s32.caf", "ffmpeg", "pcm_s32be", 32, false},
    {"f32.caf", "sndfile-convert", "-float32", 32, true},
    {"f64.caf", "ffmpeg", "pcm_f64be", 32, true},
    {"s32.mov", "ffmpeg", "pcm_s32be", 32, false},
    {"f32.mov", "ffmpeg", "pcm_f32le", 32, true},
    {"s32.wav", "sox", "-b 32 -e signed-integer", 32, false},
    // RF64, the WAVE of more than 4 GB, read through the media libraries.
    {"s24_rf64.wav", "ffmpeg", "pcm_s24le -rf64 always", 24, false},
    {"f32_rf64.wav", "ffmpeg", "pcm_f32le -rf64 always", 32, true},
    {"s16.rf64", "sndfile-convert", "-pcm16", 16, false},
};

void PrintTo(const LinearInput& input, std::ostream* os)
{
    *os << input.file;
}

struct KeptOutput {
    const char* folder;
    const char* type;
    const char* specifics;
    int fewestBits;  // the shortest word length the type holds
    bool floating;   // holds floats only
};
const KeptOutput kKeptOutputs[] = {
    {"CAF", "caff", "", 8, false},          {"Movie", "QTIF", "BI", 8, false},
    {"Movie LE", "QTIF", "LI", 8, false},   {"WAVE", "WAVE", "", 8, false},
    {"AIFF", "AIFF", "", 8, false},         {"AIFC", "AIFC", "", 8, false},
    {"NeXT", "NxTS", "", 8, false},         {"Broadcast Wave", "BWLN", "", 16, false},
    {"Float movie", "QTIF", "BF", 32, true}, {"Float WAVE", "WVfl", "", 32, true},
};

std::vector<int32_t> FFmpegSamples(const QString& path)
{
    const std::vector<SInt32> samples = peers::FFmpegS32(path.toStdString());
    return std::vector<int32_t>(samples.begin(), samples.end());
}

class LinearWordLength : public BatchTest, public ::testing::WithParamInterface<LinearInput> {};

} // namespace

TEST_P(LinearWordLength, EveryOutputThatHoldsItKeepsTheWordLengthAndEveryBit)
{
    QM_REQUIRE_PEER("ffmpeg");
    const LinearInput& input = GetParam();
    ASSERT_TRUE(QDir().mkpath(root + "/in"));
    // Two channels of tones with a little noise, as floats: every bit of
    // 32-bit samples carries sound.
    const QString source = root + "/source.wav";
    ASSERT_TRUE(RunPeer("ffmpeg", {"-nostdin", "-v", "error", "-f", "lavfi", "-i",
                                   "aevalsrc=0.6*sin(2*PI*441*t)+0.0001*(random(0)-0.5)|"
                                   "0.4*sin(2*PI*661*t)+0.0001*(random(1)-0.5):s=44100:d=0.3",
                                   "-c:a", "pcm_f32le", source}));
    const QString path = root + "/in/" + input.file;
    const QString maker = input.maker;
    const QStringList options = QString(input.encoding).split(' ');
    if (maker == "ffmpeg")
        ASSERT_TRUE(RunPeer("ffmpeg", QStringList{"-nostdin", "-v", "error", "-i", source, "-c:a"} + options +
                                          QStringList{path}));
    else if (maker == "sox")
        ASSERT_TRUE(Sox(QStringList{source} + options + QStringList{path}));
    else
        ASSERT_TRUE(RunPeer(maker, options + QStringList{source, path}));
    const std::vector<int32_t> samples = FFmpegSamples(path);
    ASSERT_FALSE(samples.empty());

    QList<QPair<int, QVariantMap>> changes;
    std::vector<const KeptOutput*> outputs;
    for (const KeptOutput& output : kKeptOutputs) {
        if (input.bits < output.fewestBits || (output.floating && !input.floating))
            continue;
        QVariantMap conversion = TypedConversion(output.folder, output.type, input.bits, output.specifics);
        conversion.insert("QMCSNeedsNewWordLength", false);
        changes.append({0, conversion});
        outputs.push_back(&output);
    }
    const RunResult run = RunConversions("kept", changes, root + "/in", root + "/out");
    ASSERT_FALSE(run.crashed);
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    for (const KeptOutput* output : outputs) {
        const QStringList files = FilesUnder(root + "/out/" + output->folder).filter(QRegularExpression("/[^.][^/]*$"));
        ASSERT_EQ(files.size(), 1) << output->folder << " " << files.join(' ').toStdString();
        const QJsonObject stream = Probe(files[0]).value("streams").toArray().at(0).toObject();
        EXPECT_EQ(stream.value("bits_per_sample").toInt(), input.bits) << output->folder;
        // A float CAF kept as CAF stays float.
        const bool floats = output->floating || (input.floating && QString(output->type) == "caff" &&
                                                 QString(input.file).endsWith(".caf"));
        EXPECT_EQ(stream.value("codec_name").toString().startsWith("pcm_f"), floats) << output->folder;
        EXPECT_TRUE(FFmpegSamples(files[0]) == samples) << output->folder << ": the samples differ";
    }
}

INSTANTIATE_TEST_SUITE_P(Inputs, LinearWordLength, ::testing::ValuesIn(kLinearInputs),
                         [](const ::testing::TestParamInfo<LinearInput>& info) {
                             QString name = QString(info.param.file).replace('.', '_');
                             return name.toStdString();
                         });
