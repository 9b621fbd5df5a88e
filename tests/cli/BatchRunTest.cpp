// The built quillmarch-batch end to end: usage errors, --info, batches
// checked against sox, the log, the exit statuses, the preferences for one
// run, and an interrupt in the middle of a file.
#include "CAIFFFile.h"
#include "CSoundFile.h"
#include "CreateSoundFile.h"
#include "EngineStartup.h"
#include "FileTypeDictionary.h"
#include "file_type_table.h"
#include "string_utils.h"
#include "CliTestSupport.h"
#include "PCMFileTypes.h"
#include "TestTempDir.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <cstring>
#include <memory>

using namespace clitest;

namespace {

// The AIFF 16-bit and WAVE conversions of the factory list, without
// sample-rate conversion or dither, so that sox can make the same samples.
const QVariantMap kAIFF16 = {{"QMCSName", "AIFF 16"},
                             {"QMCSNeedsSampleRateConversion", false},
                             {"QMCSNeedsRedither", false}};
const QVariantMap kWAVE = {{"QMCSName", "WAVE same"},
                           {"QMCSNeedsSampleRateConversion", false},
                           {"QMCSNeedsNewWordLength", false}};

class BatchRun : public BatchTest {
protected:
    void SetUp() override
    {
        BatchTest::SetUp();
        ASSERT_TRUE(QDir().mkpath(root + "/out"));
        conversions = WriteConversions(root + "/conversions.plist", {{0, kAIFF16}, {1, kWAVE}});
        ASSERT_FALSE(conversions.isEmpty());
    }

    // The input tree: tree/a.wav (stereo 16 bits), tree/sub/b.aif (mono 24
    // bits), tree/sub/deeper/c.wav (5.1, 16 bits, 48 kHz).
    void MakeTree()
    {
        ASSERT_TRUE(QDir().mkpath(root + "/tree/sub/deeper"));
        ASSERT_TRUE(Sox({"-n", "-r", "44100", "-c", "2", "-b", "16", root + "/tree/a.wav", "synth", "0.5", "sine",
                         "440", "sine", "660", "gain", "-3"}));
        ASSERT_TRUE(Sox({"-n", "-r", "44100", "-c", "1", "-b", "24", root + "/tree/sub/b.aif", "synth", "0.4", "sine",
                         "1000", "gain", "-1"}));
        ASSERT_TRUE(Sox({"-n", "-r", "48000", "-c", "6", "-b", "16", root + "/tree/sub/deeper/c.wav", "synth",
                         "0.3", "sine", "200", "sine", "300", "sine", "400", "sine", "500", "sine", "600", "sine",
                         "700", "gain", "-2"}));
    }

    static QStringList Files(const QString& folder) { return FilesUnder(folder, true); }

    QString conversions;
};

// Every exit status through the real command, each case with the line that
// says why, naming the path at fault: 0 done; 1 files failed or only
// skipped (--info: not readable); 2 the batch could not start for what is
// on disk; 64 the command line is wrong, and then nothing is made.
struct StatusCase {
    StatusCase(const char* n, QStringList s, QStringList a, int st, QStringList e = {}, QString o = {})
        : name(n), setup(std::move(s)), arguments(std::move(a)), status(st), err(std::move(e)), out(std::move(o))
    {
    }
    const char* name;
    // Made in the test's folder before the run ("%R" in the arguments and
    // texts is that folder): "file PATH", "link PATH TARGET", "folder PATH".
    QStringList setup;
    QStringList arguments;
    int status;
    QStringList err;  // each on standard error
    QString out;      // on standard output (empty: not looked at)
};

void PrintTo(const StatusCase& c, std::ostream* os)
{
    *os << c.name;
}

class BatchExitStatus : public BatchRun, public ::testing::WithParamInterface<StatusCase> {
protected:
    QString Filled(const QString& text) const { return QString(text).replace("%R", root); }
};

TEST_P(BatchExitStatus, SaysWhyNamingThePath)
{
    MakeTree();
    ASSERT_TRUE(QDir(root + "/out").removeRecursively());
    // An AppleDouble sidecar (its header, no entries).
    ASSERT_TRUE(WriteBytes(root + "/._x.wav", QByteArray::fromHex("0005160700020000") + QByteArray(18, '\0')));
    ASSERT_TRUE(WriteBytes(root + "/notes.txt", "plain text, no sound"));
    ASSERT_TRUE(WriteBytes(root + "/garbage.wav", QByteArray(3000, '\x5a')));
    ASSERT_TRUE(WriteConversions(root + "/c.plist", {{0, {{"QMCSName", "C"}}}}) == root + "/c.plist");
    for (const QString& step : GetParam().setup) {
        const QStringList words = Filled(step).split(' ');
        if (words[0] == "file") {
            ASSERT_TRUE(WriteBytes(words[1], "in the way"));
        } else if (words[0] == "folder") {
            ASSERT_TRUE(QDir().mkpath(words[1]));
        } else {
            ASSERT_EQ(::symlink(words[2].toUtf8().constData(), words[1].toUtf8().constData()), 0);
        }
    }
    // "%odd": a sound file whose name is not UTF-8 (as a program receives
    // it, with a replacement character).
    const QByteArray odd = QFile::encodeName(root) + "/k_\xff.wav";
    ASSERT_EQ(::link(QFile::encodeName(root + "/tree/a.wav").constData(), odd.constData()), 0);
    QStringList arguments;
    for (const QString& argument : GetParam().arguments)
        arguments << (argument == "%odd" ? QFile::decodeName(odd) : Filled(argument));
    const RunResult r = Run(arguments);
    ASSERT_FALSE(r.crashed);
    EXPECT_EQ(r.exitCode, GetParam().status) << r.err.toStdString();
    for (const QString& text : GetParam().err)
        EXPECT_TRUE(r.err.contains(Filled(text))) << Filled(text).toStdString() << "\n" << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(Filled(GetParam().out))) << r.out.toStdString();
    // A batch's standard output is the log's path alone, for scripts.
    if (GetParam().arguments.contains("-o") && !r.out.isEmpty()) {
        EXPECT_TRUE(QRegularExpression("^" + QRegularExpression::escape(root) +
                                       "/out/QuillLog-\\d{8}-\\d{6}(-\\d+)?\\.qlg\\n$")
                        .match(r.out)
                        .hasMatch())
            << r.out.toStdString();
    }
    // Never an input's message for an output, nor a code's message that
    // speaks of something else.
    EXPECT_FALSE(r.err.contains("Expected input file not found")) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("duplicate filename error")) << r.err.toStdString();
    if (GetParam().status == 64) {
        // Nothing was made: no output folder, no log, no preferences.
        EXPECT_TRUE(r.err.startsWith("quillmarch-batch: ")) << r.err.toStdString();
        EXPECT_FALSE(QFile::exists(root + "/out"));
        EXPECT_FALSE(QFile::exists(defaults));
    }
}

const QStringList kC = {"--quiet", "--conversions", "%R/c.plist"};

INSTANTIATE_TEST_SUITE_P(
    Cases, BatchExitStatus,
    ::testing::Values(
        StatusCase{"Converted", {}, kC + QStringList{"-o", "%R/out", "%R/tree"}, 0, {}, "%R/out/QuillLog-"},
        StatusCase{"Described", {}, {"--info", "%R/tree"}, 0, {}, "\"path\":\"%R/tree/a.wav\""},
        StatusCase{"Listed", {}, {"--list-types"}, 0, {}, "'AIFF'"},
        StatusCase{"AFileFailed", {}, kC + QStringList{"-o", "%R/out", "%R/garbage.wav", "%R/tree"}, 1,
                   {"failed %R/garbage.wav: "}},
        StatusCase{"OnlySkipped", {}, kC + QStringList{"-o", "%R/out", "%R/notes.txt"}, 1,
                   {"skipped %R/notes.txt: not a sound file\n0 converted, 0 failed, 1 skipped"}},
        StatusCase{"ANamedSidecar", {}, kC + QStringList{"-o", "%R/out", "%R/._x.wav"}, 1,
                   {"skipped %R/._x.wav: an AppleDouble sidecar (the Finder information and resource fork of "
                    "'x.wav'), not a sound file of its own\n"}},
        StatusCase{"AWalkedLinkLeadsNowhere", {"link %R/tree/b.wav nowhere.wav"},
                   kC + QStringList{"-o", "%R/out", "%R/tree"}, 1,
                   {"failed %R/tree/b.wav: is a link to 'nowhere.wav', which does not exist (-22018)"}},
        StatusCase{"AMirroredFolderIsAFile", {"folder %R/out/C/tree", "file %R/out/C/tree/sub"},
                   kC + QStringList{"-o", "%R/out", "%R/tree"}, 1,
                   {"failed %R/tree/sub/b.aif: no output can be made in '%R/out/C/tree/sub': it is a file, not a "
                    "folder (-120)",
                    "failed %R/tree/sub/deeper/c.wav: no output can be made in '%R/out/C/tree/sub/deeper': "
                    "'%R/out/C/tree/sub' is a file, not a folder (-120)",
                    "\n1 converted, 2 failed"}},
        StatusCase{"AMirroredFolderIsALinkToNothing", {"folder %R/out/C", "link %R/out/C/tree gone"},
                   kC + QStringList{"-o", "%R/out", "%R/tree"}, 1,
                   {"no output can be made in '%R/out/C/tree': it is a link to 'gone', which does not exist (-120)"}},
        StatusCase{"InfoOfWhatCannotBeRead", {}, {"--info", "%R/garbage.wav", "%R/tree"}, 1, {}, "-22008"},
        StatusCase{"InfoOfANameThatIsNotUTF8", {}, {"--info", "%odd"}, 1, {},
                   "\"message\":\"has a file name that is not valid UTF-8\""},
        StatusCase{"TheOutputFolderIsAFile", {}, kC + QStringList{"-o", "%R/tree/a.wav", "%R/tree/sub"}, 2,
                   {"The output folder '%R/tree/a.wav' cannot be used: it is a file, not a folder."}},
        StatusCase{"TheOutputFolderIsUnderAFile", {}, kC + QStringList{"-o", "%R/tree/a.wav/out", "%R/tree/sub"}, 2,
                   {"The output folder '%R/tree/a.wav/out' could not be created: '%R/tree/a.wav' is a file, not a "
                    "folder."}},
        StatusCase{"TheOutputFolderIsALinkToNothing", {"link %R/out gone"}, kC + QStringList{"-o", "%R/out", "%R/tree"},
                   2, {"The output folder '%R/out' could not be created: it is a link to 'gone', which does not exist."}},
        StatusCase{"AConversionsFolderIsAFile", {"folder %R/out", "file %R/out/C"},
                   kC + QStringList{"-o", "%R/out", "%R/tree"}, 2,
                   {"The necessary output folder named: '%R/out/C' could not be created: it is a file, not a folder."}},
        StatusCase{"AConversionsFolderExistsWithoutEasyThru", {"folder %R/out/C"},
                   kC + QStringList{"--set", "Easy Thru=NO", "-o", "%R/out", "%R/tree"}, 2,
                   {"Error: output folder already exists"}},
        StatusCase{"AnUnknownOption", {}, {"--bogus", "-o", "%R/out", "%R/tree"}, 64, {"usage: quillmarch-batch"}},
        StatusCase{"NoInputs", {}, {"-o", "%R/out"}, 64, {"no input files or folders given"}},
        StatusCase{"NoOutputFolder", {}, kC + QStringList{"%R/tree"}, 64, {"no output folder given"}},
        StatusCase{"InfoWithAnOutputFolder", {}, {"--info", "-o", "%R/out", "%R/tree"}, 64, {}},
        StatusCase{"AMissingInput", {}, kC + QStringList{"-o", "%R/out", "%R/tree", "%R/typo.wav"}, 64,
                   {"The input '%R/typo.wav' does not exist."}},
        StatusCase{"ANamedLinkLeadsNowhere", {"link %R/take.wav nowhere.wav"},
                   kC + QStringList{"-o", "%R/out", "%R/take.wav"}, 64,
                   {"The input '%R/take.wav' is a link to 'nowhere.wav', which does not exist."}},
        StatusCase{"InfoOfAMissingInput", {}, {"--info", "%R/tree/a.wav", "%R/typo.wav"}, 64,
                   {"The input '%R/typo.wav' does not exist."}, "\"path\":\"%R/tree/a.wav\""},
        StatusCase{"TheOutputFolderInsideAnInput", {}, kC + QStringList{"-o", "%R/tree/sub/out", "%R/tree"}, 64,
                   {"Error: output folder inside input folder"}},
        StatusCase{"AConversionNotThere", {}, kC + QStringList{"--conversion", "No such", "-o", "%R/out", "%R/tree"},
                   64, {}},
        StatusCase{"AConversionsFileNotThere", {}, {"--conversions", "%R/missing.plist", "-o", "%R/out", "%R/tree"},
                   64, {}},
        StatusCase{"AConversionsFileOfSound", {}, {"--conversions", "%R/tree/a.wav", "-o", "%R/out", "%R/tree"}, 64,
                   {}}),
    [](const ::testing::TestParamInfo<StatusCase>& info) { return std::string(info.param.name); });

TEST_F(BatchRun, InfoDescribesEachInputAsOneJsonLine)
{
    MakeTree();
    ASSERT_TRUE(WriteBytes(root + "/notes.txt", "not a sound file, but long enough to be looked at properly\n"));
    ASSERT_TRUE(WriteBytes(root + "/cut.wav", QByteArray("RIFF\xff\xff\xff\x7fWAVEfmt \x10\x00\x00\x00", 20)));

    // A folder is walked as a batch walks it: sidecars and ignored names
    // are left out.
    ASSERT_TRUE(WriteBytes(root + "/tree/._a.wav", QByteArray::fromHex("0005160700020000") + QByteArray(74, '\0')));
    ASSERT_TRUE(WriteBytes(root + "/tree/sub/.DS_Store", QByteArray(64, '\0')));
    const QStringList inputs = {root + "/tree/a.wav", root + "/tree/sub/b.aif", root + "/tree/sub/deeper/c.wav",
                                root + "/tree", root + "/notes.txt", root + "/missing.wav", root + "/cut.wav"};
    const RunResult r = Run(QStringList{"--info"} + inputs);
    // Every input is described; one named that is not there is a mistake
    // of the command line.
    EXPECT_EQ(r.exitCode, 64) << r.err.toStdString();
    QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), inputs.size() + 5) << r.out.toStdString();
    const QStringList walked = lines.mid(3, 6);
    lines.remove(4, 5);
    const QStringList walkedPaths = {"/tree", "/tree/a.wav", "/tree/sub", "/tree/sub/b.aif", "/tree/sub/deeper",
                                     "/tree/sub/deeper/c.wav"};
    for (int i = 0; i < walkedPaths.size(); ++i)
        EXPECT_EQ(QJsonDocument::fromJson(walked[i].toUtf8()).object()["path"].toString(), root + walkedPaths[i]);
    QList<QJsonObject> o;
    for (const QString& line : lines) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8(), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        o.append(document.object());
    }
    for (int i = 0; i < inputs.size(); ++i)
        EXPECT_EQ(o[i]["path"].toString(), inputs[i]);

    EXPECT_EQ(o[0]["type"].toString(), "WAVE");
    EXPECT_EQ(o[0]["sampleRate"].toDouble(), 44100.0);
    EXPECT_EQ(o[0]["channels"].toInt(), 2);
    EXPECT_EQ(o[0]["bits"].toInt(), 16);
    EXPECT_EQ(o[0]["frames"].toInt(), 22050);
    EXPECT_EQ(o[0]["markers"].toInt(), 0);
    EXPECT_EQ(o[0]["regions"].toInt(), 0);  // what the file holds
    EXPECT_FALSE(o[0].contains("error"));
    EXPECT_EQ(o[1]["type"].toString(), "AIFF");
    EXPECT_FALSE(o[1]["format"].toString().isEmpty());
    EXPECT_EQ(o[1]["channels"].toInt(), 1);
    EXPECT_EQ(o[1]["bits"].toInt(), 24);
    EXPECT_EQ(o[1]["frames"].toInt(), 17640);
    EXPECT_EQ(o[2]["channels"].toInt(), 6);
    EXPECT_EQ(o[2]["sampleRate"].toDouble(), 48000.0);
    EXPECT_TRUE(o[3]["folder"].toBool());
    EXPECT_EQ(o[4]["error"].toInt(), -22008);
    EXPECT_EQ(o[4]["message"].toString(), "has unknown file format");
    EXPECT_EQ(o[5]["error"].toInt(), -43);
    EXPECT_FALSE(o[5]["message"].toString().isEmpty());
    EXPECT_NE(o[6]["error"].toInt(), 0);
    EXPECT_FALSE(o[6].contains("frames"));

    // All readable: 0.  Describing inputs saves no preferences.
    EXPECT_EQ(Run({"--set", "Save Log=NO", "--info", root + "/tree/a.wav", root + "/tree"}).exitCode, 0);
    EXPECT_FALSE(QFile::exists(defaults));
}

TEST_F(BatchRun, InfoOnEveryKindReadSoFar)
{
    const QString d = root + "/kinds";
    ASSERT_TRUE(QDir().mkpath(d));
    ASSERT_TRUE(Sox({"-n", "-r", "8000", "-c", "1", "-b", "16", d + "/c.aifc", "synth", "0.2", "sine", "300"}));
    ASSERT_TRUE(Sox({"-n", "-r", "22050", "-c", "2", "-e", "floating-point", "-b", "32", d + "/f.wav", "synth",
                     "0.2", "sine", "300"}));
    ASSERT_TRUE(Sox({"-n", "-r", "8000", "-c", "1", "-e", "a-law", d + "/a.wav", "synth", "0.2", "sine", "300"}));
    ASSERT_TRUE(Sox({"-n", "-r", "8000", "-c", "1", "-e", "mu-law", d + "/u.wav", "synth", "0.2", "sine", "300"}));
    ASSERT_TRUE(Sox({"-n", "-r", "44100", "-c", "1", "-b", "16", d + "/Mix.L.aif", "synth", "0.2", "sine", "300"}));
    ASSERT_TRUE(Sox({"-n", "-r", "44100", "-c", "1", "-b", "16", d + "/Mix.R.aif", "synth", "0.2", "sine", "400"}));
    // An AIFF with markers and regions, written by our own class.
    RegisterPCMFileTypes();
    {
        CAIFFFile file;
        ASSERT_EQ(file.SetFile((d + "/annotated").toStdString()), noErr);
        const UInt8 ext[] = {3, 'a', 'i', 'f'};
        ASSERT_EQ(file.Create(2, 16, 0, nullptr, ext, 44100.0f), noErr);
        std::vector<double> samples(2 * 1000, 0.25);
        UInt32 count = 1000;
        ASSERT_EQ(file.WriteFrames(0, &count, samples.data()), noErr);
        for (SInt32 i = 0; i < 3; ++i) {
            SFTMarker marker;
            marker.markerID = i + 1;
            marker.pos = UInt32(100 * (i + 1));
            marker.name[0] = 1;
            marker.name[1] = UInt8('a' + i);
            ASSERT_EQ(file.AddMarker(&marker), noErr);
        }
        for (SInt32 i = 0; i < 2; ++i) {
            SFTRegion region;
            region.regionID = 10 + i;
            region.start = UInt32(400 * i);
            region.end = UInt32(400 * i + 300);
            region.name[0] = 1;
            region.name[1] = UInt8('r' + i);
            ASSERT_EQ(file.AddRegion(&region), noErr);
        }
        ASSERT_EQ(file.Close(), noErr);
    }

    const QStringList names = {"c.aifc", "f.wav", "a.wav", "u.wav", "Mix.R.aif", "annotated.aif"};
    QStringList inputs;
    for (const QString& name : names)
        inputs << d + "/" + name;
    const RunResult r = Run(QStringList{"--info"} + inputs);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), names.size()) << r.out.toStdString();
    QList<QJsonObject> o;
    for (const QString& line : lines)
        o.append(QJsonDocument::fromJson(line.toUtf8()).object());
    const QStringList types = {"AIFC", "WVfl", "WVal", "WVau", "Splt", "AIFF"};
    for (int i = 0; i < names.size(); ++i) {
        EXPECT_EQ(o[i]["type"].toString(), types[i]) << names[i].toStdString();
        EXPECT_FALSE(o[i].contains("error")) << names[i].toStdString();
    }
    EXPECT_EQ(o[1]["bits"].toInt(), 32);
    EXPECT_EQ(o[1]["channels"].toInt(), 2);
    // The right-hand member describes the whole pair.
    EXPECT_EQ(o[4]["memberType"].toString(), "AIFF");
    EXPECT_EQ(o[4]["channels"].toInt(), 2);
    EXPECT_EQ(o[4]["members"].toArray().size(), 2);
    EXPECT_EQ(o[5]["markers"].toInt(), 3);
    EXPECT_EQ(o[5]["regions"].toInt(), 2);
    EXPECT_EQ(o[5]["frames"].toInt(), 1000);
}

TEST_F(BatchRun, TwoConversionsMirrorTheTreeAndMatchSox)
{
    MakeTree();
    const RunResult r = Run({"--conversions", conversions, "-o", root + "/out", root + "/tree"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    ASSERT_FALSE(r.crashed);

    // Each conversion's subfolder mirrors the tree (no sidecars: the
    // headers tell the outputs' types).
    QStringList expected;
    for (const QString& conversion : {QString("AIFF 16"), QString("WAVE same")}) {
        const QString ext = conversion == "AIFF 16" ? "aif" : "wav";
        for (const QString& stem : {QString("tree/a"), QString("tree/sub/b"), QString("tree/sub/deeper/c")})
            expected << conversion + "/" + stem + "." + ext;
    }
    QStringList files = Files(root + "/out");
    const QString logPath = LogPathFromOutput(r.out);
    ASSERT_TRUE(logPath.startsWith(root + "/out/QuillLog-")) << r.out.toStdString();
    ASSERT_TRUE(logPath.endsWith(".qlg"));
    files.removeAll(QDir(root + "/out").relativeFilePath(logPath));
    expected.sort();
    EXPECT_EQ(files, expected);

    // The samples are what sox makes of the same inputs.
    for (const QString& stem : {QString("a"), QString("sub/b"), QString("sub/deeper/c")}) {
        const QString input = QFileInfo::exists(root + "/tree/" + stem + ".wav") ? root + "/tree/" + stem + ".wav"
                                                                                  : root + "/tree/" + stem + ".aif";
        const QString reference = root + "/ref-" + QFileInfo(stem).fileName() + ".aif";
        ASSERT_TRUE(Sox({"-D", input, "-b", "16", reference}));
        EXPECT_EQ(SoxSamples(root + "/out/AIFF 16/tree/" + stem + ".aif"), SoxSamples(reference)) << stem.toStdString();
        EXPECT_EQ(SoxSamples(root + "/out/WAVE same/tree/" + stem + ".wav"), SoxSamples(input)) << stem.toStdString();
    }

    // The log: a header per conversion, one line per file, the footers.
    const QString log = ReadText(logPath);
    EXPECT_EQ(log.count("CONVERSION SPECIFICATIONS"), 2);
    EXPECT_TRUE(log.contains("Conversion name: AIFF 16"));
    EXPECT_TRUE(log.contains("Conversion name: WAVE same"));
    EXPECT_EQ(log.count("\n a\n"), 2);
    EXPECT_EQ(log.count("\n b\n"), 2);
    EXPECT_EQ(log.count("\n c\n"), 2);
    EXPECT_EQ(log.count("Total time for this conversion"), 2);
    EXPECT_TRUE(log.contains("Quillmarch finished conversion at: "));
    EXPECT_FALSE(log.contains("\n*"));

    // Progress and the summary went to standard error as plain lines (not a
    // terminal; small files may pass between two looks at the batch).
    EXPECT_TRUE(r.err.endsWith("6 converted, 0 failed, 0 skipped, 0 warnings\n")) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains('\r'));

    // The preferences remember the log and count the files.
    const RunResult again = Run({"--quiet", "--info", root + "/tree"});
    EXPECT_TRUE(again.err.isEmpty());
    const QString prefs = ReadText(defaults);
    EXPECT_TRUE(prefs.contains(logPath)) << prefs.toStdString();
    EXPECT_TRUE(prefs.contains("<key>Number of Files Ever Converted</key>\n\t<integer>6</integer>"))
        << prefs.toStdString();
}

TEST_F(BatchRun, FormatsThatStoreTheirOwnNameStoreTheFinalOne)
{
    ASSERT_TRUE(QDir().mkpath(root + "/in"));
    ASSERT_TRUE(Sox({"-n", "-r", "8000", "-c", "1", "-b", "16", root + "/in/longtake.wav", "synth", "0.2", "sine",
                     "440"}));
    auto keep = [](const char* name, const char* type) {
        QVariantMap c = TypedConversion(name, type, 16, QByteArray());
        c.insert("QMCSNeedsNewWordLength", false);
        return c;
    };
    const QString conversions =
        WriteConversions(root + "/named.plist", {{0, keep("VAP", "DVAP")}, {0, keep("AVR", ".AVR")},
                                                 {0, keep("Sonic", "SAIF")}});
    const RunResult r = Run({"--quiet", "--conversions", conversions, "-o", root + "/out", root + "/in/longtake.wav"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const auto bytes = ReadBytes;
    // Annotated voice: the name at 36, then a zero byte.
    EXPECT_EQ(bytes(root + "/out/VAP/longtake.vap").mid(36, 13), QByteArray("longtake.vap\0", 13));
    // AVR: the first 8 characters at 4, the rest at 44, then a zero byte.
    const QByteArray avr = bytes(root + "/out/AVR/longtake.avr");
    EXPECT_EQ(avr.mid(4, 8), "longtake");
    EXPECT_EQ(avr.mid(44, 5), QByteArray(".avr\0", 5));
    // Sonic AIFF: the first 11 characters as a Pascal string at 1100 of the
    // MCSF body.
    const QByteArray sonic = bytes(root + "/out/Sonic/longtake.aif");
    const qsizetype mcsf = sonic.indexOf("MCSF");
    ASSERT_GT(mcsf, 0);
    EXPECT_EQ(sonic.mid(mcsf + 8 + 1100, 12), QByteArray("\x0blongtake.ai", 12));
}

TEST_F(BatchRun, OutputsTakeTheInputsBaseNameOnce)
{
    // Sets of every kind (split pairs named .L/.R, Paris -L/-R, Sonic .1/.2,
    // a 5.1 surround set) and a type whose extension it only writes
    // (MacMix), converted again as they are, split, joined (sets to one
    // interleaved file) and to Sonic: every output is named after the
    // input's base name, once.
    ASSERT_TRUE(QDir().mkpath(root + "/in"));
    ASSERT_TRUE(Sox({"-n", "-r", "44100", "-c", "2", "-b", "16", root + "/in/st44.wav", "synth", "0.1", "sine", "440",
                     "sine", "660"}));
    ASSERT_TRUE(Sox({"-n", "-r", "8000", "-c", "1", "-b", "16", root + "/in/m.wav", "synth", "0.1", "sine", "440"}));
    ASSERT_TRUE(Sox({"-n", "-r", "48000", "-c", "6", "-b", "16", root + "/in/s6.wav", "synth", "0.1", "sine", "200",
                     "sine", "300", "sine", "400", "sine", "500", "sine", "600", "sine", "700"}));
    auto to = [](const char* name, const char* type, int treatment) {
        QVariantMap c = TypedConversion(name, type, 16, QByteArray());
        c.insert("QMCSNeedsNewWordLength", false);
        c.insert("QMCSNeedsChannelTreat", treatment != 0);
        c.insert("QMCSChannelTreat", treatment);
        return c;
    };
    const RunResult first = RunConversions("sets", {{0, to("Sonic", "SAIF", 2)}, {0, to("Paris", " paf", 2)},
                                                   {0, to("AIFF", "AIFF", 2)}, {0, to("WAVE", "WAVE", 2)},
                                                   {0, to("MacMix", "MMIX", 0)}},
                                           root + "/in", root + "/sets");
    EXPECT_TRUE(first.exitCode == 0 || first.exitCode == 1) << first.err.toStdString();
    ASSERT_TRUE(QFile::exists(root + "/sets/Sonic/in/st44.1.aif"));
    ASSERT_TRUE(QFile::exists(root + "/sets/Paris/in/st44-L.paf"));
    ASSERT_TRUE(QFile::exists(root + "/sets/MacMix/in/m.mix"));

    const RunResult again = RunConversions("again", {{0, to("as is", "WAVE", 0)}, {0, to("split", "WAVE", 2)},
                                                     {0, to("joined", "WAVE", 6)}, {0, to("Sonic", "SAIF", 0)}},
                                           root + "/sets", root + "/again");
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
    const QRegularExpression once("^(m|st44|s6)([.-](L|R|C|LFE|Ls|Rs|[1-6]))?\\.(wav|aif)$");
    QStringList outputs;
    for (const QString& file : Files(root + "/again")) {
        const QString name = file.section('/', -1);
        if (!file.startsWith("QuillLog-") && !name.startsWith("._"))
            outputs << file;
    }
    EXPECT_GT(outputs.size(), 60);
    for (const QString& file : outputs)
        EXPECT_TRUE(once.match(file.section('/', -1)).hasMatch()) << file.toStdString();
    for (const char* expected : {"joined/sets/Sonic/in/st44.wav", "split/sets/Sonic/in/st44.L.wav",
                                 "Sonic/sets/Sonic/in/st44.1.aif", "as is/sets/Paris/in/st44.L.wav",
                                 "as is/sets/MacMix/in/m.wav", "joined/sets/WAVE/in/s6.wav"})
        EXPECT_TRUE(outputs.contains(QString::fromLatin1(expected))) << expected;
}

TEST(OutputBaseName, EveryTypeLosesItsOwnExtensionsInAnyCase)
{
    EngineStartup::buildFileTypeTable();
    TestTempDir dir;
    int named = 0;
    for (const OSType code : GetFileTypeTableCodes()) {
        const QVariantMap properties = GetSoundFileProperties(code);
        QStringList extensions = properties.value("extensions").toStringList();
        extensions << properties.value("extension").toString();
        for (const QString& extension : extensions) {
            if (extension.isEmpty())
                continue;
            for (const QString& written : {extension, extension.toUpper()}) {
                // (Sets take their names from their members: the batch above.)
                std::unique_ptr<CSoundFile> file(CreateSoundFileObject(code));
                if (!file || file->IsSplit())
                    continue;
                const QString path = dir.qpath() + "/take." + written;
                ASSERT_TRUE(WriteBytes(path, "x"));
                if (file->SetFile(path.toStdString()) != noErr)
                    continue;
                EXPECT_EQ(file->GetName(), "take") << path.toStdString() << " as type " << fourcc_to_string(code);
                ++named;
            }
        }
    }
    EXPECT_GT(named, 80);
}

TEST_F(BatchRun, DuplicatesFailUnlessNumberedAndSetLastsOneRun)
{
    MakeTree();
    const QStringList base = {"--conversions", conversions, "--conversion", "WAVE same", "-o", root + "/out"};
    ASSERT_EQ(Run(base + QStringList{root + "/tree/a.wav"}).exitCode, 0);


    // The same again: the output exists, so the file fails (-48, a warning).
    const RunResult dup = Run(base + QStringList{"--quiet", root + "/tree/a.wav"});
    EXPECT_EQ(dup.exitCode, 1) << dup.err.toStdString();
    // --quiet never silences a failure: its line names the input and the
    // output whose name was taken.
    const QString taken = root + "/out/WAVE same/a.wav";
    EXPECT_TRUE(dup.err.startsWith("failed " + root + "/tree/a.wav: duplicate filename error: " + taken + " (-48)\n"))
        << dup.err.toStdString();
    const QString log = ReadText(LogPathFromOutput(dup.out));
    EXPECT_TRUE(log.contains("*a ")) << log.toStdString();
    EXPECT_TRUE(log.contains("duplicate filename error: " + taken));

    // A whole batch run again: every output's name is taken, and the
    // closing summary says once how to have them numbered.
    const QStringList both = {"--quiet", "--conversions", conversions, "-o", root + "/twice", root + "/tree"};
    ASSERT_EQ(Run(both).exitCode, 0);
    const RunResult again = Run(both);
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_EQ(again.err.count("duplicate filename error"), 6) << again.err.toStdString();
    EXPECT_TRUE(again.err.endsWith("\n0 converted, 6 failed, 0 skipped, 0 warnings\nOutputs whose names were taken were "
                                   "not made (the existing files are kept); to have them numbered instead (NAME-1, "
                                   "NAME-2, ...), add --set \"Number Duplicate Files=YES\"\n"))
        << again.err.toStdString();

    // Numbered for this run only.
    const RunResult numbered = Run(base + QStringList{"--set", "Number Duplicate Files=YES", root + "/tree/a.wav"});
    EXPECT_EQ(numbered.exitCode, 0) << numbered.err.toStdString();
    EXPECT_TRUE(QFile::exists(root + "/out/WAVE same/a-1.wav"));
    EXPECT_FALSE(ReadText(defaults).contains("Number Duplicate Files"));
    EXPECT_EQ(Run(base + QStringList{"--quiet", root + "/tree/a.wav"}).exitCode, 1);

    // A value the user keeps is put back after a run that overrode it.
    ASSERT_TRUE(WriteBytes(root + "/user.plist", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                                                 "<key>Number Duplicate Files</key><true/></dict></plist>\n"));
    const RunResult kept = Run(base
        + QStringList{"--defaults", root + "/user.plist", "--set", "Number Duplicate Files=NO", root + "/tree/a.wav"});
    EXPECT_EQ(kept.exitCode, 1);
    const QString user = ReadText(root + "/user.plist");
    EXPECT_TRUE(user.contains("<key>Number Duplicate Files</key>\n\t<true/>")) << user.toStdString();
    EXPECT_TRUE(user.contains("Last Used Log"));
}

// A run's --set values are never saved, however it ends once its batch is
// done (the log remembers itself, the files are counted: the preferences
// are saved): killed by its standard output, a pipe nobody reads any more
// (SIGPIPE, as `| true` or `| head -n 1` do), or killed outright while the
// test holds it writing into a pipe that is full.
class SetAfterTheBatch : public BatchRun, public ::testing::WithParamInterface<bool> {};

TEST_P(SetAfterTheBatch, IsNeverSaved)
{
    const bool pipeClosed = GetParam();
    MakeTree();
    ASSERT_TRUE(WriteBytes(defaults, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                                     "<key>Easy Thru</key><true/><key>Number Duplicate Files</key><false/>"
                                     "</dict></plist>\n"));
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
    if (pipeClosed) {
        ::close(ends[0]);
        ends[0] = -1;
    } else {
        // Full: the batch's one line waits until the test lets it go.
        const std::string block(4096, 'x');
        while (::write(ends[1], block.data(), block.size()) > 0) {
        }
        while (::write(ends[1], "x", 1) > 0) {
        }
    }
    ASSERT_EQ(::fcntl(ends[1], F_SETFL, 0), 0);
    QProcess process;
    process.setProcessEnvironment(BatchEnvironment(defaults));
    process.setChildProcessModifier([out = ends[1]] { ::dup2(out, STDOUT_FILENO); });
    process.start(QM_BATCH_EXE, {"--quiet", "--set", "Easy Thru=NO", "--set", "Number Duplicate Files=YES", "--set",
                                 "Unrecognized Input File Sample Rate=22050", "--conversions", conversions, "-o",
                                 root + "/new", root + "/tree/a.wav"});
    ::close(ends[1]);
    ASSERT_TRUE(process.waitForStarted(30000));
    if (!pipeClosed) {
        // Once the batch has saved the preferences it is held at its line.
        for (int waited = 0; waited < 60000 && !ReadText(defaults).contains("Last Used Log"); waited += 10)
            QThread::msleep(10);
        ::kill(pid_t(process.processId()), SIGKILL);
    }
    ASSERT_TRUE(process.waitForFinished(60000));
    if (ends[0] >= 0)
        ::close(ends[0]);
    EXPECT_EQ(process.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(process.exitCode(), pipeClosed ? SIGPIPE : SIGKILL);
    EXPECT_TRUE(QFile::exists(root + "/new/WAVE same/a.wav")) << "the batch ran";
    const QString saved = ReadText(defaults);
    EXPECT_TRUE(saved.contains("Last Used Log")) << saved.toStdString();
    EXPECT_TRUE(saved.contains("<key>Easy Thru</key>\n\t<true/>")) << saved.toStdString();
    EXPECT_TRUE(saved.contains("<key>Number Duplicate Files</key>\n\t<false/>")) << saved.toStdString();
    EXPECT_FALSE(saved.contains("Sample Rate")) << saved.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Ends, SetAfterTheBatch, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "ByAClosedPipe" : "KilledOnceSaved");
                         });

TEST_F(BatchRun, ANamedInputThatVanishesIsFatalAndTheFooterIsWritten)
{
    // Held inside the encoding of the first input while the second, named
    // on the command line, is removed.
    MakeTree();
    ASSERT_TRUE(QFile::copy(root + "/tree/a.wav", root + "/second.wav"));
    HeldEncoder encoder(root + "/bin");
    ASSERT_TRUE(encoder.ok());
    const QString held = WriteConversions(root + "/held.plist", {{0, HeldEncoder::Conversion("MP3")}, {1, kWAVE}});
    QProcess process;
    ASSERT_GT(encoder.start(&process, defaults,
                            {"--quiet", "--conversions", held, "-o", root + "/out", root + "/tree/a.wav",
                             root + "/second.wav"}),
              0);
    ASSERT_TRUE(QFile::remove(root + "/second.wav"));
    encoder.release();
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 2) << process.readAllStandardError().toStdString();
    const QString log = ReadText(LogPathFromOutput(QString::fromUtf8(process.readAllStandardOutput())));
    EXPECT_TRUE(log.contains("*second.wav" + QString(23, ' ') + "Expected input file not found\n"))
        << log.toStdString();
    EXPECT_EQ(log.count("Total time for this conversion"), 1);
    EXPECT_TRUE(log.contains("Quillmarch finished conversion at: "));
    // The batch stopped: the second conversion never ran.
    EXPECT_FALSE(log.contains("Conversion name: WAVE same"));
}

// Ctrl-C, SIGTERM and a closed terminal (SIGHUP) alike.
class InterruptedBatch : public BatchRun, public ::testing::WithParamInterface<int> {};

TEST_P(InterruptedBatch, CancelsWithoutPartialOutputs)
{
    // Two takes, resampled, then encoded: the second conversion is held
    // inside the encoding of take1 (with its output and the encoder's input
    // under temporary names) when the signal comes.
    ASSERT_TRUE(QDir().mkpath(root + "/big"));
    for (const char* name : {"take1.wav", "take2.wav"})
        ASSERT_TRUE(Sox({"-n", "-r", "44100", "-c", "2", "-b", "16", root + "/big/" + name, "synth", "2", "sine",
                         "440", "sine", "660", "gain", "-3"}));
    HeldEncoder encoder(root + "/bin");
    ASSERT_TRUE(encoder.ok());
    const QString to24 = WriteConversions(root + "/to24.plist", {{0, {{"QMCSName", "AIFF 24"},
                                                                     {"QMCSNeedsSampleRateConversion", true},
                                                                     {"QMCSSampleRate", 48000.0},
                                                                     {"QMCSSampleRateConvertQuality", 4},
                                                                     {"QMCSNeedsRedither", false},
                                                                     {"QMCSWordLength", 24}}},
                                                                 {0, HeldEncoder::Conversion("MP3")}});
    QProcess process;
    ASSERT_GT(encoder.start(&process, defaults, {"--conversions", to24, "-o", root + "/out", root + "/big"}), 0);
    EXPECT_EQ(FilesUnder(root + "/out/MP3").size(), 2) << "the output and the encoder's input, under temporary names";
    ::kill(pid_t(process.processId()), GetParam());
    ASSERT_TRUE(process.waitForFinished(120000));
    const QString err = QString::fromUtf8(process.readAllStandardError());
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 2) << err.toStdString();
    EXPECT_TRUE(err.contains("2 converted, 1 failed, 0 skipped, 0 warnings, cancelled")) << err.toStdString();

    // What is left are complete outputs only: no temporary or partial file.
    EXPECT_EQ(Files(root + "/out/MP3"), QStringList());
    EXPECT_EQ(Files(root + "/out/AIFF 24"), QStringList({"big/take1.aif", "big/take2.aif"}));
    for (const QString& file : Files(root + "/out/AIFF 24"))  // 2 s at 48 kHz (the converter may add a frame)
        EXPECT_NEAR(double(SoxSamples(root + "/out/AIFF 24/" + file).size()), 2.0 * 48000 * 2 * 3, 6.0)
            << file.toStdString();
    for (const QString& file : Files(root + "/out"))
        EXPECT_TRUE(file.startsWith("AIFF 24/") || file.startsWith("QuillLog-")) << file.toStdString();
    const QString log = ReadText(LogPathFromOutput(out));
    EXPECT_TRUE(log.contains("User cancelled conversion")) << log.toStdString();
    EXPECT_EQ(log.count("Total time for this conversion"), 2);
    EXPECT_TRUE(log.contains("Quillmarch finished conversion at: "));
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptedBatch, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(sigabbrev_np(info.param));
                         });

}  // namespace
