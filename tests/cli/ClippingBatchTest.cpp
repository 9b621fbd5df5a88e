// Samples beyond full scale through quillmarch-batch, at every place that
// clips: a float input copied to 16, 24 and 32-bit integers, through fades
// (also kept as float), normalising, the gate, a snip and a mono mix, a
// full-scale square resampled from 96 to 44.1 kHz (its filter's overshoot)
// into integers and floats.  Each says on the input's line how many samples
// it clipped: as many as sox counts reading the input (within a snip's
// range), or as many as the output holds on its rails, each once.  A
// 16-bit square at full scale through the gate clips nothing.  A float
// input kept as its type stays float (WAVE, AIFF-C 'fl32', CAF), and keeps
// its values beyond full scale where the copy carries them.  The inputs
// are written by ffmpeg and sox, the outputs read back by ffmpeg and
// ffprobe.
#include "CliTestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

using namespace clitest;

namespace {

// What an output should show.
enum class Expect {
    InputCount,  // the warning counts the input's samples beyond full scale (and sox agrees where it reads them)
    Rails,       // the warning counts the output's samples on the rails (a filter's overshoot)
    KeptFloats,  // no warning; a float file holding the input's samples as they are
    Untouched,   // no warning; the output holds the input's samples
};

struct ClipCase {
    const char* name;
    const char* input;      // file name in root/in
    const char* generator;  // "ffmpeg": aevalsrc `source`; "sox": sox -n ... `source`
    const char* source;
    const char* type;       // output type; "" keeps the input's type and word length
    int bits;
    const char* setting;    // "", "fades", "normalise", "mono", "rate", "gate", "snip", "regions"
    Expect expect;
    const char* codec;      // ffprobe's codec of the output ("": not checked)
};

constexpr const char* kStereoBeyond = "1.5*sin(2*PI*1000*t)|-2*sin(2*PI*700*t):s=44100:d=0.4";
constexpr const char* kMonoBeyond = "1.5*sin(2*PI*1000*t):s=44100:d=0.4";
constexpr const char* kSquare = "-r 96000 -c 1 -b 16 {OUT} synth 0.5 square 1000 gain -n 0";
// Every sample on a rail: 32767 and -32768.
constexpr const char* kFullSquare = "-r 48000 -c 1 -b 16 {OUT} synth 1 square 100 gain -n 0";
constexpr double kSnipFrom = 0.1;  // s: frames 4410 to 8819 at 44.1 kHz
constexpr double kSnipTo = 0.2;

const ClipCase kCases[] = {
    {"float_to_16", "f.wav", "ffmpeg", kStereoBeyond, "WAVE", 16, "", Expect::InputCount, "pcm_s16le"},
    {"float_to_24", "f.wav", "ffmpeg", kStereoBeyond, "AIFF", 24, "", Expect::InputCount, "pcm_s24be"},
    {"float_to_32", "f.wav", "ffmpeg", kStereoBeyond, "WAVE", 32, "", Expect::InputCount, "pcm_s32le"},
    {"aifc_float_to_16", "a.aif", "ffmpeg-aifc", kMonoBeyond, "WAVE", 16, "", Expect::InputCount, "pcm_s16le"},
    {"float_fades", "f.wav", "ffmpeg", kStereoBeyond, "WAVE", 16, "fades", Expect::InputCount, ""},
    // Fades change the samples: a float kept as its type is clipped, as the
    // guide says, and each sample counted once.
    {"float_kept_fades", "f.wav", "ffmpeg", kStereoBeyond, "", 0, "fades", Expect::InputCount, "pcm_f32le"},
    {"float_gate", "f.wav", "ffmpeg", kStereoBeyond, "WAVE", 16, "gate", Expect::InputCount, "pcm_s16le"},
    {"float_kept_gate", "f.wav", "ffmpeg", kStereoBeyond, "", 0, "gate", Expect::InputCount, "pcm_f32le"},
    {"float_snip", "f.wav", "ffmpeg", kStereoBeyond, "WAVE", 16, "snip", Expect::InputCount, "pcm_s16le"},
    // The region holds the snip's frames.
    {"float_region", "r.wav", "ffmpeg+region", kStereoBeyond, "WAVE", 16, "regions", Expect::InputCount, "pcm_s16le"},
    {"float_region_normalised", "r.wav", "ffmpeg+region", kStereoBeyond, "WAVE", 16, "regions normalise",
     Expect::InputCount, ""},
    {"square_gate_16", "fs.wav", "sox", kFullSquare, "WAVE", 16, "gate", Expect::Untouched, "pcm_s16le"},
    {"float_normalised", "f.wav", "ffmpeg", kStereoBeyond, "WAVE", 16, "normalise", Expect::InputCount, ""},
    {"float_mixed_to_mono", "f.wav", "ffmpeg", kStereoBeyond, "WAVE", 16, "mono", Expect::InputCount, ""},
    {"float_wave_kept", "f.wav", "ffmpeg", kStereoBeyond, "", 0, "", Expect::KeptFloats, "pcm_f32le"},
    {"mono_float_wave_kept", "m.wav", "ffmpeg", kMonoBeyond, "", 0, "", Expect::KeptFloats, "pcm_f32le"},
    {"float_wave_to_float_wave", "f.wav", "ffmpeg", kStereoBeyond, "WVfl", 32, "", Expect::KeptFloats, "pcm_f32le"},
    {"aifc_float_kept", "a.aif", "ffmpeg-aifc", kMonoBeyond, "", 0, "", Expect::KeptFloats, "pcm_f32be"},
    // A CAF is written from the blocks' integers: float, but clipped, and said.
    {"caf_float_kept", "c.caf", "ffmpeg-caf", kMonoBeyond, "", 0, "", Expect::InputCount, "pcm_f32be"},
    {"square_rate_16", "sq.wav", "sox", kSquare, "WAVE", 16, "rate", Expect::Rails, "pcm_s16le"},
    {"square_rate_24", "sq.wav", "sox", kSquare, "WAVE", 24, "rate", Expect::Rails, "pcm_s24le"},
    {"square_rate_32", "sq.wav", "sox", kSquare, "WAVE", 32, "rate", Expect::Rails, "pcm_s32le"},
    {"square_rate_float", "sq.wav", "sox", kSquare, "WVfl", 32, "rate", Expect::Rails, "pcm_f32le"},
};

void PrintTo(const ClipCase& c, std::ostream* os)
{
    *os << c.name;
}

// The samples of a file as ffmpeg decodes them to 32-bit floats (which
// keeps values beyond full scale).
std::vector<float> Floats(const QString& path)
{
    QByteArray data;
    RunPeer("ffmpeg", {"-nostdin", "-v", "error", "-i", path, "-f", "f32le", "-c:a", "pcm_f32le", "-"}, &data);
    std::vector<float> samples(std::size_t(data.size()) / 4);
    std::memcpy(samples.data(), data.constData(), samples.size() * 4);
    return samples;
}

class ClippingBatch : public BatchTest, public ::testing::WithParamInterface<ClipCase> {
protected:
    bool MakeInput(const ClipCase& c, QString* path) const
    {
        QDir().mkpath(root + "/in");
        *path = root + "/in/" + c.input;
        const QString generator = c.generator;
        if (generator == "sox") {
            QStringList arguments{"-D", "-n"};
            for (const QString& word : QString(c.source).split(' '))
                arguments << (word == "{OUT}" ? *path : word);
            return Sox(arguments);
        }
        const QString codec = generator == "ffmpeg-aifc" ? "pcm_f32be" : "pcm_f32le";
        if (!RunPeer("ffmpeg", {"-nostdin", "-v", "error", "-f", "lavfi", "-i", QString("aevalsrc=") + c.source,
                                "-c:a", codec, *path}))
            return false;
        return generator != "ffmpeg+region" || AddRegion(*path);
    }

    // One region over the snip's frames, as a cue point and its labelled
    // text (added by hand: ffmpeg writes none).
    static bool AddRegion(const QString& path)
    {
        const auto le32 = [](quint32 v) { return QByteArray(1, char(v)) + char(v >> 8) + char(v >> 16) + char(v >> 24); };
        const quint32 start = quint32(std::floor(kSnipFrom * 44100 + 0.5));
        const quint32 length = quint32(std::floor(kSnipTo * 44100 + 0.5)) - start;
        const QByteArray cue = le32(1) + le32(1) + le32(start) + "data" + le32(0) + le32(0) + le32(start);
        const QByteArray ltxt = "ltxt" + le32(20) + le32(1) + le32(length) + "rgn " + QByteArray(8, '\0');
        const QByteArray labl = "labl" + le32(10) + le32(1) + QByteArray("Verse\0", 6);
        QByteArray bytes = ReadBytes(path);
        bytes += "cue " + le32(quint32(cue.size())) + cue;
        bytes += "LIST" + le32(quint32(4 + ltxt.size() + labl.size())) + "adtl" + ltxt + labl;
        bytes.replace(4, 4, le32(quint32(bytes.size() - 8)));
        return WriteBytes(path, bytes);
    }

    static QVariantMap ConversionFor(const ClipCase& c)
    {
        QVariantMap conversion;
        if (QString(c.type).isEmpty()) {
            conversion = TypedConversion("clip", "WAVE", 16, {});
            conversion.insert("QMCSNeedsStrictFileType", false);
            conversion.insert("QMCSNeedsNewWordLength", false);
        } else {
            conversion = TypedConversion("clip", c.type, c.bits, {});
        }
        const QString setting = c.setting;
        if (setting == "fades") {
            conversion.insert("QMCSNeedsFades", true);
            conversion.insert("QMCSFadeInTime", 50.0);
            conversion.insert("QMCSFadeOutTime", 50.0);
        }
        if (setting.startsWith("regions"))
            conversion.insert("QMCSNeedsExtraction", true);
        if (setting.endsWith("normalise")) {
            conversion.insert("QMCSNeedsGain", true);
            conversion.insert("QMCSNeedsNormalize", true);
            conversion.insert("QMCSCeiling", -1.0);
        } else if (setting == "mono") {
            conversion.insert("QMCSNeedsChannelTreat", true);
            conversion.insert("QMCSChannelTreat", 3);
        } else if (setting == "rate") {
            conversion.insert("QMCSNeedsSampleRateConversion", true);
            conversion.insert("QMCSSampleRate", 44100.0);
        } else if (setting == "gate") {
            conversion.insert("QMCSNeedsGain", true);
            conversion.insert("QMCSNeedsGate", true);
            conversion.insert("QMCSGateThreshold", -60.0);
        } else if (setting == "snip") {
            conversion.insert("QMCSNeedsSnip", true);
            conversion.insert("QMCSSnipFrom", kSnipFrom);
            conversion.insert("QMCSSnipTo", kSnipTo);
        }
        return conversion;
    }
};

TEST_P(ClippingBatch, CountsWhatItClipsAndKeepsFloats)
{
    QM_REQUIRE_PEER("ffmpeg");
    QM_REQUIRE_PEER("ffprobe");
    QM_REQUIRE_PEER("sox");
    const ClipCase& c = GetParam();
    QString input;
    ASSERT_TRUE(MakeInput(c, &input));
    const std::vector<float> in = Floats(input);
    ASSERT_FALSE(in.empty());
    // The samples beyond full scale the output is made of (a snip's frames
    // only: the nearest frames to its times).
    const bool snip = QString(c.setting) == "snip" || QString(c.setting).startsWith("regions");
    const std::size_t channels = QString(c.source) == kStereoBeyond ? 2 : 1;
    const std::size_t first = snip ? std::size_t(std::floor(kSnipFrom * 44100 + 0.5)) * channels : 0;
    const std::size_t last = snip ? std::size_t(std::floor(kSnipTo * 44100 + 0.5)) * channels : in.size();
    qint64 beyond = 0;
    for (std::size_t i = first; i < last && i < in.size(); ++i)
        beyond += std::fabs(in[i]) > 1.0f;

    const RunResult run = RunConversions("clip", {{0, ConversionFor(c)}}, input, root + "/out");
    ASSERT_FALSE(run.crashed);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QStringList outputs = FilesUnder(root + "/out/clip");
    ASSERT_EQ(outputs.size(), 1) << outputs.join(' ').toStdString();
    const QString output = outputs.first();
    if (*c.codec) {
        const QJsonArray streams = Probe(output).value("streams").toArray();
        ASSERT_FALSE(streams.isEmpty());
        EXPECT_EQ(streams.first().toObject().value("codec_name").toString(), QString(c.codec));
    }
    const std::vector<float> out = Floats(output);
    ASSERT_FALSE(out.empty());

    // The input's line, and its line in the log, give the count.
    static const QRegularExpression line(": has samples beyond full scale: ([0-9]+) samples? clipped\n");
    const QRegularExpressionMatch said = line.match(run.err);
    const QString log = ReadText(LogPathFromOutput(run.out));
    if (c.expect == Expect::Untouched) {
        EXPECT_FALSE(run.err.contains("warning")) << run.err.toStdString();
        EXPECT_EQ(out, in) << "the samples changed";
        return;
    }
    if (c.expect == Expect::KeptFloats) {
        EXPECT_FALSE(run.err.contains("warning")) << run.err.toStdString();
        ASSERT_EQ(out.size(), in.size());
        EXPECT_EQ(std::memcmp(out.data(), in.data(), in.size() * 4), 0) << "the float samples changed";
        EXPECT_GT(beyond, 0);
        return;
    }
    ASSERT_TRUE(said.hasMatch()) << run.err.toStdString();
    const qint64 count = said.captured(1).toLongLong();
    EXPECT_TRUE(log.contains("has samples beyond full scale: " + said.captured(1) + " sample")) << log.toStdString();
    if (c.expect == Expect::InputCount) {
        EXPECT_EQ(count, beyond);
        // sox counts them too, reading the whole input (it does not for CAF;
        // reading a trimmed range it counts what its buffers read past it).
        const peers::RunResult sox = peers::Run("sox", {input, "-n"});
        const QRegularExpressionMatch soxSaid =
            QRegularExpression("input clipped ([0-9]+) samples").match(QString::fromUtf8(sox.err));
        if (QString(c.input) != "c.caf" && !snip) {
            ASSERT_TRUE(soxSaid.hasMatch()) << sox.err.toStdString();
            EXPECT_EQ(count, soxSaid.captured(1).toLongLong());
        }
        for (float x : out)
            ASSERT_LE(std::fabs(x), 1.0f);
        return;
    }
    // Rails: every sample clipped sits on a rail of the output's words; a
    // sample between the top word and full scale sits there unclipped.
    const double top = c.bits == 16 ? 32767.0 / 32768.0 : c.bits == 24 ? 8388607.0 / 8388608.0 : 1.0 - 1e-7;
    qint64 rails = 0;
    for (float x : out)
        rails += x >= top || x <= -1.0f;
    EXPECT_GT(count, out.size() / 10);
    EXPECT_LE(count, rails);
    EXPECT_GE(count, rails - rails / 100);
}

INSTANTIATE_TEST_SUITE_P(EveryPlaceThatClips, ClippingBatch, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ClipCase>& info) { return std::string(info.param.name); });

// The limiter (the compressor's boost, 6 dB by default, after normalising)
// never writes a sample beyond its ceiling, whatever the ceiling, the
// output's word length, its dither or float samples: nothing is clipped or
// said, and the peak ffmpeg reads lies within a step of the ceiling, never
// above it.  The inputs are sox's tones, 16-bit mono (dithered by sox, as
// it writes them) and 24-bit stereo.
class Limiter : public BatchTest {};

TEST_F(Limiter, HoldsItsCeilingAtEverySetting)
{
    QM_REQUIRE_PEER("ffmpeg");
    ASSERT_TRUE(QDir().mkpath(root + "/in"));
    ASSERT_TRUE(Sox({"-R", "-n", "-r", "44100", "-b", "16", "-c", "1", root + "/in/two.wav", "synth", "2", "sine",
                     "300"}));
    ASSERT_TRUE(Sox({"-R", "-n", "-r", "48000", "-b", "24", "-c", "2", root + "/in/wide.wav", "synth", "1", "sine",
                     "300", "sine", "440"}));
    struct Limited {
        const char* name;
        const char* type;  // "": the input's type and word length
        int bits;
        double ceiling;
        bool dither;
    };
    const Limited cases[] = {{"kept at 0", "", 0, 0.0, false},
                             {"kept at -3", "", 0, -3.0, false},
                             {"dithered 16 at -3", "WAVE", 16, -3.0, true},
                             {"dithered 8 at -0.1", "WAVE", 8, -0.1, true},
                             {"float at 0", "WVfl", 32, 0.0, false},
                             {"float at -3", "WVfl", 32, -3.0, false}};
    QList<QPair<int, QVariantMap>> conversions;
    for (const Limited& c : cases) {
        QVariantMap conversion = TypedConversion(c.name, *c.type ? c.type : "WAVE", c.bits, {});
        conversion.insert("QMCSNeedsStrictFileType", *c.type != '\0');
        conversion.insert("QMCSNeedsNewWordLength", *c.type != '\0');
        conversion.insert("QMCSNeedsRedither", c.dither);
        conversion.insert("QMCSNeedsGain", true);
        conversion.insert("QMCSNeedsCompressor", true);
        conversion.insert("QMCSCeiling", c.ceiling);
        conversions.append({0, conversion});
    }
    const RunResult run = RunConversions("limit", conversions, root + "/in", root + "/out");
    ASSERT_FALSE(run.crashed);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("clipped")) << run.err.toStdString();
    for (const Limited& c : cases) {
        for (const char* name : {"two.wav", "wide.wav"}) {
            SCOPED_TRACE(std::string(c.name) + " " + name);
            const std::vector<float> out = Floats(root + "/out/" + c.name + "/in/" + name);
            ASSERT_FALSE(out.empty());
            double peak = 0.0;
            for (float x : out)
                peak = std::max(peak, std::fabs(double(x)));
            const double C = std::pow(10.0, c.ceiling / 20.0);
            const int bits = c.bits ? (QString(c.type) == "WVfl" ? 24 : c.bits) : QString(name) == "two.wav" ? 16 : 24;
            EXPECT_LE(peak, C);
            EXPECT_GE(peak, C - 2.0 / std::pow(2.0, bits - 1));
        }
    }
}

}  // namespace
