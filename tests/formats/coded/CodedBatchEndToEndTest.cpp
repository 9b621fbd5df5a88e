// quillmarch-batch end to end through the coded types: a WAVE input
// converted to Microsoft ADPCM, Dialogic ADPCM, annotated voice, A-law,
// G.726 and G.729, the outputs read by sox, and those outputs converted back
// to WAVE (the G.726 stream through the raw-file settings, its only way in).
// Then every coded output type with fades at each rate it takes: the whole
// audio is written, faded, named with its rate, read at that rate by our
// reader and by a peer where there is one, and the same bytes come out of
// every run.
#include "CodedTestSupport.h"
#include "PeerTools.h"
#include "PropertyList.h"
#include "TestTempDir.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>

using namespace codedtest;

namespace {

QVariantMap Conversion(const QVariantMap& factory, const char* name, const char* type)
{
    QVariantMap c = factory;
    c.insert("QMCSName", name);
    c.insert("QMCSOutputFileType", qint64((OSType(UInt8(type[0])) << 24) | (OSType(UInt8(type[1])) << 16) |
                                          (OSType(UInt8(type[2])) << 8) | OSType(UInt8(type[3]))));
    c.insert("QMCSActive", true);
    c.insert("QMCSNeedsSampleRateConversion", false);
    c.insert("QMCSNeedsRedither", false);
    c.insert("QMCSNeedsNewWordLength", false);
    c.insert("QMCSNeedsNameExtension", false);
    return c;
}

// Runs the batch quietly with the preferences of `root`; true when it exits
// with 0.  *err gets what it printed on standard error.
bool RunBatch(const QString& root, const QStringList& arguments, QString* err = nullptr)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QUILLMARCH_DEFAULTS", root + "/prefs.plist");
    env.insert("QUILLMARCH_RESOURCES", QM_SOURCE_RESOURCES);
    process.setProcessEnvironment(env);
    process.start(QM_BATCH_EXE, QStringList{"--quiet"} + arguments);
    if (!process.waitForStarted(30000) || !process.waitForFinished(300000))
        return false;
    if (err)
        *err = QString::fromUtf8(process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool WriteConversions(const QString& path, const QVariantList& conversions)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(PropertyList::toXml(conversions)) > 0;
}

// Files below `folder` with the given name suffix.
QStringList Found(const QString& folder, const QString& suffix)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.endsWith(suffix) && !QFileInfo(path).fileName().startsWith("._"))
            files.append(path);
    }
    files.sort();
    return files;
}

} // namespace

TEST(CodedBatch, CodedTypesAreOutputsAndInputsOfTheBatchCommand)
{
    TestTempDir dir;
    const QString root = dir.qpath();
    ASSERT_TRUE(QDir().mkpath(root + "/in") && QDir().mkpath(root + "/coded") && QDir().mkpath(root + "/back"));
    ASSERT_TRUE(RunPeer("sox", {"-n", "-r", "8000", "-c", "1", "-b", "16", root + "/in/voice.wav", "synth", "0.5",
                                "sine", "300-3000", "vol", "0.5"}));
    const QVariantMap factory =
        PropertyList::fromFile(QM_SOURCE_RESOURCES "/Factory_Conversions.plist").toList().value(0).toMap();
    QVariantList conversions;
    for (const auto& [name, type] : {std::pair{"msap", "MSAP"}, std::pair{"dadp", "DADP"}, std::pair{"vap", "DVAP"},
                                     std::pair{"alaw", "DALW"}, std::pair{"g726", "26-4"}, std::pair{"g729", "G729"}}) {
        // Most of these types do not record their rate: the conversion sets it.
        QVariantMap c = Conversion(factory, name, type);
        c.insert("QMCSNeedsSampleRateConversion", true);
        c.insert("QMCSSampleRate", 8000.0);
        conversions.append(c);
    }
    ASSERT_TRUE(WriteConversions(root + "/coded.plist", conversions));
    ASSERT_TRUE(RunBatch(root, {"--conversions", root + "/coded.plist", "-o", root + "/coded", root + "/in"}));

    // Each output is where its type puts it, and sox reads it.
    const QStringList msap = Found(root + "/coded", "voice.wav");
    const QStringList dadp = Found(root + "/coded", "voice.ap8");
    ASSERT_EQ(msap.size(), 1);
    ASSERT_EQ(dadp.size(), 1);
    EXPECT_EQ(Found(root + "/coded", "voice.vap").size(), 1);
    EXPECT_EQ(Found(root + "/coded", "voice.al8").size(), 1);
    ASSERT_EQ(Found(root + "/coded", "voice.g726").size(), 1);
    const QStringList g729 = Found(root + "/coded", "voice.g729");
    ASSERT_EQ(g729.size(), 1);
    EXPECT_EQ(QFileInfo(g729[0]).size(), 500);  // 4000 samples: 50 packed frames
    QByteArray err;
    EXPECT_TRUE(RunPeer("sox", {msap[0], "-n"}, &err)) << err.toStdString();
    EXPECT_TRUE(RunPeer("sox", {"-t", "vox", "-r", "8000", dadp[0], "-n"}, &err)) << err.toStdString();

    // Back to WAVE: every coded output is an input, the G.726 stream read
    // through the raw-file settings.
    ASSERT_TRUE(WriteConversions(root + "/back.plist", {Conversion(factory, "wave", "WAVE")}));
    ASSERT_TRUE(RunBatch(root, {"--set", "Unrecognized Input File Action=2", "--set",
                                "Unrecognized Input File Type='26-4'", "--conversions", root + "/back.plist", "-o",
                                root + "/back", root + "/coded"}));
    // (The log of the first run is read as raw G.726 too: it is no voice file.)
    const QStringList waves = Found(root + "/back", ".wav").filter("/in/voice.");
    ASSERT_EQ(waves.size(), 6) << Found(root + "/back", "").join(" ").toStdString();
    for (const QString& wave : waves) {
        EXPECT_EQ(PeerOutput("soxi", {"-s", wave}).trimmed().toInt(), 4000) << wave.toStdString();
    }
}

namespace {

// One coded output of the batch: its type at a rate it takes, the extension
// its name gets, and how a peer reads it (none for Pika and annotated voice,
// and for the 40 kbit/s G.726 streams, which no peer program reads).
struct BatchOutput {
    const char* label;
    const char* type;
    double rate;
    UInt16 channels;
    const char* extension;
    QString peer;             // "sox", "ffmpeg", "libsndfile" or empty
    QStringList peerOptions;  // the input options of sox or ffmpeg
};

void PrintTo(const BatchOutput& o, std::ostream* os)
{
    *os << o.label;
}

QStringList G726Options(int bits)
{
    return {"-f", "g726le", "-code_size", QString::number(bits), "-sample_rate", "8000"};
}

const BatchOutput kBatchOutputs[] = {
    {"DialogicADPCM8k", "DADP", 8000, 1, "ap8", "sox", {"-t", "vox", "-r", "8000"}},
    {"DialogicADPCM6k", "DADP", 6000, 1, "ap6", "sox", {"-t", "vox", "-r", "6000"}},
    {"PikaADPCM8k", "PADP", 8000, 1, "pi8", "", {}},
    {"PikaADPCM6k", "PADP", 6000, 1, "pi6", "", {}},
    {"AnnotatedVoice", "DVAP", 8000, 1, "vap", "", {}},
    {"DialogicALaw6k", "DALW", 6000, 1, "al6", "sox", {"-t", "al", "-r", "6000"}},
    {"DialogicULaw6k", "DULW", 6000, 1, "ul6", "sox", {"-t", "ul", "-r", "6000"}},
    {"MSADPCMMono", "MSAP", 8000, 1, "wav", "libsndfile", {}},
    {"MSADPCMStereo", "MSAP", 8000, 2, "wav", "libsndfile", {}},
    {"G729", "G729", 8000, 1, "g729", "ffmpeg", {"-f", "g729"}},
    {"G721", "21-4", 8000, 1, "g721", "ffmpeg", G726Options(4)},
    {"G723_16", "23-2", 8000, 1, "g723", "ffmpeg", G726Options(2)},
    {"G723_24", "23-3", 8000, 1, "g723", "ffmpeg", G726Options(3)},
    {"G723_40", "23-5", 8000, 1, "g723", "", {}},
    {"G726_24", "26-3", 8000, 1, "g726", "ffmpeg", G726Options(3)},
    {"G726_32", "26-4", 8000, 1, "g726", "ffmpeg", G726Options(4)},
    {"G726_40", "26-5", 8000, 1, "g726", "", {}},
};

// 15,123 frames at 8 kHz: no whole number of ADPCM blocks or G.729 frames.
constexpr int kInputFrames = 15123;
constexpr double kFadeMs = 50.0;

// A conversion to `type` at `rate` with 50 ms fades (mono types mix to mono).
QVariantMap FadedConversion(const BatchOutput& o)
{
    const QVariantMap factory =
        PropertyList::fromFile(QM_SOURCE_RESOURCES "/Factory_Conversions.plist").toList().value(0).toMap();
    QVariantMap c = Conversion(factory, o.label, o.type);
    c.insert("QMCSNeedsStrictFileType", true);
    c.insert("QMCSNeedsSampleRateConversion", true);
    c.insert("QMCSSampleRate", o.rate);
    c.insert("QMCSNeedsFades", true);
    c.insert("QMCSFadeInTime", kFadeMs);
    c.insert("QMCSFadeOutTime", kFadeMs);
    c.insert("QMCSNeedsChannelTreat", o.channels == 1);
    c.insert("QMCSChannelTreat", 3);
    return c;
}

double Rms(const std::vector<int>& samples, std::size_t from, std::size_t count)
{
    double sum = 0;
    for (std::size_t i = from; i < from + count && i < samples.size(); ++i)
        sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / double(std::max<std::size_t>(count, 1)));
}

// Frames of the output as the case's peer reads it (-1 when it cannot).
long long PeerFrames(const BatchOutput& o, const std::string& path)
{
    if (o.peer == "libsndfile") {
        const peers::SndfileView view = peers::ReadWithSndfile(path);
        return view.opened && view.channels == o.channels ? view.frames : -1;
    }
    if (o.peer == "sox") {
        const std::vector<SInt32> samples = peers::SoxS32(path, o.peerOptions);
        return samples.empty() ? -1 : (long long)(samples.size() / o.channels);
    }
    const peers::RunResult r = peers::Run("ffmpeg", QStringList{"-nostdin", "-v", "error"} + o.peerOptions +
                                                        QStringList{"-i", QString::fromStdString(path), "-f", "s16le",
                                                                    "-ac", QString::number(o.channels), "-"});
    return r.exitCode == 0 ? r.out.size() / 2 / o.channels : -1;
}

class CodedBatchFades : public ::testing::TestWithParam<BatchOutput> {};

} // namespace

TEST_P(CodedBatchFades, WholeAudioFadedAndNamedWithItsRateTheSameEveryRun)
{
    const BatchOutput& o = GetParam();
    if (o.peer == "sox")
        QM_REQUIRE_PEER("sox");
    if (o.peer == "ffmpeg")
        QM_REQUIRE_PEER("ffmpeg");
    TestTempDir dir;
    const QString root = dir.qpath();
    ASSERT_TRUE(QDir().mkpath(root + "/in"));
    const QString channels = QString::number(o.channels);
    ASSERT_TRUE(RunPeer("sox", {"-R", "-r", "8000", "-c", channels, "-n", "-r", "8000", "-c", channels, "-b", "16",
                                root + "/in/voice.wav", "synth", QString::number(kInputFrames) + "s", "sine",
                                "300-3000", "vol", "0.5"}));
    ASSERT_TRUE(WriteConversions(root + "/faded.plist", {FadedConversion(o)}));

    std::vector<UInt8> first;
    for (const char* run : {"one", "two"}) {
        SCOPED_TRACE(run);
        QString err;
        ASSERT_TRUE(RunBatch(root, {"--conversions", root + "/faded.plist", "-o", root + "/" + run, root + "/in"},
                             &err))
            << err.toStdString();
        EXPECT_FALSE(err.contains("warning")) << err.toStdString();
        const QStringList outputs = Found(root + "/" + run, QString("voice.") + o.extension);
        ASSERT_EQ(outputs.size(), 1) << Found(root + "/" + run, "").join(" ").toStdString();
        const std::string path = outputs[0].toStdString();
        const std::vector<UInt8> bytes = ReadBytes(path);
        if (first.empty()) {
            first = bytes;
        } else {
            EXPECT_EQ(bytes, first) << "the two runs wrote different bytes";
            continue;
        }

        // Read at the rate its name (or header) gives: the whole audio,
        // quiet at both ends.
        OSErr openErr;
        auto file = OpenFile(OSType(UInt8(o.type[0])) << 24 | OSType(UInt8(o.type[1])) << 16 |
                                 OSType(UInt8(o.type[2])) << 8 | OSType(UInt8(o.type[3])),
                             path, &openErr);
        ASSERT_EQ(openErr, noErr);
        EXPECT_EQ(file->GetSampleRate(), o.rate);
        const double expected = kInputFrames * o.rate / 8000.0;
        EXPECT_NEAR(double(file->GetNumFrames()), expected, 80.0);
        const std::vector<int> samples = ReadSamples16(*file);
        const std::size_t tenMs = std::size_t(o.rate / 100) * o.channels;
        const double middle = Rms(samples, samples.size() / 2, tenMs);
        EXPECT_GT(middle, 3000.0);
        EXPECT_LT(Rms(samples, 0, tenMs), 0.1 * middle) << "no fade-in";
        EXPECT_LT(Rms(samples, samples.size() - tenMs, tenMs), 0.1 * middle) << "no fade-out";
        if (!o.peer.isEmpty()) {
            // Peers count whole blocks or frames: never fewer than written.
            const long long peerFrames = PeerFrames(o, path);
            EXPECT_GE(peerFrames, (long long)file->GetNumFrames() - 8) << o.peer.toStdString();
            EXPECT_LE(peerFrames, (long long)(expected * 1.05)) << o.peer.toStdString();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Types, CodedBatchFades, ::testing::ValuesIn(kBatchOutputs),
                         [](const auto& info) { return std::string(info.param.label); });

// A name extension of the user's that does not give the rate is kept, with
// a warning in the log; one that gives it draws no warning.
TEST(CodedBatch, AnExtensionThatHidesTheRateIsWarnedAbout)
{
    TestTempDir dir;
    const QString root = dir.qpath();
    ASSERT_TRUE(QDir().mkpath(root + "/in"));
    ASSERT_TRUE(RunPeer("sox", {"-R", "-n", "-r", "8000", "-c", "1", "-b", "16", root + "/in/voice.wav", "synth",
                                "0.2", "sine", "440"}));
    for (const auto& [extension, warned] : {std::pair{"ap8", true}, std::pair{"ap6", false}}) {
        SCOPED_TRACE(extension);
        QVariantMap c = FadedConversion(kBatchOutputs[1]);  // Dialogic ADPCM at 6000 Hz
        c.insert("QMCSNeedsNameExtension", true);
        c.insert("QMCSNameExtension", extension);
        ASSERT_TRUE(WriteConversions(root + "/named.plist", {c}));
        const QString out = root + "/" + extension;
        QString err;
        ASSERT_TRUE(RunBatch(root, {"--conversions", root + "/named.plist", "-o", out, root + "/in"}, &err));
        EXPECT_EQ(Found(out, QString("voice.") + extension).size(), 1);
        const QString message = "output name extension does not give its sample rate";
        EXPECT_EQ(err.contains(message), warned) << err.toStdString();
        QString log;
        for (const QString& path : Found(out, ".qlg")) {
            QFile file(path);
            if (file.open(QIODevice::ReadOnly))
                log += QString::fromUtf8(file.readAll());
        }
        EXPECT_EQ(log.contains(message), warned) << log.toStdString();
    }
}
