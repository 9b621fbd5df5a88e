// An input refused for what it holds is told in words, through the real
// batch: the line names the limit and this input's value that broke it (the
// same rules as the check before the batch), never a bare error number, on
// standard error and in the log, and nothing is written.  Advice about the
// channels names only treatments that then convert the input: following
// each one is tried.
#include "CliTestSupport.h"
#include "ConvSpec.h"
#include "PropertyList.h"

#include <QDir>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

using namespace clitest;

namespace {

// A conversion to the type `type` with `changes` (the keys without their
// "QMCS" prefix); nothing else is changed.
QVariantMap To(const char* type, const QVariantMap& changes = {})
{
    const QByteArray code(type, 4);
    QVariantMap c{{"QMCSName", "x"},
                  {"QMCSNeedsStrictFileType", true},
                  {"QMCSOutputFileType", qint32(quint32(uint8_t(code[0])) << 24 | quint32(uint8_t(code[1])) << 16 |
                                                quint32(uint8_t(code[2])) << 8 | quint32(uint8_t(code[3])))}};
    for (auto it = changes.begin(); it != changes.end(); ++it)
        c.insert("QMCS" + it.key(), it.value());
    return c;
}

// An input written by sox: `seconds` of a tone (0: no audio at all);
// `hidden`: the chunk whose identifier is then overwritten by "JUNK" (the
// file lacks it).
struct Input {
    int rate;
    int channels;
    int bits;
    double seconds = 0.3;
    const char* hidden = nullptr;
};

class PerFileRefusals : public BatchTest {
protected:
    // `input` converted by `conversion` (named "x") from root/in into
    // root/out; the run.
    RunResult Convert(const Input& input, QVariantMap conversion, const QString& tag = QString())
    {
        const QString in = root + "/in" + tag;
        QDir().mkpath(in);
        QStringList sox = {"-D", "-n", "-r", QString::number(input.rate), "-c", QString::number(input.channels), "-b",
                           QString::number(input.bits), in + "/take.wav"};
        sox += input.seconds > 0 ? QStringList{"synth", QString::number(input.seconds), "sine", "440"}
                                 : QStringList{"trim", "0", "0"};
        EXPECT_TRUE(QFile::exists(in + "/take.wav") || Sox(sox));
        if (input.hidden) {
            QByteArray bytes = ReadBytes(in + "/take.wav");
            const qsizetype at = bytes.indexOf(input.hidden, 12);
            EXPECT_GT(at, 0);
            EXPECT_TRUE(at > 0 && WriteBytes(in + "/take.wav", bytes.replace(at, 4, "JUNK")));
        }
        QDir(root + "/out" + tag).removeRecursively();
        const QString conversions = root + "/c.plist";
        EXPECT_TRUE(WriteBytes(conversions, PropertyList::toXml(QVariantList{conversion})));
        return Run({"--quiet", "--conversions", conversions, "-o", root + "/out" + tag, in + "/take.wav"});
    }
};

struct Refusal {
    const char* label;
    Input input;
    QVariantMap conversion;
    int code;           // the refusing format's own code for the case, as the error table has it
    QStringList named;  // the value that broke the limit, then the limit
    bool documented = false;  // docs/conversions.md quotes the message
};

const QVariantMap kBitRate128{{"NeedsNewWordLength", true}, {"WordLength", 128}};

const Refusal kRefusals[] = {
    {"VocRate", {44100, 1, 8}, To("VOC "), -22303, {"at 44100 Hz", "Voc takes 3906 to 20000 Hz"}, true},
    {"VocBits", {8000, 1, 16}, To("VOC "), -22300, {"16 bits", "Voc holds 8 bits"}},
    {"VocChannels", {8000, 2, 8}, To("VOC "), -22302, {"2 channels", "Voc holds 1 channel"}},
    {"VocProEightBits", {44100, 1, 8}, To("VOC2"), -22404, {"8 bits", "Voc Pro holds 16 bits"}},
    {"VocProBits", {44100, 1, 24}, To("VOC2"), -22404, {"24 bits", "Voc Pro holds 16 bits"}},
    {"EightSvxRate", {96000, 1, 8}, To("8SVX"), -22601, {"at 96000 Hz", "takes 65535 Hz or less"}},
    {"SystemSevenRate", {96000, 1, 16}, To("sfil"), -23405, {"at 96000 Hz", "System 7 Sound takes 48000 Hz or less"}},
    {"SystemSevenBits", {44100, 1, 24}, To("sfil"), -23406, {"24 bits", "System 7 Sound holds 8 or 16 bits"}},
    {"MpegRate", {22050, 2, 16}, To("MPG2", kBitRate128), -23604, {"at 22050 Hz", "takes 32000, 44100 or 48000 Hz"}},
    {"MpegMonoBitRate", {44100, 1, 16}, To("MPG2", {{"NeedsNewWordLength", true}, {"WordLength", 224}}), -23611,
     {"mono at 224 kbit/s", "mono files take 32, 48, 56, 64, 80, 96, 112, 128, 160 or 192 kbit/s"}, true},
    {"MpegStereoBitRate", {44100, 2, 16}, To("MPG2", {{"NeedsNewWordLength", true}, {"WordLength", 56}}), -23612,
     {"stereo at 56 kbit/s", "stereo files take 64, 96"}},
    {"MpegLayerOneStereoBitRate", {44100, 2, 16}, To("MPG1", {{"NeedsNewWordLength", true}, {"WordLength", 32}}),
     -23610, {"stereo at 32 kbit/s", "stereo files take 64, 96"}},
    {"MpegChannels", {44100, 3, 16}, To("MPG2", kBitRate128), -23613, {"3 channels", "holds 1 or 2 channels"}},
    {"Mpeg4MonoBitRate", {8000, 1, 16}, To("Mpg4", kBitRate128), -24700,
     {"mono at 8000 Hz and 128 kbit/s per channel", "mono files at 8000 Hz take 8 to 48 kbit/s per channel"}, true},
    {"Mpeg4StereoRate", {96000, 2, 16}, To("Mpg4", kBitRate128), -24701,
     {"stereo at 96000 Hz", "stereo files take 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100 or 48000 Hz"}},
    {"Mpeg4Channels", {44100, 6, 16}, To("Mpg4", kBitRate128), -24702,
     {"6 channels", "MPEG-4 Audio holds 1 or 2 channels", "have this conversion change the number of channels by"}},
    {"Mp3Channels", {44100, 6, 16}, To("DMP3", kBitRate128), -24601,
     {"6 channels", "holds 1 or 2 channels", "have this conversion change the number of channels by"}, true},
    // The encoder would write 48 kHz on its own while the log says the rate
    // is kept.
    {"Mp3Rate96k", {96000, 2, 16}, To("DMP3", kBitRate128), -24605,
     {"at 96000 Hz", "LAME encoded mp3 takes 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100 or 48000 Hz"},
     true},
    {"Mp3Rate88k", {88200, 1, 16}, To("DMP3", kBitRate128), -24605,
     {"at 88200 Hz", "have this conversion convert the sample rate"}},
    {"SonicAiffBits", {44100, 2, 32}, To("SAIF"), -20020, {"32 bits", "Sonic AIFF holds 16 or 24 bits"}, true},
    {"ImaChannels", {44100, 6, 16}, To("A1t4"), -23804,
     {"6 channels", "AIFC IMA 4:1 holds 1 or 2 channels", "have this conversion change the number of channels by"}},
    {"MsAdpcmChannels", {44100, 7, 16}, To("MSAP"), -23207, {"7 channels", "Microsoft ADPCM holds 1 or 2 channels"}},
    {"G729Channels", {8000, 2, 16}, To("G729", {{"NeedsSampleRateConversion", true}, {"SampleRate", 8000}}), -23900,
     {"2 channels", "holds 1 channel"}},
    {"MixSixChannels", {44100, 6, 16}, To("AIFF", {{"NeedsChannelTreat", true}, {"ChannelTreat", 3}}), -22100,
     {"this input has 6 channels", "takes stereo input"}, true},
    {"StereoSixChannels", {44100, 6, 16}, To("AIFF", {{"NeedsChannelTreat", true}, {"ChannelTreat", 1}}), -22100,
     {"this input has 6 channels", "makes stereo"}, true},
    {"SnipWithinAFrame", {44100, 1, 16},
     To("AIFF", {{"NeedsSnip", true}, {"SnipFrom", 0.1}, {"SnipTo", 0.10001}}), -22002,
     {"from 0.1 s to 0.10001 s", "no whole frame at 44100 Hz"}, true},
    {"WaveWithoutFormat", {44100, 1, 16, 0.3, "fmt "}, To("AIFF"), -22703, {"lacks FMT chunk (WAVE)"}},
    {"SnipOfNothing", {44100, 1, 16, 0}, To("AIFF", {{"NeedsSnip", true}, {"SnipFrom", 0.0}, {"SnipTo", 1.0}}), -39,
     {"no audio (0 frames)", "from 0 s to 1 s"}, true},
};

TEST_F(PerFileRefusals, SayTheLimitAndTheValueThatBrokeIt)
{
    const QString guide = ReadText(QStringLiteral(QM_SOURCE_RESOURCES "/../docs/conversions.md")).simplified();
    for (const Refusal& r : kRefusals) {
        SCOPED_TRACE(r.label);
        if (r.conversion.value("QMCSOutputFileType") == To("DMP3").value("QMCSOutputFileType") && !peers::Have("lame")) {
            EXPECT_FALSE(peers::InCI()) << "lame is not installed (a peer every CI run needs)";
            continue;
        }
        const RunResult run = Convert(r.input, r.conversion, r.label);
        ASSERT_FALSE(run.crashed);
        EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
        const QStringList lines = run.err.split('\n').filter("failed ");
        ASSERT_EQ(lines.size(), 1) << run.err.toStdString();
        const QString log = ReadText(LogPathFromOutput(run.out));
        // The code of the format and case that refuse, once, right after
        // the table's message for it.
        const QString code = QStringLiteral("(%1)").arg(r.code);
        EXPECT_EQ(lines.first().count(QRegularExpression(R"(\(-\d+\))")), 1) << lines.first().toStdString();
        EXPECT_TRUE(lines.first().contains(code)) << code.toStdString() << "\n" << lines.first().toStdString();
        for (const QRegularExpressionMatch& m : QRegularExpression(R"(\(-\d+\))").globalMatch(log))
            EXPECT_EQ(m.captured().toStdString(), code.toStdString()) << log.toStdString();
        // The maker's advice is for the program's own faults only.
        EXPECT_FALSE(log.contains("call Corvane")) << log.toStdString();
        for (const QString& words : r.named) {
            EXPECT_TRUE(lines.first().contains(words)) << words.toStdString() << "\n" << lines.first().toStdString();
            EXPECT_TRUE(log.contains(words)) << words.toStdString() << "\n" << log.toStdString();
        }
        EXPECT_TRUE(FilesUnder(root + "/out" + r.label + "/x").isEmpty());
        // The guide quotes the program's own words.
        const QString message = lines.first().mid(lines.first().indexOf("take.wav: ") + 10).simplified();
        if (r.documented) {
            EXPECT_TRUE(guide.contains(message)) << message.toStdString();
        }
    }
}

// An output whose name, or whose sidecar's ("._" and the name: the
// headerless types have one), is longer than a file name may be fails
// saying so, with that name, on its input's line and in the log: never as
// a name taken, and without the advice to number duplicates.
TEST_F(PerFileRefusals, NamesTooLongAreSaidWithTheName)
{
    struct TooLong {
        int stem;  // characters of the input's name before ".wav"
        QVariantMap conversion;
        QString output;  // the name too long, from the stem on
    };
    const TooLong cases[] = {
        {251, To("AIFF", {{"NeedsNameExtension", true}, {"NameExtension", "aiff"}}), ".aiff"},
        {249,
         To("21-4", {{"NeedsSampleRateConversion", true}, {"SampleRate", 8000}, {"NeedsNewWordLength", true},
                     {"WordLength", 16}}),
         ".g721"},
    };
    for (const TooLong& c : cases) {
        const QString stem(c.stem, QLatin1Char('n'));
        SCOPED_TRACE(c.stem);
        QDir(root + "/in").removeRecursively();
        ASSERT_TRUE(QDir().mkpath(root + "/in"));
        ASSERT_TRUE(Sox({"-n", "-r", "8000", "-c", "1", "-b", "16", root + "/in/" + stem + ".wav", "synth", "0.1",
                         "sine", "440"}));
        const QString conversions = root + "/c.plist";
        ASSERT_TRUE(WriteBytes(conversions, PropertyList::toXml(QVariantList{c.conversion})));
        const QString out = root + "/out" + QString::number(c.stem);
        const RunResult run = Run({"--quiet", "--conversions", conversions, "-o", out, root + "/in/" + stem + ".wav"});
        EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
        const QString name = (stem + c.output).size() > 255 ? stem + c.output : "._" + stem + c.output;
        const QString said = QString("too long for the file system (256 bytes, at most 255): %1/x/%2").arg(out, name);
        EXPECT_EQ(run.err.toStdString(), QString("failed %1/in/%2.wav: the %3 %4 (-37)\n0 converted, 1 failed, 0 "
                                                 "skipped, 0 warnings\n")
                                             .arg(root, stem, name.startsWith("._") ? "name of the output's sidecar is"
                                                                                    : "output's name is",
                                                  said)
                                             .toStdString());
        EXPECT_TRUE(ReadText(LogPathFromOutput(run.out)).contains(said));
        EXPECT_TRUE(FilesUnder(out + "/x").isEmpty()) << FilesUnder(out + "/x").join(' ').toStdString();
    }
}

struct Advised {
    const char* label;
    Input input;
    QVariantMap conversion;
};

const QVariantMap kVoc8k{{"NeedsSampleRateConversion", true}, {"SampleRate", 8000}, {"NeedsNewWordLength", true},
                         {"WordLength", 8}};
const QVariantMap kCdImage{{"NeedsSampleRateConversion", true}, {"SampleRate", 44100}, {"NeedsNewWordLength", true},
                           {"WordLength", 16}};

QVariantMap With(QVariantMap changes, int treatment)
{
    if (treatment > 0) {
        changes.insert("NeedsChannelTreat", true);
        changes.insert("ChannelTreat", treatment);
    }
    return changes;
}

const Advised kAdvised[] = {
    {"SixToVoc", {44100, 6, 16}, To("VOC ", kVoc8k)},
    {"StereoToVoc", {44100, 2, 16}, To("VOC ", kVoc8k)},
    {"SixToMsAdpcm", {44100, 6, 16}, To("MSAP")},
    {"SixMixed", {44100, 6, 16}, To("AIFF", With({}, 3))},
    {"SixToCdImage", {44100, 6, 16}, To("IDAT", kCdImage)},
    {"SixToCdImageAsStereo", {44100, 6, 16}, To("IDAT", With(kCdImage, 1))},
    {"SixToSonicSplit", {44100, 6, 16}, To("SpSc", With({}, 2))},
};

// The advice (after the line's last ": " or "; ") names treatments 1 to 5
// by their phrases; each one named converts the input, and when none is
// named, none does.
TEST_F(PerFileRefusals, ChannelAdviceNamesOnlyWhatConverts)
{
    for (const Advised& a : kAdvised) {
        SCOPED_TRACE(a.label);
        const RunResult refused = Convert(a.input, a.conversion, a.label);
        const QStringList lines = refused.err.split('\n').filter("failed ");
        ASSERT_EQ(lines.size(), 1) << refused.err.toStdString();
        const QString line = lines.first();
        const QString advice = line.mid(std::max(line.lastIndexOf("; "), line.lastIndexOf(": ")));
        int named = 0;
        for (int treatment = 1; treatment <= 5; ++treatment) {
            const bool advised = advice.contains(ConvSpec::channelTreatmentPhrase(treatment));
            named += advised ? 1 : 0;
            QVariantMap treated = a.conversion;
            treated.insert("QMCSNeedsChannelTreat", true);
            treated.insert("QMCSChannelTreat", treatment);
            const RunResult run = Convert(a.input, treated, a.label);
            EXPECT_EQ(run.exitCode == 0, advised) << "treatment " << treatment << "\n"
                                                  << line.toStdString() << "\n"
                                                  << run.err.toStdString();
        }
        if (named == 0) {
            EXPECT_TRUE(advice.contains("no handling of the channels")) << line.toStdString();
        }
    }
}

}  // namespace
