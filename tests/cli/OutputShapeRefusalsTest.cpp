// Shapes an output type cannot hold are refused before the batch when the
// conversion alone decides them (exit 64, one line naming the keys and the
// allowed values), and per file when the input decides them; nothing is
// written at a rate its name or type does not tell.
#include "CliTestSupport.h"
#include "ConversionFileCheck.h"
#include "EngineStartup.h"
#include "FileTypeDictionary.h"
#include "OutputCapabilities.h"
#include "PropertyList.h"
#include "file_type_table.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

#include <cctype>
#include <set>

using namespace clitest;

namespace {

// What the formats hold, as their definitions say (independent of the type
// table the program reads): mono-only types, the types whose files do not
// record their rate (with the rates they take), the stereo-only CD image.
const std::set<QString> kMonoOnly = {"21-4", "23-2", "23-3", "23-5", "26-3", "26-4", "26-5", "711a", "711u", "DADP",
    "DALW", "DULW", "PADP", "DPCM", "DVAP", "G729", "8SVX", "Sd1f", "VOC ", "Dawn"};
const std::map<QString, QList<double>> kUnrecordedRates
    = {{"21-4", {8000}}, {"23-2", {8000}}, {"23-3", {8000}}, {"23-5", {8000}}, {"26-3", {8000}}, {"26-4", {8000}},
        {"26-5", {8000}}, {"G729", {8000}}, {"711a", {6000, 8000}}, {"711u", {6000, 8000}}, {"DADP", {6000, 8000}},
        {"DALW", {6000, 8000}}, {"DULW", {6000, 8000}}, {"PADP", {6000, 8000}}, {"DPCM", {8000}}, {"IDAT", {44100}}};

qint32 Code(const QString& type)
{
    const QByteArray c = type.toLatin1();
    return qint32(quint32(uint8_t(c[0])) << 24 | quint32(uint8_t(c[1])) << 16 | quint32(uint8_t(c[2])) << 8
        | quint32(uint8_t(c[3])));
}

// A conversion to `type` that the type takes: its rate when its files do not
// record one, a word length (or bit rate) it offers when it needs one.
QVariantMap Taken(const QString& type)
{
    QVariantMap c{{"QMCSName", "Edge"}, {"QMCSNeedsStrictFileType", true}, {"QMCSOutputFileType", Code(type)}};
    const auto rates = kUnrecordedRates.find(type);
    if (rates != kUnrecordedRates.end()) {
        c.insert("QMCSNeedsSampleRateConversion", true);
        c.insert("QMCSSampleRate", rates->second.last());
    }
    const QVariantMap entry = GetFileTypeEntry(OSType(Code(type)));
    const QVariantList bits = entry.value("numBitsPopup").toList();
    if (entry.value("forceWordSize").toBool() && !bits.isEmpty()) {
        // A bit rate that mono and stereo files of every MPEG layer take.
        c.insert("QMCSNeedsNewWordLength", true);
        c.insert("QMCSWordLength", entry.value("wordLengthIsBitRate").toBool() ? QVariant(128)
                                                                                : bits.last().toMap().value("tag"));
    }
    return c;
}

struct Edge {
    const char* label;
    std::function<void(QVariantMap&, const QString& type)> change;
    // The start of the one problem expected for `type`; empty: accepted.
    std::function<QString(const QString& type)> expected;
};

void Treat(QVariantMap& c, int treatment)
{
    c.insert("QMCSNeedsChannelTreat", true);
    c.insert("QMCSChannelTreat", treatment);
}

const Edge kEdges[] = {
    {"Taken", [](QVariantMap&, const QString&) {},
        [](const QString&) {
            return QString();
        }},
    {"Stereo", [](QVariantMap& c, const QString&) { Treat(c, 1); },
        [](const QString& type) {
            return kMonoOnly.count(type) ? QString("QMCSChannelTreat 1 makes stereo files; ") : QString();
        }},
    {"MonoMix", [](QVariantMap& c, const QString&) { Treat(c, 3); },
        [](const QString& type) {
            if (type == "SpSc")  // a split stereo set: splitting stereo writes one
                return QString("QMCSChannelTreat 3 makes mono files; Sonic Split File holds 2 channels (allowed: "
                               "QMCSChannelTreat 1 or 2)");
            return type == "IDAT" ? QString("QMCSChannelTreat 3 makes mono files; Audio CD Image File holds 2 "
                                            "channels (allowed: QMCSChannelTreat 1)")
                                  : QString();
        }},
    {"Split", [](QVariantMap& c, const QString&) { Treat(c, 2); },
        [](const QString& type) {
            return type == "IDAT" ? QString("QMCSChannelTreat 2 makes mono files") : QString();
        }},
    {"InputRate", [](QVariantMap& c, const QString&) { c.insert("QMCSNeedsSampleRateConversion", false); },
        [](const QString& type) {
            return kUnrecordedRates.count(type) ? QString("QMCSNeedsSampleRateConversion must be true for ")
                                                : QString();
        }},
    {"LowestRate",
        [](QVariantMap& c, const QString& type) {
            if (kUnrecordedRates.count(type))
                c.insert("QMCSSampleRate", kUnrecordedRates.at(type).first());
        },
        [](const QString&) {
            return QString();
        }},
    {"Rate7000",
        [](QVariantMap& c, const QString&) {
            c.insert("QMCSNeedsSampleRateConversion", true);
            c.insert("QMCSSampleRate", 7000);
        },
        [](const QString& type) {
            const QVariantMap entry = GetFileTypeEntry(OSType(Code(type)));
            if (entry.contains("discreteSampleRates") || entry.contains("sampleRateClock"))
                return QString("QMCSSampleRate 7000 Hz is not a rate %1 takes (allowed: ")
                    .arg(entry.value("text").toString());
            return entry.value("sampleRateMin").toDouble() > 7000 ? QString("QMCSSampleRate 7000 Hz is out of range")
                                                                  : QString();
        }},
};

class OutputShapeRefusals : public ::testing::TestWithParam<std::string> {
protected:
    static void SetUpTestSuite() { EngineStartup::buildFileTypeTable(); }
};

// Every writable type of the file-type table, at the edges of what it holds.
TEST_P(OutputShapeRefusals, BeforeTheBatchWhatTheConversionAloneDecides)
{
    const QString type = QString::fromStdString(GetParam());
    if (!GetFileTypeEntry(OSType(Code(type))).value("canBeWritten").toBool()) {
        GTEST_SKIP() << "not writable";
    }
    for (const Edge& edge : kEdges) {
        SCOPED_TRACE(edge.label);
        QVariantMap conversion = Taken(type);
        edge.change(conversion, type);
        const QStringList found = ConversionFileCheck::problems(QVariantList{conversion});
        const QString expected = edge.expected(type);
        if (expected.isEmpty()) {
            EXPECT_TRUE(found.isEmpty()) << found.join('\n').toStdString();
        } else {
            ASSERT_EQ(found.size(), 1) << found.join('\n').toStdString();
            EXPECT_TRUE(found.first().startsWith("conversion 1 'Edge': " + expected)) << found.first().toStdString();
        }
    }
}

// The editor offers only what the type holds: each channel treatment of its
// popup makes files of a count the type takes; a type whose files do not
// record their rate forces a rate from its list; the word lengths its popup
// offers are ones it holds.
TEST_P(OutputShapeRefusals, TheEditorsChoicesAreAmongWhatTheTypeHolds)
{
    const QVariantMap entry = GetFileTypeEntry(OSType(Code(QString::fromStdString(GetParam()))));
    const OutputCapabilities caps = OutputCapabilities::fromEntry(entry);
    for (const QVariant& item : entry.value("channelHandlingPopup").toList()) {
        const int tag = item.toMap().value("tag", 0).toInt();
        const UInt16 channels = caps.treatmentChannels(tag);
        EXPECT_TRUE(channels == 0 || caps.holdsChannels(channels)) << "channel treatment " << tag;
    }
    if (caps.rateMustBeConverted()) {
        EXPECT_TRUE(entry.value("forceSampleRate").toBool());
        EXPECT_FALSE(caps.discreteRates.isEmpty());
    }
    if (!caps.wordLengthIsBitRate) {
        for (int bits : caps.wordLengthChoices)
            EXPECT_TRUE(caps.holdsWordLength(SInt16(bits))) << bits;
    }
}

std::vector<std::string> TableTypes()
{
    std::vector<std::string> types;
    for (OSType code : GetFileTypeTableCodes()) {
        const char chars[4] = {char(code >> 24), char(code >> 16), char(code >> 8), char(code)};
        types.push_back(std::string(chars, 4));
    }
    return types;
}

INSTANTIATE_TEST_SUITE_P(TypeTable, OutputShapeRefusals, ::testing::ValuesIn(TableTypes()), TypeParamName());

// ------------------------------------------------- through the real batch

class OutputShapeBatch : public BatchTest {
protected:
    // The conversions over root/in into root/out.
    RunResult RunAll(const QVariantList& conversions)
    {
        const QString file = root + "/c.plist";
        QFile::remove(file);
        QFile out(file);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(PropertyList::toXml(conversions));
        out.close();
        return Run({"--quiet", "--conversions", file, "-o", root + "/out", root + "/in"});
    }
    RunResult RunOne(const QVariantMap& conversion) { return RunAll({conversion}); }
};

TEST_F(OutputShapeBatch, RefusedConversionsStopBeforeAnythingIsWritten)
{
    ASSERT_TRUE(MakeStereoTake(2.0));
    struct Case {
        QVariantMap change;
        const char* line;
    } cases[] = {
        {{{"QMCSOutputFileType", Code("26-4")}, {"QMCSNeedsChannelTreat", true}, {"QMCSChannelTreat", 3}},
            "QMCSNeedsSampleRateConversion must be true for ITU G.726 (32 kbps, 4 bits ADPCM, 8 kHz): its files do not "
            "record their rate; set QMCSSampleRate to 8000 Hz"},
        {{{"QMCSOutputFileType", Code("DADP")}, {"QMCSNeedsChannelTreat", true}, {"QMCSChannelTreat", 3},
             {"QMCSNeedsSampleRateConversion", true}, {"QMCSSampleRate", 7000}},
            "QMCSSampleRate 7000 Hz is not a rate Dialogic ADPCM (no header) takes (allowed: 6000 or 8000 Hz)"},
        {{{"QMCSOutputFileType", Code("DPCM")}, {"QMCSNeedsChannelTreat", true}, {"QMCSChannelTreat", 1},
             {"QMCSNeedsSampleRateConversion", true}, {"QMCSSampleRate", 8000}},
            "QMCSChannelTreat 1 makes stereo files; Dialogic PCM (no header) holds 1 channel (allowed: "
            "QMCSChannelTreat "
            "2, 3, 4 or 5)"},
        {{{"QMCSOutputFileType", Code("IDAT")}, {"QMCSNeedsChannelTreat", true}, {"QMCSChannelTreat", 3},
             {"QMCSNeedsSampleRateConversion", true}, {"QMCSSampleRate", 44100}},
            "QMCSChannelTreat 3 makes mono files; Audio CD Image File holds 2 channels (allowed: QMCSChannelTreat 1)"},
    };
    for (const Case& c : cases) {
        QVariantMap conversion{{"QMCSName", "Refused"}, {"QMCSNeedsStrictFileType", true}};
        conversion.insert(c.change);
        const RunResult r = RunOne(conversion);
        ASSERT_FALSE(r.crashed);
        EXPECT_EQ(r.exitCode, 64) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QString("conversion 1 'Refused': ") + c.line)) << r.err.toStdString();
        EXPECT_TRUE(FilesUnder(root + "/out").isEmpty()) << FilesUnder(root + "/out").join(' ').toStdString();
    }
}

TEST_F(OutputShapeBatch, TakenShapesAreWrittenAtTheirRate)
{
    QM_REQUIRE_PEER("sox");
    ASSERT_TRUE(MakeStereoTake(2.0));
    // 2 s of mixed 44.1 kHz stereo, converted to 8 kHz: 8000 bytes of 4-bit
    // G.726 codes, and 16,000 16-bit frames of Dialogic PCM.
    QVariantMap g726{{"QMCSName", "G726"}, {"QMCSNeedsStrictFileType", true}, {"QMCSOutputFileType", Code("26-4")},
        {"QMCSNeedsChannelTreat", true}, {"QMCSChannelTreat", 3}, {"QMCSNeedsSampleRateConversion", true},
        {"QMCSSampleRate", 8000}};
    QVariantMap pcm = g726;
    pcm.insert("QMCSName", "PCM");
    pcm.insert("QMCSOutputFileType", Code("DPCM"));
    pcm.insert("QMCSNeedsNewWordLength", true);
    pcm.insert("QMCSWordLength", 16);
    const RunResult r = RunAll({g726, pcm});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(QFileInfo(root + "/out/G726/in/take.g726").size(), 8000);
    const RunResult info = Run({"--info", root + "/out/PCM/in/take.p16"});
    const QJsonObject o = QJsonDocument::fromJson(info.out.toUtf8()).object();
    EXPECT_EQ(o.value("sampleRate").toInt(), 8000) << info.out.toStdString();
    EXPECT_EQ(o.value("channels").toInt(), 1);
    EXPECT_EQ(o.value("frames").toInt(), 16000);
}

// A type whose files are split stereo sets (the Sonic split type) is
// written from a stereo input, split into mono files or not, and from a
// split stereo pair; a mono input fails alone, and the batch goes on.
TEST_F(OutputShapeBatch, ASplitSetTypeTakesStereoAndRefusesMonoPerFile)
{
    ASSERT_TRUE(MakeStereoTake(0.3));
    ASSERT_TRUE(Sox({"-D", "-n", "-r", "44100", "-c", "1", "-b", "16", root + "/in/mono.wav", "synth", "0.3", "sine",
        "440"}));
    for (const char* side : {"L", "R"})
        ASSERT_TRUE(Sox({"-D", "-n", "-r", "44100", "-c", "1", "-b", "16", root + "/in/pair." + side + ".aif", "synth",
            "0.3", "sine", "440"}));
    const QVariantMap kept{{"QMCSName", "Kept"}, {"QMCSNeedsStrictFileType", true},
        {"QMCSOutputFileType", Code("SpSc")}};
    QVariantMap split = kept;
    split.insert("QMCSName", "Split");
    Treat(split, 2);
    const RunResult r = RunAll({kept, split});
    ASSERT_FALSE(r.crashed);
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    for (const char* conversion : {"Kept", "Split"})
        EXPECT_EQ(r.err.count(QString("mono.wav (conversion '%1'): has incompatible # channels (-22100)").arg(conversion)),
                  1)
            << r.err.toStdString();
    QStringList written;
    for (const QString& f : FilesUnder(root + "/out", true))
        if (f.endsWith(".aif"))
            written.append(f);
    EXPECT_EQ(written.join(' ').toStdString(), "Kept/in/pair.1.aif Kept/in/pair.2.aif Kept/in/take.1.aif "
                                               "Kept/in/take.2.aif Split/in/pair.1.aif Split/in/pair.2.aif "
                                               "Split/in/take.1.aif Split/in/take.2.aif")
        << r.err.toStdString();
    const RunResult info = Run({"--info", root + "/out/Split/in/take.1.aif"});
    const QJsonObject o = QJsonDocument::fromJson(info.out.toUtf8()).object();
    EXPECT_EQ(o.value("format").toString(), "Sonic Split File") << info.out.toStdString();
    // --list-types says the type is read as what --info reports.
    const QString row = Run({"--list-types"}).out.split('\n').filter("  'SpSc'  ").value(0);
    EXPECT_TRUE(row.contains("as '" + o.value("type").toString() + "'")) << row.toStdString();
    EXPECT_EQ(o.value("channels").toInt(), 2);
    EXPECT_EQ(o.value("frames").toInt(), 13230);
}

// What the input decides and the type cannot hold fails that input alone,
// with a line that says what does not fit and the keys to set; a treatment
// made for two channels never writes a multichannel input unchanged.
TEST_F(OutputShapeBatch, PerFileRefusalsSayWhatDoesNotFit)
{
    ASSERT_TRUE(MakeStereoTake(0.2));
    ASSERT_TRUE(Sox({"-D", "-n", "-r", "48000", "-c", "6", "-b", "24", root + "/in/five.wav", "synth", "0.2", "sine",
        "300"}));
    ASSERT_TRUE(Sox({"-D", "-n", "-r", "44100", "-c", "1", "-b", "24", root + "/in/deep.wav", "synth", "0.2", "sine",
        "300"}));
    struct Case {
        const char* name;
        const char* type;
        int treatment;  // -1: none
        const char* input;
        const char* line;  // on standard error; empty: converted
    } cases[] = {
        {"Mix", "WAVE", 3, "five.wav", "has incompatible # channels (-22100): this conversion changes the number of "
                                       "channels by mixing stereo files to mono files, which takes stereo input, and "
                                       "this input has 6 channels; splitting stereo files to separate mono files would "
                                       "write each channel to a mono file of its own"},
        {"Left", "AIFF", 4, "five.wav", "by copying only left channels of stereo files, which takes stereo input"},
        {"Right", "caff", 5, "five.wav", "by copying only right channels of stereo files, which takes stereo input"},
        {"Mix", "WAVE", 3, "take.wav", ""},
        {"Pair", "SpSc", 2, "five.wav", "has incompatible # channels (-22100): Sonic Split File holds 2 channels, made "
                                        "from stereo input by splitting stereo files to separate mono files, and this "
                                        "input has 6 channels"},
        {"Pair", "SpSc", 2, "take.wav", ""},
        {"Dawn", "Dawn", -1, "take.wav", "has incompatible # channels (-22100): the output would have 2 channels, "
                                         "and Dawn AIFF holds 1 channel: have this conversion change the number of "
                                         "channels by splitting stereo files to separate mono files, mixing stereo "
                                         "files to mono files, copying only left channels of stereo files or copying "
                                         "only right channels of stereo files"},
        {"Dawn", "Dawn", -1, "deep.wav", ""},
        {"AVR", ".AVR", -1, "deep.wav", "has incompatible wordSize (must be 8 or 16 bit) (-23003): the output would "
                                        "have 24 bits, and AVR holds 8 or 16 bits: have this conversion convert the "
                                        "number of bits"},
        {"SD1", "Sd1f", -1, "deep.wav", "SoundDesigner I holds 8 or 16 bits"},
        {"Snd", "sfil", -1, "deep.wav", "System 7 Sound holds 8 or 16 bits"},
        {"VocPro", "VOC2", -1, "deep.wav", "Voc Pro holds 16 bits"},
        {"IFF", "8SVX", -1, "deep.wav", "Amiga/IFF 8SVX holds 8 bits: have this conversion convert the number of "
                                        "bits"},
    };
    QVariantList conversions;
    QSet<QString> named;
    for (const Case& c : cases) {
        if (named.contains(c.name))
            continue;
        named.insert(c.name);
        QVariantMap conversion{{"QMCSName", c.name}, {"QMCSNeedsStrictFileType", true},
            {"QMCSOutputFileType", Code(c.type)}};
        if (c.treatment >= 0)
            Treat(conversion, c.treatment);
        conversions.append(conversion);
    }
    const RunResult r = RunAll(conversions);
    ASSERT_FALSE(r.crashed);
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    const QStringList outputs = FilesUnder(root + "/out", true);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.input);
        const QString stem = QString(c.input).chopped(4);
        const bool written = !outputs.filter(QRegularExpression(QString("^%1/in/%2\\.").arg(c.name, stem))).isEmpty();
        if (*c.line) {
            EXPECT_TRUE(r.err.contains(QString("failed %1/in/%2 (conversion '%3'): ").arg(root, c.input, c.name)))
                << r.err.toStdString();
            EXPECT_TRUE(r.err.contains(c.line)) << r.err.toStdString();
            EXPECT_FALSE(written) << outputs.join(' ').toStdString();
        } else {
            EXPECT_TRUE(written) << outputs.join(' ').toStdString();
        }
    }
}

// Every treatment that names the channels of its files (1 interleaved
// stereo; 2 mono files; 3, 4 and 5 one mono file), on inputs of 1 to 8
// channels that sox writes: each output file has the channels the treatment
// names, as ffprobe reads them, or the input fails alone, saying how many
// channels it has.
class TreatmentChannelCounts : public OutputShapeBatch, public ::testing::WithParamInterface<const char*> {};

TEST_P(TreatmentChannelCounts, EachFileHasTheNamedChannelsOrTheInputFailsAlone)
{
    QM_REQUIRE_PEER("ffprobe");
    constexpr int kMostChannels = 8;
    ASSERT_TRUE(QDir().mkpath(root + "/in"));
    for (int n = 1; n <= kMostChannels; ++n)
        ASSERT_TRUE(Sox({"-D", "-n", "-r", "8000", "-c", QString::number(n), "-b", "16",
            root + QString("/in/c%1.wav").arg(n), "synth", "0.05", "sine", "300"}));
    const int treatments[] = {1, 2, 3, 4, 5};
    QVariantList conversions;
    for (const int t : treatments) {
        QVariantMap c = Taken(GetParam());
        c.insert("QMCSName", QString("T%1").arg(t));
        Treat(c, t);
        conversions.append(c);
    }
    const RunResult r = RunAll(conversions);
    ASSERT_FALSE(r.crashed);
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    for (const int t : treatments) {
        const int named = t == 1 ? 2 : 1;
        for (int n = 1; n <= kMostChannels; ++n) {
            SCOPED_TRACE(QString("treatment %1, %2 channels").arg(t).arg(n).toStdString());
            const QString folder = root + QString("/out/T%1/in").arg(t);
            const QStringList files = QDir(folder).entryList({QString("c%1*").arg(n)}, QDir::Files);
            if (t != 2 && n > 2) {
                EXPECT_TRUE(files.isEmpty()) << files.join(' ').toStdString();
                EXPECT_TRUE(r.err.contains(
                    QString("failed %1/in/c%2.wav (conversion 'T%3'): has incompatible # channels (-22100): ")
                        .arg(root)
                        .arg(n)
                        .arg(t)))
                    << r.err.toStdString();
                EXPECT_TRUE(r.err.contains(QString("this input has %1 channels").arg(n))) << r.err.toStdString();
                continue;
            }
            EXPECT_EQ(files.size(), t == 2 && n > 1 ? n : 1) << files.join(' ').toStdString();
            for (const QString& file : files)
                EXPECT_EQ(peers::FFprobeField((folder + "/" + file).toStdString(), "channels"),
                    std::to_string(named))
                    << file.toStdString();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Types, TreatmentChannelCounts, ::testing::Values("WAVE", "AIFF", "BWLN", "QTIF", " paf"),
    TypeParamName());

// The MPEG types take the stereo modes of older conversions: interleaved
// stereo, joint (7) or separate (8), whatever the per-type block said.
TEST_F(OutputShapeBatch, StereoModesMakeMPEGStereoInTheirMode)
{
    ASSERT_TRUE(MakeStereoTake(0.2));
    QVariantList conversions;
    for (const auto& [name, treatment] : {std::pair{"Joint", 7}, std::pair{"Separate", 8}}) {
        QVariantMap c{{"QMCSName", name}, {"QMCSNeedsStrictFileType", true}, {"QMCSOutputFileType", Code("MPG2")},
            {"QMCSNeedsNewWordLength", true}, {"QMCSWordLength", 128}, {"QMCSNeedsNameExtension", true},
            {"QMCSNameExtension", "mp2"}};
        Treat(c, treatment);
        conversions.append(c);
    }
    const RunResult r = RunAll(conversions);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    // The mode of the first frame header: 1 joint stereo, 0 stereo.
    for (const auto& [name, mode] : {std::pair{"Joint", 1}, std::pair{"Separate", 0}}) {
        QFile f(root + "/out/" + name + "/in/take.mp2");
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name;
        const QByteArray header = f.read(4);
        ASSERT_EQ(header.size(), 4);
        EXPECT_EQ(uint8_t(header[0]), 0xFF) << name;
        EXPECT_EQ(uint8_t(header[3]) >> 6, mode) << name;
    }
}

// A stored conversion (the preferences' list, as the application keeps it
// and the import of older conversions makes it) that can never run is said
// once and left out; the others run, and the input that decides is refused
// alone.
TEST_F(OutputShapeBatch, StoredConversionsThatCannotRunAreSkippedAndTheOthersRun)
{
    ASSERT_TRUE(MakeStereoTake(0.5));
    const QVariantMap g726{{"QMCSName", "G726"}, {"QMCSNeedsStrictFileType", true},
        {"QMCSOutputFileType", Code("26-4")}, {"QMCSNeedsChannelTreat", true}, {"QMCSChannelTreat", 3}};
    const QVariantMap seven{{"QMCSName", "Seven"}, {"QMCSNeedsStrictFileType", true},
        {"QMCSOutputFileType", Code("WAVE")}, {"QMCSNeedsChannelTreat", true}, {"QMCSChannelTreat", 7}};
    const QVariantMap both{{"QMCSName", "Both"}, {"QMCSNeedsStrip", true}, {"QMCSNeedsExtraction", true}};
    const QVariantMap pcm{{"QMCSName", "PCM"}, {"QMCSNeedsStrictFileType", true}, {"QMCSOutputFileType", Code("DPCM")},
        {"QMCSNeedsSampleRateConversion", true}, {"QMCSSampleRate", 8000}, {"QMCSNeedsNewWordLength", true}};
    const QVariantMap wave{{"QMCSName", "Wave"}, {"QMCSNeedsStrictFileType", true},
        {"QMCSOutputFileType", Code("WAVE")}};
    QVariantList stored;
    for (const QVariantMap& c : {g726, seven, both, pcm, wave})
        stored.append(ConversionFileCheck::withDefaults(c));
    QFile prefs(defaults);
    ASSERT_TRUE(prefs.open(QIODevice::WriteOnly));
    prefs.write(PropertyList::toXml(QVariantMap{{"Conversions", stored}}));
    prefs.close();
    const RunResult r = Run({"--quiet", "-o", root + "/out", root + "/in"});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    for (const char* line : {"skipped: the conversion 'G726' cannot run: QMCSNeedsSampleRateConversion must be true",
             "skipped: the conversion 'Seven' cannot run: QMCSChannelTreat 7 (an MPEG stereo mode)",
             "skipped: the conversion 'Both' cannot run: QMCSNeedsStrip and QMCSNeedsExtraction cannot both be true"})
        EXPECT_EQ(r.err.count(line), 1) << line << "\n" << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("take.wav (conversion 'PCM'): has incompatible # channels (-22100)"))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("1 converted, 1 failed")) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(root + "/out/Wave/in/take.wav"));
    EXPECT_FALSE(QFile::exists(root + "/out/Seven"));
}

}  // namespace
