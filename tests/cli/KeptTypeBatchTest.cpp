// Conversions that keep the input's type, and the MPEG-4 bit rate: an input
// whose type cannot be written fails alone with a line naming the type (in
// the log and on standard error alike, its code once); an input whose type
// can be written keeps it, every writable type's own empty and one-frame
// outputs too; an MPEG-4 input keeps its bit rate; the log names the
// MPEG-4 rate that is written.
#include "CliTestSupport.h"
#include "CreateSoundFile.h"
#include "EngineStartup.h"
#include "FileTypeDictionary.h"
#include "file_type_table.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

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
    QM_REQUIRE_PEER("lame");
    ASSERT_TRUE(Encode("speech.wav", 44100, 0.5, {}));
    ASSERT_TRUE(RunPeer("lame", {"--quiet", "-b", "128", root + "/in/speech.wav", root + "/in/layer3.mp3"}));
    ASSERT_TRUE(Encode("lossless.flac", 44100, 0.5, {}));
    ASSERT_TRUE(Encode("vorbis.ogg", 44100, 0.5, {"-c:a", "libvorbis"}));
    ASSERT_TRUE(Encode("song.m4a", 44100, 0.5, {"-c:a", "aac", "-b:a", "128k"}));

    // The factory conversions, one of which keeps the input's type.
    const RunResult run = Run({"--quiet", "-o", root + "/out", root + "/in"});
    ASSERT_FALSE(run.crashed);
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    const QString log = ReadText(LogPathFromOutput(run.out));
    for (const auto& [name, type] : {std::pair{"layer3.mp3", "MPEG-1 Layer III ('MP3')"},
                                     std::pair{"lossless.flac", "FLAC"}, std::pair{"vorbis.ogg", "Ogg Vorbis"}}) {
        // The conversion is named (several run), the type by its name, and
        // what to do.
        const QString text = QStringLiteral("%1 files cannot be written, and this conversion keeps the input's type: "
                                            "choose an output type for this conversion")
                                 .arg(QLatin1String(type));
        EXPECT_EQ(run.err.count(QStringLiteral("failed %1/in/%2 (conversion 'Normalize to -1 dBFS with fades'): %3 "
                                               "(-24620)\n")
                                    .arg(root, QLatin1String(name), text)),
                  1)
            << run.err.toStdString();
        EXPECT_TRUE(log.contains(text + "\n")) << log.toStdString();
    }
    EXPECT_EQ(run.err.count("failed "), 3) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("(type '") || log.contains("(type '")) << run.err.toStdString();
    // The others convert under the same conversion, MPEG-4 with its fades.
    EXPECT_TRUE(QFile::exists(root + "/out/Normalize to -1 dBFS with fades/in/speech.wav"));
    EXPECT_TRUE(QFile::exists(root + "/out/Normalize to -1 dBFS with fades/in/song.m4a")) << run.err.toStdString();
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

// A word length asked of a conversion that keeps the type is written,
// whoever wrote the float input: libsndfile and sox (the plain float tag,
// and libsndfile's extensible form for six channels), ffmpeg (extensible)
// and AIFF-C fl32.  Each output holds 16-bit words that sox's own 16-bit
// rendering of the input matches within one step.
TEST_F(KeptTypeBatch, AWordLengthAskedOfAFloatInputIsWritten)
{
    QM_REQUIRE_PEER("sndfile-convert");
    QM_REQUIRE_PEER("ffmpeg");
    ASSERT_TRUE(QDir().mkpath(root + "/in"));
    const QString stereo = root + "/s16.wav", six = root + "/six.wav";
    ASSERT_TRUE(Sox({"-D", "-n", "-r", "44100", "-c", "2", "-b", "16", stereo, "synth", "0.3", "sine", "440", "gain",
                     "-3"}));
    ASSERT_TRUE(Sox({"-D", "-n", "-r", "44100", "-c", "6", "-b", "16", six, "synth", "0.3", "sine", "330", "gain",
                     "-3"}));
    ASSERT_TRUE(RunPeer("sndfile-convert", {"-float32", stereo, root + "/in/libsndfile.wav"}));
    ASSERT_TRUE(RunPeer("sndfile-convert", {"-float32", six, root + "/in/libsndfile-six.wav"}));
    ASSERT_TRUE(Sox({stereo, "-e", "floating-point", "-b", "32", root + "/in/sox.wav"}));
    ASSERT_TRUE(RunPeer("ffmpeg", {"-v", "error", "-i", stereo, "-c:a", "pcm_f32le", root + "/in/ffmpeg.wav"}));
    ASSERT_TRUE(RunPeer("ffmpeg", {"-v", "error", "-i", stereo, "-c:a", "pcm_f32be", "-f", "aiff",
                                   root + "/in/ffmpeg.aifc"}));
    QVariantMap keep = TypedConversion("keep", "AIFF", 16, {});
    keep.insert("QMCSNeedsStrictFileType", false);
    const RunResult run = RunConversions("keep", {{0, keep}}, root + "/in", root + "/out");
    ASSERT_FALSE(run.crashed);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(ReadText(LogPathFromOutput(run.out)).contains("Convert number of bits to: 16 bits"));
    for (const char* name : {"libsndfile.wav", "libsndfile-six.wav", "sox.wav", "ffmpeg.wav", "ffmpeg.aifc"}) {
        SCOPED_TRACE(name);
        const QString out = root + "/out/keep/in/" + name;
        const QJsonObject stream = Probe(out).value("streams").toArray().at(0).toObject();
        EXPECT_EQ(stream.value("bits_per_sample").toInt(), 16);
        EXPECT_TRUE(stream.value("codec_name").toString().startsWith("pcm_s16"))
            << stream.value("codec_name").toString().toStdString();
        QByteArray expected;
        ASSERT_TRUE(RunPeer("sox", {"-D", root + "/in/" + name, "-b", "16", "-e", "signed-integer", "-t", "raw", "-"},
                            &expected));
        const QByteArray written = SoxSamples(out);
        ASSERT_EQ(written.size(), expected.size());
        const auto* a = reinterpret_cast<const qint16*>(written.constData());
        const auto* b = reinterpret_cast<const qint16*>(expected.constData());
        int worst = 0;
        for (qsizetype i = 0; i < written.size() / 2; ++i)
            worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
        EXPECT_LE(worst, 1);
    }
}

// Every type the batch writes, as its four characters.
std::vector<std::string> WritableTypeNames()
{
    EngineStartup::buildFileTypeTable();
    std::vector<std::string> names;
    for (const OSType code : GetFileTypeTableCodes())
        if (FileTypeCanBeWritten(code))
            names.push_back({char(code >> 24), char(code >> 16), char(code >> 8), char(code)});
    return names;
}

// A plain conversion to `type` with the settings the type asks for: its
// default word length, its own rate where it does not record or take a
// 44.1 kHz input's, its channel handling where it forces one.
QVariantMap PlainConversionTo(const std::string& type)
{
    const QVariantMap p = GetSoundFileProperties(OSType(UInt8(type[0])) << 24 | OSType(UInt8(type[1])) << 16 |
                                                 OSType(UInt8(type[2])) << 8 | OSType(UInt8(type[3])));
    const auto tagOf = [&p](const char* popup, const char* index) {
        return p.value(popup).toList().value(p.value(index).toInt()).toMap().value("tag").toInt();
    };
    const int bits = tagOf("numBitsPopup", "numBitsPopupDefault");
    QVariantMap c = TypedConversion("plain", type.c_str(), bits ? bits : 16, {});
    const QVariantList rates = p.value("discreteSampleRates").toList();
    const bool holds44k = rates.isEmpty() ? p.value("sampleRateMin").toDouble() <= 44100 &&
                                                (p.value("sampleRateMax").toDouble() == 0 ||
                                                 p.value("sampleRateMax").toDouble() >= 44100)
                                          : rates.contains(44100.0);
    const QString rateSource = p.value("sampleRateSource", "header").toString();
    if (rateSource != "header" || (p.value("forceSampleRate").toBool() && !holds44k)) {
        c.insert("QMCSNeedsSampleRateConversion", true);
        c.insert("QMCSSampleRate", p.value("sampleRateDefault").toDouble());
    }
    bool interleaves = false;
    for (const QVariant& item : p.value("channelHandlingPopup").toList())
        interleaves = interleaves || item.toMap().value("tag").toInt() == 1;
    if (p.value("forceChannels").toBool() && !interleaves) {
        c.insert("QMCSNeedsChannelTreat", true);
        c.insert("QMCSChannelTreat", tagOf("channelHandlingPopup", "channelHandlingPopupDefault"));
    }
    return c;
}

class WritableTypeRoundTrip : public KeptTypeBatch, public ::testing::WithParamInterface<std::string> {
protected:
    // The READ column of --list-types for `type`.
    QString ListedReading(const std::string& type)
    {
        const QRegularExpression row(QStringLiteral("^ *-?\\d+  '%1'  (yes|no|raw|as '.{4}') ")
                                         .arg(QRegularExpression::escape(QString::fromStdString(type))),
                                     QRegularExpression::MultilineOption);
        return row.match(Run({"--list-types"}).out).captured(1);
    }
    // What --info says of `path`.
    QJsonObject Info(const QString& path)
    {
        const RunResult info = Run({"--info", path});
        return QJsonDocument::fromJson(info.out.toUtf8()).object();
    }
};

// The frames a peer reads in `file` (ffmpeg's decode, or sox's count);
// -1 for each that does not read it.
std::pair<int, int> PeerFrames(const QString& file)
{
    const peers::RunResult decoded = peers::Run("ffmpeg", {"-v", "error", "-i", file, "-f", "s16le", "-ac", "1", "-"});
    const peers::RunResult soxi = peers::Run("soxi", {"-s", file});
    bool counted = false;
    const int samples = soxi.out.trimmed().toInt(&counted);
    return {decoded.exitCode == 0 ? int(decoded.out.size() / 2) : -1, soxi.exitCode == 0 && counted ? samples : -1};
}

// An empty and a one-frame input through every writable type: the program
// reads its outputs back, empty and holding the frame (within one coded
// block; none after a change to a lower rate), and so does a peer where one
// reads the type; a conversion that names no type keeps each of them in
// its type.
TEST_P(WritableTypeRoundTrip, EmptyAndOneFrameOutputsReadBackAndKeepTheirType)
{
    const std::string type = GetParam();
    ASSERT_TRUE(QDir().mkpath(root + "/in"));
    ASSERT_TRUE(Sox({"-n", "-r", "44100", "-c", "2", "-b", "16", root + "/in/one.wav", "synth", "1s", "sine", "440"}));
    ASSERT_TRUE(Sox({"-n", "-r", "44100", "-c", "2", "-b", "16", root + "/in/zero.wav", "trim", "0", "0"}));
    const QVariantMap conversion = PlainConversionTo(type);
    const bool resampled = conversion.value("QMCSNeedsSampleRateConversion").toBool();
    const RunResult made = RunConversions("made", {{0, conversion}}, root + "/in", root + "/made");
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
    QFile::remove(LogPathFromOutput(made.out));
    const QString outputs = root + "/made/plain";
    QStringList read;  // the outputs read back, relative to `outputs`
    for (const QString& relative : FilesUnder(outputs, true)) {
        const QString name = QFileInfo(relative).fileName();
        const bool empty = name.startsWith("zero");
        // The sidecars; the G.729 reader's own case.
        if (name.startsWith("._") || (type == "G729" && empty))
            continue;
        const QString file = outputs + "/" + relative;
        const QJsonObject info = Info(file);
        // Read as --list-types says: as the type itself, as raw input (here
        // through the sidecar written beside it, as the type it names), or
        // as another type.
        const QString listed = ListedReading(type);
        const QString as = listed == "yes" || listed == "raw" ? QString::fromStdString(type) : listed.mid(4, 4);
        EXPECT_TRUE(listed == "yes" || listed == "raw" || listed.startsWith("as '")) << listed.toStdString();
        EXPECT_TRUE(info.value("type").toString() == as || info.value("memberType").toString() == as)
            << file.toStdString() << " is listed as read " << listed.toStdString() << ": "
            << QJsonDocument(info).toJson().toStdString();
        // A type whose files do not record their rate is read through the
        // preferences' raw settings.
        if (info.contains("error") && resampled)
            continue;
        ASSERT_FALSE(info.contains("error")) << file.toStdString() << " " << QJsonDocument(info).toJson().toStdString();
        read << relative;
        // A coded block holds at most 4096 frames.  Known elsewhere: the
        // 4-bit ADPCM of an Annotated Voice file drops a last odd sample,
        // and the peers take a Sonic AIFF file's header block for sound.
        const int least = resampled || type == "DVAP" ? 0 : 1;
        const auto holds = [&](int frames) { return empty ? frames == 0 : frames >= least && frames <= 4096; };
        const int frames = info.value("frames").toInt();
        EXPECT_TRUE(holds(frames)) << file.toStdString() << ": " << frames;
        const auto [decoded, counted] = PeerFrames(file);
        EXPECT_TRUE((decoded < 0 && counted < 0) || holds(decoded) || holds(counted) || type == "SAIF" || type == "SpSc")
            << file.toStdString() << ": ffmpeg decodes " << decoded << ", sox counts " << counted;
    }

    // No type named: each output keeps its own.
    const RunResult kept = RunConversions("kept", {{kNormalizeWithFades, {}}}, outputs, root + "/kept");
    ASSERT_FALSE(kept.crashed);
    const QString keptFolder = root + "/kept/Normalize to -1 dBFS with fades/plain/";
    for (const QString& relative : read) {
        const QString name = QFileInfo(relative).fileName();
        // MP3 comes back as MPEG Layer III, which only the encoder writes.
        if (type == "DMP3") {
            EXPECT_TRUE(kept.err.contains(name + ": MPEG-1 Layer III ('MP3') files cannot be written"))
                << kept.err.toStdString();
            continue;
        }
        EXPECT_FALSE(kept.err.contains(name)) << kept.err.toStdString();
        // (A member of a set: the set's first member.)
        const QStringList found =
            QDir(keptFolder + QFileInfo(relative).path()).entryList({QFileInfo(relative).baseName(), QFileInfo(relative).baseName() + ".*"}, QDir::Files);
        ASSERT_FALSE(found.isEmpty()) << relative.toStdString() << " " << kept.err.toStdString();
        const QJsonObject before = Info(outputs + "/" + relative);
        const QJsonObject after = Info(keptFolder + QFileInfo(relative).path() + "/" + found[0]);
        EXPECT_EQ(after.value("type").toString(), before.value("type").toString()) << relative.toStdString();
        EXPECT_EQ(after.value("format").toString(), before.value("format").toString()) << relative.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Types, WritableTypeRoundTrip, ::testing::ValuesIn(WritableTypeNames()), TypeParamName());

}  // namespace
