// quillmarch-batch end to end through the coded types: a WAVE input
// converted to Microsoft ADPCM, Dialogic ADPCM, annotated voice, A-law,
// G.726 and G.729, the outputs read by sox, and those outputs converted back
// to WAVE (the G.726 stream through the raw-file settings, its only way in).
// Then every coded output type with fades at each rate it takes: the whole
// audio is written, faded, named with its rate, read at that rate by our
// reader and by a peer where there is one, and the same bytes come out of
// every run.
#include "CSnippetFile.h"
#include "CodedTestSupport.h"
#include "DialogicADPCMCodec.h"
#include "PeerTools.h"
#include "PropertyList.h"
#include "TestTempDir.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>

#include <sndfile.h>

#include <random>
#include <sstream>
#include <tuple>

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

// Dialogic ADPCM and the two files that carry its codes (Pika, annotated
// voice), against the decoders and encoders in the field.  Decoders differ
// in how a code becomes a difference (DialogicADPCMCodec), so a stream made
// for one random-walks in the other.  A minute of a tone, of speech-like
// bursts (one of them loud enough to reach the predictor's clamp) and of
// noise, written by the batch, plays in sox, ffmpeg, libsndfile and our
// reader within a few dB of a coder made for one decoder only, without
// drifting in DC; streams that sox and libsndfile encode, and streams of
// that one-decoder coder, read back through the same framing (the first
// without drift, the second bit for bit as our arithmetic decodes them);
// and a snip or a region of every file equals that range of a full read.
namespace {

constexpr int kVoxRate = 8000;
constexpr std::size_t kDriftWindow = 5 * kVoxRate;

struct VoxType {
    const char* label;
    OSType type;
    const char* extension;
};
const VoxType kVoxTypes[] = {{"Dialogic", FOUR_CHAR_CODE("DADP"), "ap8"},
                             {"Pika", FOUR_CHAR_CODE("PADP"), "pi8"},
                             {"AnnotatedVoice", FOUR_CHAR_CODE("DVAP"), "vap"}};
const char* const kVoxSignals[] = {"tone", "speech", "noise"};

// `seconds` of a test signal at `dB` (its peak for the tone, about its
// loudest stretch otherwise): a 1 kHz tone, speech-like voiced bursts,
// white noise, or noise of the telephone band (300 to 3400 Hz) as a line
// carries it.
std::vector<int16_t> VoxSignal(const std::string& name, double seconds = 60.0, double dB = -12.0)
{
    std::mt19937 rng(29);
    std::normal_distribution<double> gauss(0.0, 1.0);
    const double level = 32768.0 * std::pow(10.0, dB / 20.0);
    std::vector<int16_t> x(std::size_t(seconds * kVoxRate));
    double envelope = 0.0, highPassIn = 0.0, highPassOut = 0.0, lowPass1 = 0.0, lowPass2 = 0.0;
    for (std::size_t k = 0; k < x.size(); ++k) {
        const double t = double(k) / kVoxRate;
        double v = 0.0;
        if (name == "tone") {
            v = level * std::sin(2 * M_PI * 1000.0 * t);
        } else if (name == "noise") {
            v = 0.5 * level * gauss(rng);
        } else if (name == "line") {
            // One-pole high-pass at 300 Hz, then two one-pole low-passes at 3400 Hz.
            const double in = gauss(rng);
            highPassOut = std::exp(-2 * M_PI * 300.0 / kVoxRate) * (highPassOut + in - highPassIn);
            highPassIn = in;
            const double pole = std::exp(-2 * M_PI * 3400.0 / kVoxRate);
            lowPass1 = (1 - pole) * highPassOut + pole * lowPass1;
            lowPass2 = (1 - pole) * lowPass1 + pole * lowPass2;
            v = 1.2 * level * lowPass2;
        } else {
            // Voiced bursts of 1.1 s between pauses of 0.6 s; the burst
            // from 20.4 s is driven into full scale.
            const bool burst = std::fmod(t, 1.7) < 1.1;
            envelope += ((burst ? 0.6 + 0.4 * std::sin(2 * M_PI * 3 * t) : 0.0) - envelope) * 0.01;
            const double f0 = 120.0 + 40.0 * std::sin(2 * M_PI * 0.3 * t);
            for (int h = 1; h <= 12; ++h)
                v += std::sin(2 * M_PI * f0 * h * t) / h;
            v = level * 0.8 * envelope * (v + 0.2 * gauss(rng)) * (t >= 20.4 && t < 21.5 ? 8.0 : 1.0);
        }
        x[k] = int16_t(std::lround(std::clamp(v, -32768.0, 32767.0)));
    }
    return x;
}

// The encoder of earlier versions, which follows our decoder alone: three
// comparisons against the step, its predictor unclamped.
std::vector<UInt8> OwnDecoderOnlyCodes(const std::vector<int16_t>& x)
{
    int predictor = -2, index = 0;
    std::vector<UInt8> bytes;
    for (std::size_t k = 0; k < x.size(); ++k) {
        const int s = DialogicADPCMCodec::StepSize(index);
        int d = int16_t((x[k] >> 4) - predictor), code = 0;
        if (d < 0) {
            code = 8;
            d = -d;
        }
        if (d >= s) {
            code |= 4;
            d -= s;
        }
        if (d >= s / 2) {
            code |= 2;
            d -= s / 2;
        }
        if (d >= s / 4)
            code |= 1;
        const int delta = ((code & 4) ? s : 0) + ((code & 2) ? s / 2 : 0) + ((code & 1) ? s / 4 : 0) + s / 8;
        predictor = int16_t(predictor + ((code & 8) ? -delta : delta));
        index = std::clamp(index + (code & 4 ? 2 * (code & 3) + 2 : -1), 0, 48);
        if (k % 2)
            bytes.back() = UInt8(bytes.back() | code);
        else
            bytes.push_back(UInt8(code << 4));
    }
    return bytes;
}

std::vector<int> DecodeAll(const std::vector<UInt8>& bytes, DialogicADPCMCodec::Arithmetic arithmetic)
{
    DialogicADPCMCodec codec(arithmetic);
    std::vector<int> y;
    for (UInt8 b : bytes) {
        y.push_back(codec.Decode(b >> 4));
        y.push_back(codec.Decode(b & 15));
    }
    return y;
}

// The worst DC of `y` against `x` over whole 5 s windows, in full scale.
double WorstDrift(const std::vector<int>& x, const std::vector<int>& y)
{
    double worst = 0.0;
    for (std::size_t from = 0; from + kDriftWindow <= std::min(x.size(), y.size()); from += kDriftWindow) {
        double sum = 0.0;
        for (std::size_t k = from; k < from + kDriftWindow; ++k)
            sum += y[k] - x[k];
        worst = std::max(worst, std::fabs(sum / kDriftWindow) / 32768.0);
    }
    return worst;
}

// Dialogic codes (high nibble first) in the framing of `type`; an annotated
// voice file takes the header of `framed`, a file of that type.
std::vector<UInt8> Frame(OSType type, const std::vector<UInt8>& codes, const std::vector<UInt8>& framed)
{
    if (type == FOUR_CHAR_CODE("DADP"))
        return codes;
    if (type == FOUR_CHAR_CODE("PADP")) {
        std::vector<UInt8> swapped;
        for (UInt8 b : codes)
            swapped.push_back(UInt8((b << 4) | (b >> 4)));
        return swapped;
    }
    std::vector<UInt8> file(framed.begin(), framed.begin() + std::ptrdiff_t(framed[24] | (framed[25] << 8)));
    file.insert(file.end(), codes.begin(), codes.end());
    return file;
}

// The inverse: the Dialogic codes of a file of `type`.
std::vector<UInt8> Unframe(OSType type, const std::vector<UInt8>& file)
{
    if (type == FOUR_CHAR_CODE("DVAP"))
        return std::vector<UInt8>(file.begin() + std::ptrdiff_t(file[24] | (file[25] << 8)), file.end());
    return Frame(type, file, {});
}

std::vector<int> High16(const std::vector<SInt32>& samples)
{
    std::vector<int> out;
    for (SInt32 s : samples)
        out.push_back(s >> 16);
    return out;
}

std::vector<int> SndfileVox(const std::string& path)
{
    SF_INFO info{};
    info.format = SF_FORMAT_RAW | SF_FORMAT_VOX_ADPCM;
    info.samplerate = kVoxRate;
    info.channels = 1;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    std::vector<short> samples(std::size_t(file ? info.frames : 0));
    if (file) {
        samples.resize(std::size_t(sf_read_short(file, samples.data(), sf_count_t(samples.size()))));
        sf_close(file);
    }
    return std::vector<int>(samples.begin(), samples.end());
}

std::vector<UInt8> SndfileVoxCodes(const std::vector<int16_t>& x, const std::string& path)
{
    SF_INFO info{};
    info.format = SF_FORMAT_RAW | SF_FORMAT_VOX_ADPCM;
    info.samplerate = kVoxRate;
    info.channels = 1;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        return {};
    sf_write_short(file, x.data(), sf_count_t(x.size()));
    sf_close(file);
    return ReadBytes(path);
}

struct VoxCase {
    VoxType type;
    const char* signal;
};

void PrintTo(const VoxCase& c, std::ostream* os)
{
    *os << c.type.label << "_" << c.signal;
}

// Our reading of a file: the whole of it, and with `ranges` the same
// frames through a snip and through a region's channel read, each on a
// fresh object.
std::vector<int> ReadOurs(OSType type, const std::string& path, bool ranges = false)
{
    OSErr err;
    auto whole = OpenFile(type, path, &err);
    EXPECT_EQ(err, noErr) << path;
    if (err)
        return {};
    const std::vector<int> all = ReadSamples16(*whole);
    if (!ranges)
        return all;
    const UInt32 start = 123457, end = 301001;
    auto inner = OpenFile(type, path, &err);
    CSnippetFile snip;
    snip.SetInnerFile(inner.release());
    EXPECT_EQ(snip.Open(), noErr);
    EXPECT_EQ(snip.SetWindow(start, end), noErr);
    EXPECT_EQ(ReadSamples16(snip), std::vector<int>(all.begin() + start, all.begin() + end)) << "snip " << path;
    auto region = OpenFile(type, path, &err);
    std::vector<double> values(end - start);
    UInt32 count = end - start;
    EXPECT_EQ(region->ReadChannelFrames(0, start, &count, values.data()), noErr);
    EXPECT_EQ(count, end - start);
    std::vector<int> samples;
    for (double v : values)
        samples.push_back(int(std::lround(v / kScale16)));
    EXPECT_EQ(samples, std::vector<int>(all.begin() + start, all.begin() + end)) << "region " << path;
    return all;
}

// sox's codes of `x` (its `-t vox` encoder), made in `dir`.
std::vector<UInt8> SoxVoxCodes(const std::vector<int16_t>& x, const TestTempDir& dir)
{
    WriteBytes(dir.file("in.raw"), std::vector<UInt8>(reinterpret_cast<const UInt8*>(x.data()),
                                                      reinterpret_cast<const UInt8*>(x.data() + x.size())));
    if (!RunPeer("sox", {"-R", "-t", "raw", "-r", "8000", "-e", "signed", "-b", "16", "-c", "1", "-L",
                         QString::fromStdString(dir.file("in.raw")), "-t", "vox",
                         QString::fromStdString(dir.file("sox.vox"))}))
        return {};
    return ReadBytes(dir.file("sox.vox"));
}

class VoxPeers : public ::testing::TestWithParam<VoxCase> {
protected:
    // The batch's output of `signal` as a file of the case's type, written
    // under `root`.
    std::string WriteWithBatch(const QString& root, const std::vector<int16_t>& signal)
    {
        QDir().mkpath(root + "/in");
        std::vector<double> audio;
        for (int16_t v : signal)
            audio.push_back(v / 32768.0);
        const std::string input = (root + "/in/" + GetParam().signal).toStdString();  // the writer adds ".wav"
        EXPECT_EQ(WriteFile(FOUR_CHAR_CODE("WAVE"), input, 1, kVoxRate, 16, audio), noErr);
        const VoxType& t = GetParam().type;
        const char code[5] = {char(t.type >> 24), char(t.type >> 16), char(t.type >> 8), char(t.type), 0};
        QVariantMap c = Conversion(
            PropertyList::fromFile(QM_SOURCE_RESOURCES "/Factory_Conversions.plist").toList().value(0).toMap(),
            t.label, code);
        c.insert("QMCSNeedsSampleRateConversion", true);
        c.insert("QMCSSampleRate", double(kVoxRate));
        EXPECT_TRUE(WriteConversions(root + "/vox.plist", {c}));
        QString err;
        EXPECT_TRUE(RunBatch(root, {"--conversions", root + "/vox.plist", "-o", root + "/out", root + "/in"}, &err))
            << err.toStdString();
        const QStringList outputs = Found(root + "/out", QString("/") + GetParam().signal + "." + t.extension);
        EXPECT_EQ(outputs.size(), 1) << Found(root + "/out", "").join(" ").toStdString();
        return outputs.value(0).toStdString();
    }
};

} // namespace

TEST_P(VoxPeers, EveryCommonDecoderPlaysOurCodesAndWeReadEveryEncoders)
{
    QM_REQUIRE_PEER("sox");
    QM_REQUIRE_PEER("ffmpeg");
    const VoxCase& c = GetParam();
    const OSType type = c.type.type;
    const std::vector<int16_t> input = VoxSignal(c.signal);
    const std::vector<int> x(input.begin(), input.end());
    // The best a coder for one decoder does: our earlier encoder in ours.
    const std::vector<UInt8> ownOnly = OwnDecoderOnlyCodes(input);
    const double best = SnrDb(x, DecodeAll(ownOnly, DialogicADPCMCodec::Arithmetic::StepSum));
    SCOPED_TRACE(testing::Message() << "one-decoder coder " << best << " dB");
    const auto expectPlays = [&](const std::string& decoder, const std::vector<int>& y) {
        ASSERT_GE(y.size(), x.size() - 1) << decoder;
        const double snr = SnrDb(x, y), drift = WorstDrift(x, y);
        EXPECT_GT(snr, best - 3.0) << decoder;
        EXPECT_LT(drift, 0.01) << decoder;
        RecordProperty(decoder + "_snr_db", std::to_string(snr));
        RecordProperty(decoder + "_drift", std::to_string(drift));
    };

    // Our output, in every decoder.
    TestTempDir dir;
    const std::string output = WriteWithBatch(dir.qpath(), input);
    ASSERT_FALSE(output.empty());
    const std::vector<UInt8> framed = ReadBytes(output);
    const std::string codes = dir.file("codes.vox");
    WriteBytes(codes, Unframe(type, framed));
    expectPlays("sox", High16(peers::SoxS32(codes, {"-t", "vox", "-r", "8000"})));
    expectPlays("ffmpeg", High16(peers::FFmpegS32(codes, {"-f", "u8", "-ar", "8000", "-ac", "1", "-c:a",
                                                           "adpcm_ima_oki"})));
    expectPlays("libsndfile", SndfileVox(codes));
    const std::vector<int> ours = ReadOurs(type, output, true);
    expectPlays("ours", ours);
    if (std::string(c.signal) == "speech") {
        EXPECT_TRUE(std::any_of(ours.begin(), ours.end(), [](int v) { return v >= 2047 * 16 || v <= -2048 * 16; }))
            << "the loud burst reaches the predictor's clamp";
    }

    // Other encoders' streams in the same framing, read by us.
    const std::vector<UInt8> soxCodes = SoxVoxCodes(input, dir);
    ASSERT_FALSE(soxCodes.empty());
    for (const auto& [encoder, stream] :
         {std::pair{std::string("sox"), soxCodes},
          std::pair{std::string("libsndfile"), SndfileVoxCodes(input, dir.file("sndfile.vox"))}}) {
        const std::string path = dir.file(encoder + "_take." + c.type.extension);
        WriteBytes(path, Frame(type, stream, framed));
        expectPlays("ours_reading_" + encoder, ReadOurs(type, path));
    }

    // The one-decoder coder's stream reads as our arithmetic decodes it.
    const std::string legacy = dir.file(std::string("legacy.") + c.type.extension);
    WriteBytes(legacy, Frame(type, ownOnly, framed));
    EXPECT_EQ(ReadOurs(type, legacy), DecodeAll(ownOnly, DialogicADPCMCodec::Arithmetic::StepSum));
}

namespace {

std::vector<VoxCase> VoxCases()
{
    std::vector<VoxCase> cases;
    for (const VoxType& type : kVoxTypes)
        for (const char* signal : kVoxSignals)
            cases.push_back({type, signal});
    return cases;
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Signals, VoxPeers, ::testing::ValuesIn(VoxCases()),
                         [](const auto& info) { return std::string(info.param.type.label) + "_" + info.param.signal; });

// The arithmetic a stream is read with is judged from its codes alone, and
// holds for a twentieth of a second as for a minute, at -6 as at -40 dBFS:
// streams that sox and libsndfile encode (both for the common decoders'
// arithmetic) read as their encoder decodes them, within 30 dB or within
// three steps of the 12-bit estimate (48: where the two arithmetics part by
// little more than their difference at reset, no content tells them
// apart); our writer's streams read as the format's own arithmetic decodes
// them, bit for bit.  The cases take the three framings in turn.
namespace {

struct ArithmeticCase {
    const char* signal;
    double seconds;
    int dB;
    const VoxType* type;
};

void PrintTo(const ArithmeticCase& c, std::ostream* os)
{
    *os << c.signal << "_" << int(c.seconds * 1000) << "ms_minus" << -c.dB << "dB_" << c.type->label;
}

// `got` is `decoded` within 30 dB, or within 48 (RMS), and without a DC
// offset beyond 48 or 1/50 of the level (a drift shows as one).
testing::AssertionResult ReadsAsDecoded(const std::vector<int>& got, const std::vector<int>& decoded)
{
    if (decoded.empty() || got.size() != decoded.size())
        return testing::AssertionFailure() << got.size() << " samples read, " << decoded.size() << " decoded";
    double error = 0.0;
    for (std::size_t k = 0; k < got.size(); ++k)
        error += double(got[k] - decoded[k]) * (got[k] - decoded[k]);
    double offset = 0.0;
    for (std::size_t k = 0; k < got.size(); ++k)
        offset += double(got[k] - decoded[k]);
    offset /= double(got.size());
    double level = 0.0;
    for (int v : decoded)
        level += double(v) * v;
    level = std::sqrt(level / double(decoded.size()));
    const double rms = std::sqrt(error / double(got.size())), snr = SnrDb(decoded, got);
    if ((snr >= 30.0 || rms <= 48.0) && std::fabs(offset) <= std::max(48.0, level / 50.0))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "read at " << snr << " dB of the encoder's decoding (" << rms
                                       << " RMS apart, DC offset " << offset << ")";
}

class VoxArithmetic : public ::testing::TestWithParam<ArithmeticCase> {};

} // namespace

TEST_P(VoxArithmetic, EveryEncodersStreamReadsAsItsEncoderDecodesIt)
{
    QM_REQUIRE_PEER("sox");
    const ArithmeticCase& c = GetParam();
    const OSType type = c.type->type;
    const std::vector<int16_t> input = VoxSignal(c.signal, c.seconds, c.dB);
    TestTempDir dir;

    // Our writer's stream, and its framing for the others'.
    std::vector<double> audio;
    for (int16_t v : input)
        audio.push_back(v / 32768.0);
    std::string ours;
    ASSERT_EQ(WriteFile(type, dir.file(std::string("ours.") + c.type->extension), 1, kVoxRate, 16, audio, &ours),
              noErr);
    const std::vector<UInt8> framed = ReadBytes(ours);
    EXPECT_EQ(ReadOurs(type, ours), DecodeAll(Unframe(type, framed), DialogicADPCMCodec::Arithmetic::StepSum))
        << "our writer's stream";

    const std::string soxCodes = dir.file("sox.vox"), sndfileCodes = dir.file("sndfile.vox");
    ASSERT_FALSE(SoxVoxCodes(input, dir).empty());
    ASSERT_FALSE(SndfileVoxCodes(input, sndfileCodes).empty());
    for (const auto& [encoder, codes, decoded] :
         {std::tuple{std::string("sox"), soxCodes, High16(peers::SoxS32(soxCodes, {"-t", "vox", "-r", "8000"}))},
          std::tuple{std::string("libsndfile"), sndfileCodes, SndfileVox(sndfileCodes)}}) {
        // Both decode with the common arithmetic: its steps exactly, only
        // their ceiling is 32767 where ours is 2047 x 16.
        EXPECT_LE(MaxDifference(decoded, DecodeAll(ReadBytes(codes), DialogicADPCMCodec::Arithmetic::Scaled)), 15)
            << encoder;
        const std::string path = dir.file(encoder + "." + c.type->extension);
        WriteBytes(path, Frame(type, ReadBytes(codes), framed));
        EXPECT_TRUE(ReadsAsDecoded(ReadOurs(type, path), decoded)) << encoder;
    }
}

namespace {

std::vector<ArithmeticCase> ArithmeticCases()
{
    std::vector<ArithmeticCase> cases;
    for (const char* signal : {"speech", "tone", "line"})
        for (double seconds : {0.05, 0.1, 0.2, 0.25, 0.5, 2.0, 60.0})
            for (int dB : {-6, -20, -30, -40})
                cases.push_back({signal, seconds, dB, &kVoxTypes[cases.size() % 3]});
    return cases;
}

} // namespace

INSTANTIATE_TEST_SUITE_P(LengthsAndLevels, VoxArithmetic, ::testing::ValuesIn(ArithmeticCases()),
                         [](const auto& info) {
                             std::ostringstream name;
                             PrintTo(info.param, &name);
                             return name.str();
                         });
