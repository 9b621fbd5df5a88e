// Every conversion the conversions-file check accepts runs to its end: the
// batch never stops, and each input either converts or fails alone with a
// line of its own.  Conversions are drawn at random from the documented
// keys and ranges (docs/conversions.md) with a fixed seed, kept when the
// check accepts them, and run in small groups through the built
// quillmarch-batch over a stereo 16-bit WAVE with regions, a 5.1 24-bit WAVE
// and two mono WAVEs (8 bits at 8 kHz, 16 bits at 44.1 kHz).  A conversion
// that fails every one of them is one the check should have refused: no
// input could run it.  800 cases over eight shards (320 in a sanitizer
// build); QM_PROPERTY_CASES (the cases over all shards) and QM_PROPERTY_SEED
// change the run; a failing case is printed as a conversions file to replay.
#include "CWAVEFile.h"
#include "CliTestSupport.h"
#include "ConversionFileCheck.h"
#include "EngineStartup.h"
#include "FileTypeDictionary.h"
#include "OutputCapabilities.h"
#include "PCMFileTypes.h"
#include "PropertyList.h"
#include "file_type_table.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace clitest;

namespace {

#ifdef QM_SANITIZED
constexpr int kDefaultCases = 320;
#else
constexpr int kDefaultCases = 800;
#endif
constexpr int kShards = 8;
constexpr int kPerBatch = 8;
constexpr int kInputs = 4;
constexpr quint64 kDefaultSeed = 20261208;

int EnvNumber(const char* name, int fallback)
{
    bool ok = false;
    const int n = qEnvironmentVariable(name).toInt(&ok);
    return ok && n > 0 ? n : fallback;
}

qint32 Code(OSType type)
{
    return qint32(type);
}

// Random picks that do not depend on the standard library's distributions.
class Draw {
public:
    explicit Draw(quint64 seed) : rng_(seed) {}
    bool chance(double p) { return unit() < p; }
    int below(int n) { return n > 0 ? int(rng_() % quint64(n)) : 0; }
    double between(double low, double high) { return low + (high - low) * unit(); }
    template <typename T>
    T of(const QList<T>& items)
    {
        return items.at(below(int(items.size())));
    }

private:
    double unit() { return double(rng_() >> 11) * 0x1.0p-53; }
    std::mt19937_64 rng_;
};

// The output types a conversion may name: every writable one of the table
// (MP3 through the outside encoder when it is installed).
QList<OSType> WritableTypes()
{
    QList<OSType> types;
    const bool encoder = !QStandardPaths::findExecutable(QStringLiteral("lame")).isEmpty();
    for (OSType code : GetFileTypeTableCodes()) {
        const QVariantMap entry = GetFileTypeEntry(code);
        if (entry.value("canBeWritten").toBool() || (code == FOUR_CHAR_CODE("DMP3") && encoder))
            types.append(code);
    }
    return types;
}

// One conversion drawn from the documented keys and ranges, leaning towards
// what the output type offers so that enough of them are accepted.
QVariantMap DrawConversion(Draw& d, const QList<OSType>& types, const QString& name)
{
    const OSType type = d.of(types);
    const OutputCapabilities caps = GetOutputCapabilities(type);
    QVariantMap c{{"QMCSName", name}, {"QMCSNeedsStrictFileType", d.chance(0.9)}, {"QMCSOutputFileType", Code(type)}};
    c.insert("QMCSNeedsNameExtension", d.chance(0.2));
    c.insert("QMCSNameExtension", d.of(QList<QString>{"", "out", ".x"}));

    c.insert("QMCSNeedsSampleRateConversion", d.chance(caps.rateMustBeConverted() ? 0.9 : 0.4));
    const QList<double> rates = {1000, 8000, 11025, 16000, 22050, 44100, 48000, 96000, 192000, d.between(1000, 192000)};
    c.insert("QMCSSampleRate", !caps.discreteRates.isEmpty() && d.chance(0.7) ? d.of(caps.discreteRates) : d.of(rates));
    c.insert("QMCSSampleRateConvertQuality", d.below(5));

    c.insert("QMCSNeedsNewWordLength", d.chance(caps.wordLengthRequired ? 0.9 : 0.4));
    c.insert("QMCSWordLength", !caps.wordLengthChoices.isEmpty() && d.chance(0.7) ? d.of(caps.wordLengthChoices)
                                                                                   : d.of(QList<int>{8, 16, 24, 32}));
    c.insert("QMCSNeedsRedither", d.chance(0.3));
    c.insert("QMCSBitRatePerChannel", d.chance(0.5));

    c.insert("QMCSNeedsChannelTreat", d.chance(0.6));
    c.insert("QMCSChannelTreat", d.below(9));

    c.insert("QMCSCopyExtras", d.chance(0.5));
    c.insert("QMCSNeedsExtraction", d.chance(0.2));
    c.insert("QMCSNeedsStrip", d.chance(0.2));
    c.insert("QMCSStripMargin", d.between(0, 500));
    c.insert("QMCSNeedsSnip", d.chance(0.2));
    c.insert("QMCSSnipFrom", d.between(0, 0.4));
    c.insert("QMCSSnipTo", d.between(0, 0.8));

    c.insert("QMCSNeedsFades", d.chance(0.3));
    c.insert("QMCSFadeInTime", d.between(0, 300));
    c.insert("QMCSFadeOutTime", d.between(0, 300));

    c.insert("QMCSNeedsGain", d.chance(0.3));
    c.insert("QMCSNeedsNormalize", d.chance(0.5));
    c.insert("QMCSNeedsCompressor", d.chance(0.5));
    c.insert("QMCSCeiling", d.between(-20, 0));
    c.insert("QMCSCompressionBoost", d.between(0, 20));
    c.insert("QMCSNeedsGate", d.chance(0.5));
    c.insert("QMCSGateThreshold", d.between(-60, 0));
    c.insert("QMCSGateGapLength", d.between(0, 0.5));
    c.insert("QMCSGateAttenuation", d.between(-40, 0));

    // Kept for the application; the batch does not need them.
    c.insert("QMCSComment", d.of(QList<QString>{"", "take 2", "ünïcödé"}));
    c.insert("QMCSCompressionRelease", d.between(0, 1));
    c.insert("QMCSCompressionType", d.below(3));
    c.insert("QMCSNeedsCompression", d.chance(0.5));
    c.insert("QMCSMax", d.between(0, 1));
    c.insert("QMCSCeiledMax", d.between(0, 1));
    c.insert("QMCSHasValidMax", d.chance(0.5));
    c.insert("QMCSSpecificsValid", d.chance(0.5));

    // The per-type options: the block (zeros, or an MPEG stereo mode), the
    // annotation of Broadcast Wave, the encoder's options of MP3.
    QByteArray block(256, '\0');
    if (caps.takesStereoMode && d.chance(0.5)) {
        const QByteArray mode = d.chance(0.5) ? "MPEG joint stereo   " : "MPEG separate stereo";
        block[0] = char(mode.size());
        block.replace(1, mode.size(), mode);
    }
    QVariantMap specifics{{"oldData", block}};
    if (d.chance(0.3))
        specifics.insert("AnnotationText", "Take 2, room mic");
    if (type == FOUR_CHAR_CODE("DMP3")) {
        specifics.insert("LAMEEncodingMode", d.below(3));
        specifics.insert("LAMEQuality", d.below(10));
        if (d.chance(0.5))
            specifics.insert("LAMEVBRQuality", d.below(10));
        if (d.chance(0.3))
            specifics.insert("LAMEMinimumBitRate", d.of(QList<int>{32, 64, 128}));
        specifics.insert("LAMEChannelHandling", d.below(2));
        specifics.insert("LAMEStereoMode", d.below(3));
        specifics.insert("LAMEUseBitReservoir", d.chance(0.5));
        specifics.insert("LAMEWriteID3Tags", d.chance(0.5));
        specifics.insert("LAMEUseInputFileNameAsTitle", d.chance(0.5));
        specifics.insert("LAMETitle", "03 Take");
        specifics.insert("LAMEGenre", d.chance(0.5) ? QVariant(17) : QVariant("Rock"));
    }
    c.insert("QMCSSpecifics", specifics);
    return c;
}

struct Summary {
    bool found = false;
    int converted = 0, failed = 0, skipped = 0;
};

Summary ReadSummary(const QString& err)
{
    static const QRegularExpression line(QStringLiteral("\\n?(\\d+) converted, (\\d+) failed, (\\d+) skipped, "
                                                        "\\d+ warnings?\\n$"));
    Summary s;
    const QRegularExpressionMatch m = line.match(err);
    if (m.hasMatch())
        s = {true, m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt()};
    return s;
}

class AcceptedConversions : public ::testing::TestWithParam<int> {
protected:
    static void SetUpTestSuite()
    {
        EngineStartup::buildFileTypeTable();
        RegisterPCMFileTypes();
        dir_ = new TestTempDir;
        inputs_ = dir_->qpath() + "/in";
        QDir().mkpath(inputs_);
        // 0.5 s each of 16-bit stereo with three regions, 24-bit 5.1 at 48
        // kHz, 8-bit mono at 8 kHz and 16-bit mono.
        CWAVEFile file;
        const std::string take = (inputs_ + "/take").toStdString();
        if (file.SetFile(take) == noErr) {
            const UInt8 ext[] = {3, 'w', 'a', 'v'};
            file.Create(2, 16, 0, nullptr, ext, 44100.0f);
            std::vector<double> samples(2 * 22050);
            for (size_t i = 0; i < samples.size(); ++i)
                samples[i] = 0.5 * std::sin(double(i / 2) * (i % 2 ? 0.07 : 0.05));
            UInt32 count = 22050;
            file.WriteFrames(0, &count, samples.data());
            const SFTRegion first{1, 441, 4410, 441, 0, {5, 'f', 'i', 'r', 's', 't'}};
            const SFTRegion second{2, 12000, 20000, 12000, 0, {6, 's', 'e', 'c', 'o', 'n', 'd'}};
            // A region over all but the first frame (one over the whole file
            // is the file itself, not written): every snip window holds one.
            const SFTRegion most{3, 1, 22050, 1, 0, {4, 'm', 'o', 's', 't'}};
            file.AddRegion(&first);
            file.AddRegion(&second);
            file.AddRegion(&most);
            file.Close();
        }
        made_ = QFile::exists(inputs_ + "/take.wav") &&
                Sox({"-D", "-n", "-r", "48000", "-c", "6", "-b", "24", inputs_ + "/surround.wav", "synth", "0.5",
                     "sine", "300", "gain", "-6"}) &&
                Sox({"-D", "-n", "-r", "8000", "-c", "1", "-b", "8", inputs_ + "/phone.wav", "synth", "0.5", "sine",
                     "300", "gain", "-6"}) &&
                Sox({"-D", "-n", "-r", "44100", "-c", "1", "-b", "16", inputs_ + "/voice.wav", "synth", "0.5",
                     "sine", "500", "gain", "-6"});
    }
    static void TearDownTestSuite()
    {
        delete dir_;
        dir_ = nullptr;
    }

    // The conversions run as one batch into a folder of their own.
    RunResult Batch(const QVariantList& conversions, const QString& name) const
    {
        const QString folder = dir_->qpath() + "/" + name;
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        const QString file = folder + "/conversions.plist";
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(PropertyList::toXml(conversions)) <= 0)
            return RunResult{};
        out.close();
        return RunBatch({"--quiet", "--conversions", file, "-o", folder + "/out", inputs_}, folder + "/prefs.plist",
                        120000);
    }

    // What is wrong with a batch of `count` conversions over the inputs.
    static QString Fault(const RunResult& r, int count)
    {
        const QString everyInput = FailsEveryInput(r);
        if (!everyInput.isEmpty())
            return everyInput;
        if (r.crashed)
            return QStringLiteral("the batch crashed");
        if (r.err.contains(QStringLiteral("runtime error:")) || r.err.contains(QStringLiteral("Sanitizer")))
            return QStringLiteral("the sanitizers found a fault");
        if (r.exitCode != 0 && r.exitCode != 1)
            return QStringLiteral("exit status %1").arg(r.exitCode);
        // Quiet and all converted: nothing to say.
        if (r.exitCode == 0 && r.err.isEmpty())
            return QString();
        const Summary s = ReadSummary(r.err);
        if (!s.found)
            return QStringLiteral("no summary");
        if (s.converted + s.failed + s.skipped != kInputs * count)
            return QStringLiteral("%1 inputs accounted for, not %2")
                .arg(s.converted + s.failed + s.skipped)
                .arg(kInputs * count);
        if (s.skipped != 0)
            return QStringLiteral("a sound file skipped");
        if (r.err.count(QStringLiteral("\nfailed ")) + (r.err.startsWith(QStringLiteral("failed ")) ? 1 : 0) != s.failed)
            return QStringLiteral("a failure without its line");
        return QString();
    }

    // The conversion of the log whose every input failed, with their lines.
    static QString FailsEveryInput(const RunResult& r)
    {
        const QString log = ReadText(LogPathFromOutput(r.out));
        for (const QString& section : log.split(QStringLiteral("Conversion name: ")).mid(1)) {
            const qsizetype from = section.indexOf(QStringLiteral("CONVERTED INPUT FILES:"));
            const qsizetype to = section.indexOf(QStringLiteral("Total time for this conversion"));
            if (from < 0 || to < from)
                continue;
            QStringList failures;
            for (const QString& line : section.mid(from, to - from).split(QLatin1Char('\n')))
                if (line.startsWith(QLatin1Char('*')))
                    failures.append(line);
            if (failures.size() == kInputs)
                return QStringLiteral("conversion '%1' fails every input:\n%2")
                    .arg(section.section(QLatin1Char('\n'), 0, 0), failures.join(QLatin1Char('\n')));
        }
        return QString();
    }

    static TestTempDir* dir_;
    static QString inputs_;
    static bool made_;
};

TestTempDir* AcceptedConversions::dir_ = nullptr;
QString AcceptedConversions::inputs_;
bool AcceptedConversions::made_ = false;

TEST_P(AcceptedConversions, RunToTheirEndOnEveryInput)
{
    QM_REQUIRE_PEER("sox");
    ASSERT_TRUE(made_);
    const int shard = GetParam();
    const int cases = (EnvNumber("QM_PROPERTY_CASES", kDefaultCases) + kShards - 1) / kShards;
    const quint64 seed = quint64(EnvNumber("QM_PROPERTY_SEED", int(kDefaultSeed)));
    Draw draw(seed * 1000003u + quint64(shard));
    const QList<OSType> types = WritableTypes();
    ASSERT_FALSE(types.isEmpty());

    QVariantList accepted;
    for (int tries = 0; accepted.size() < cases && tries < 200 * cases; ++tries) {
        const QVariantMap c = DrawConversion(draw, types, QStringLiteral("c%1-%2").arg(shard).arg(tries));
        if (ConversionFileCheck::problems(QVariantList{c}).isEmpty())
            accepted.append(c);
    }
    ASSERT_EQ(accepted.size(), cases) << "too few accepted conversions";

    for (qsizetype first = 0; first < accepted.size(); first += kPerBatch) {
        const QVariantList group = accepted.mid(first, kPerBatch);
        const RunResult r = Batch(group, QStringLiteral("s%1").arg(shard));
        const QString groupFault = Fault(r, int(group.size()));
        if (groupFault.isEmpty())
            continue;
        // Each conversion of the group alone, to name the ones at fault.
        bool named = false;
        for (const QVariant& c : group) {
            const RunResult alone = Batch({c}, QStringLiteral("s%1-alone").arg(shard));
            const QString fault = Fault(alone, 1);
            if (fault.isEmpty())
                continue;
            named = true;
            ADD_FAILURE() << fault.toStdString() << " (seed " << seed << ", shard " << shard << ")\n"
                          << PropertyList::toXml(QVariantList{c}).toStdString() << "\n"
                          << alone.err.toStdString();
        }
        if (!named)
            ADD_FAILURE() << groupFault.toStdString() << " (seed " << seed << ", shard " << shard << ")\n"
                          << PropertyList::toXml(group).toStdString() << "\n"
                          << r.err.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Shard, AcceptedConversions, ::testing::Range(0, kShards));

}  // namespace
