// The built quillmarch-batch as a new user meets it: the listings against
// the type table, a conversions file with problems, a missing output folder,
// misspelt conversion names, and the installed tree (cmake --install into a
// temporary prefix) converting with no environment variables from another
// working folder, with its manual page.
#include "CliTestSupport.h"
#include "PropertyList.h"
#include "TestTempDir.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QThread>

#include <csignal>
#include <tuple>
#include <unistd.h>
#include <utility>

#include <gtest/gtest.h>

using namespace clitest;

namespace {

class BatchCommandTest : public BatchTest {
protected:
    void SetUp() override
    {
        BatchTest::SetUp();
        ASSERT_TRUE(Sox({"-n", "-r", "44100", "-c", "1", "-b", "16", root + "/in.wav", "synth", "0.2", "sine", "440"}));
    }
    void WriteFile(const QString& path, const QVariant& root) { ASSERT_TRUE(WriteBytes(path, PropertyList::toXml(root))); }
};

// The rows of --list-types: the type rows by code, what the media
// libraries read besides by extension (to the type they are read as).
struct TypeListing {
    QMap<QString, QRegularExpressionMatch> rows;
    QMap<QString, QString> mediaReads;
    bool wellFormed = true;
};

TypeListing ParseTypeListing(const QString& out)
{
    TypeListing listing;
    QStringList lines = out.split('\n', Qt::SkipEmptyParts);
    if (lines.isEmpty() || !lines.takeFirst().contains(QRegularExpression("CODE +TYPE +READ +WRITE +EXT +NAME")))
        listing.wellFormed = false;
    // READ: as the type itself, only as raw input, or as another type.
    const QRegularExpression row("^ *(-?\\d+)  '(.{4})'  (yes|raw|as '.{4}') +(yes|no) +(\\S+) +(.+)$");
    // What the media libraries read besides: never written, no code.
    const QRegularExpression mediaRow("^ +-  - +as '(.{4})' +no +(\\S+) +(.+) \\(through the media libraries\\)$");
    for (const QString& line : lines) {
        if (const QRegularExpressionMatch m = mediaRow.match(line); m.hasMatch()) {
            listing.mediaReads.insert(m.captured(2), m.captured(1));
        } else if (const QRegularExpressionMatch t = row.match(line); t.hasMatch()) {
            listing.rows.insert(t.captured(2), t);
        } else {
            ADD_FAILURE() << line.toStdString();
            listing.wellFormed = false;
        }
    }
    return listing;
}

TEST_F(BatchCommandTest, ListTypesMatchesTheTypeTableAndTheReadme)
{
    const RunResult r = Run({"--list-types"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const TypeListing listing = ParseTypeListing(r.out);
    ASSERT_TRUE(listing.wellFormed);
    const QMap<QString, QRegularExpressionMatch>& rows = listing.rows;
    for (const char* extension : {"flac", "ogg", "opus", "m4a"})
        EXPECT_TRUE(listing.mediaReads.contains(extension)) << extension;
    EXPECT_EQ(listing.mediaReads.value("flac"), "MooV");

    // Every property list of the type table gives one line, and no line is
    // left over.
    QDirIterator it(QStringLiteral(QM_SOURCE_RESOURCES "/SoundFileProperties"), {"*.plist"});
    int count = 0;
    while (it.hasNext()) {
        const QVariantMap entry = PropertyList::fromFile(it.next()).toMap();
        const QString code = entry.value("typeCode").toString();
        SCOPED_TRACE(code.toStdString());
        // The engine's own types (a snippet, a temporary file) are no one else's.
        ASSERT_EQ(rows.contains(code), !entry.value("engineOnly").toBool());
        if (entry.value("engineOnly").toBool())
            continue;
        const QRegularExpressionMatch& m = rows[code];
        // The decimal form is the big-endian number of the four characters.
        const QByteArray bytes = code.toLatin1();
        ASSERT_EQ(bytes.size(), 4);
        const qint32 expected = qint32((quint32(quint8(bytes[0])) << 24) | (quint32(quint8(bytes[1])) << 16) |
                                       (quint32(quint8(bytes[2])) << 8) | quint8(bytes[3]));
        EXPECT_EQ(m.captured(1).toInt(), expected);
        EXPECT_EQ(m.captured(6), entry.value("text").toString());
        const QString extension = entry.value("extension").toString();
        EXPECT_EQ(m.captured(5), extension.isEmpty() ? "-" : extension);
        if (m.captured(3) == "yes" || m.captured(3) == "raw") {
            EXPECT_TRUE(entry.value("canBeRead").toBool());
        }
        // MP3 through the encoder is made writable at start-up when an encoder is found.
        if (m.captured(4) == "yes" && code != "DMP3") {
            EXPECT_TRUE(entry.value("canBeWritten").toBool());
        }
        ++count;
    }
    EXPECT_EQ(count, rows.size());
    for (const char* both : {"AIFF", "AIFC", "WAVE", "Sd2f"}) {
        EXPECT_EQ(rows[both].captured(3), "yes") << both;
        EXPECT_EQ(rows[both].captured(4), "yes") << both;
    }
    EXPECT_EQ(rows["QTAL"].captured(3), "as 'MooV'");
    EXPECT_EQ(rows["26-4"].captured(3), "raw");

    // The README's numbers are the listing's: with the MP3 encoder on PATH
    // and without it.
    auto counted = [&rows](const QString& column, const QString& value) {
        int n = 0;
        for (const QRegularExpressionMatch& m : rows)
            n += m.captured(column == "READ" ? 3 : 4).startsWith(value) ? 1 : 0;
        return n;
    };
    QProcess bare;
    QProcessEnvironment env = BatchEnvironment(defaults);
    env.insert("PATH", root + "/no-programs-here");
    bare.setProcessEnvironment(env);
    bare.start(QM_BATCH_EXE, QStringList{"--list-types"});
    ASSERT_TRUE(bare.waitForFinished(60000));
    const TypeListing withoutEncoder = ParseTypeListing(QString::fromUtf8(bare.readAllStandardOutput()));
    int writtenWithoutEncoder = 0;
    for (const QRegularExpressionMatch& m : withoutEncoder.rows)
        writtenWithoutEncoder += m.captured(4) == "yes" ? 1 : 0;
    const QString readme = ReadText(QStringLiteral(QM_SOURCE_RESOURCES "/../README.md")).simplified();
    const QRegularExpressionMatch said = QRegularExpression(
        "knows (\\d+) sound-file types and writes (\\d+) of them \\((\\d+) without the `lame` encoder\\).* It reads "
        "(\\d+) of them as themselves, (\\d+) as another type .* and the (\\d+) G\\.72x types as headerless input")
                                             .match(readme);
    ASSERT_TRUE(said.hasMatch()) << readme.left(1500).toStdString();
    EXPECT_EQ(said.captured(1).toInt(), rows.size());
    EXPECT_EQ(said.captured(2).toInt(), counted("WRITE", "yes"));
    EXPECT_EQ(said.captured(3).toInt(), writtenWithoutEncoder);
    EXPECT_EQ(said.captured(4).toInt(), counted("READ", "yes"));
    EXPECT_EQ(said.captured(5).toInt(), counted("READ", "as "));
    EXPECT_EQ(said.captured(6).toInt(), counted("READ", "raw"));
    EXPECT_EQ(said.captured(4).toInt() + said.captured(5).toInt() + said.captured(6).toInt(), rows.size());
}

TEST_F(BatchCommandTest, AConversionsFileIsCheckedBeforeTheBatchStarts)
{
    // Only a name and a new rate: the rest keeps the new-conversion values
    // (quality 1, not linear interpolation; AIFF; fades of 20 ms when on).
    WriteFile(root + "/short.plist", QVariantList{QVariantMap{{"QMCSName", "Half rate"},
                                                               {"QMCSNeedsStrictFileType", true},
                                                               {"QMCSNeedsSampleRateConversion", true},
                                                               {"QMCSSampleRate", 22050},
                                                               {"QMCSSpecifics", QVariantMap{{"LAMETitel", "x"}}}}});
    RunResult r = Run({"--conversions", root + "/short.plist", "-o", root + "/made/here", root + "/in.wav"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    // An option no output type reads is ignored, and said to be.
    EXPECT_TRUE(r.err.contains("warning: conversion 1 'Half rate': QMCSSpecifics key 'LAMETitel' is not an option "
                               "of any output type and is ignored (did you mean 'LAMETitle'?)"))
        << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(root + "/made/here/Half rate/in.aif"));
    const QString log = ReadText(LogPathFromOutput(r.out));
    EXPECT_TRUE(log.contains("Convert the sample rate to: 22050.0000 Hz"));

    // A missing key, an unknown key and an out-of-range value: all reported
    // with the conversion's name, nothing made.
    WriteFile(root + "/bad.plist",
              QVariantList{QVariantMap{{"QMCSName", "Good"}},
                           QVariantMap{{"QMCSName", "Typo"}, {"QMCSNeedsFade", true}, {"QMCSFadeInTime", -20}}});
    r = Run({"--conversions", root + "/bad.plist", "-o", root + "/not made", root + "/in.wav"});
    EXPECT_EQ(r.exitCode, 64);
    EXPECT_TRUE(r.err.contains("conversion 2 'Typo': unknown key 'QMCSNeedsFade' (did you mean 'QMCSNeedsFades'?)"))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("conversion 2 'Typo': QMCSFadeInTime is -20, out of range")) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("'Good'"));
    EXPECT_FALSE(QFile::exists(root + "/not made"));

    // Names: the listing, and the closest names for a misspelt one.
    r = Run({"--conversions", root + "/short.plist", "--list-conversions"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "ACTIVE  NAME\nyes     Half rate\n");
    r = Run({"--conversion", "speech wav", "-o", root + "/out", root + "/in.wav"});
    EXPECT_EQ(r.exitCode, 64);
    EXPECT_TRUE(r.err.contains("no conversion named 'speech wav'; the closest: 'Speech WAVE (16 kHz mono)'"))
        << r.err.toStdString();
    // A name in any case picks the one conversion it names; two names that
    // differ in case alone are told apart only by the exact one.
    r = Run({"--quiet", "--conversion", "speech wave (16 KHZ MONO)", "-o", root + "/any", root + "/in.wav"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(QDir(root + "/any").entryList(QDir::Dirs | QDir::NoDotAndDotDot),
              QStringList{"Speech WAVE (16 kHz mono)"});
    ASSERT_FALSE(WriteConversions(root + "/cases.plist", {{0, {{"QMCSName", "Mix"}}}, {0, {{"QMCSName", "mix"}}}})
                     .isEmpty());
    r = Run({"--conversions", root + "/cases.plist", "--conversion", "MIX", "-o", root + "/cases", root + "/in.wav"});
    EXPECT_EQ(r.exitCode, 64);
    EXPECT_TRUE(r.err.contains("'MIX' names 2 conversions when case is ignored")) << r.err.toStdString();
    r = Run({"--quiet", "--conversions", root + "/cases.plist", "--conversion", "mix", "-o", root + "/cases",
             root + "/in.wav"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(QDir(root + "/cases").entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{"mix"});
}

TEST_F(BatchCommandTest, TheGuidesExampleRuns)
{
    const QString guide = ReadText(QStringLiteral(QM_SOURCE_RESOURCES "/../docs/conversions.md"));
    const qsizetype begin = guide.indexOf("```xml\n");
    const qsizetype end = guide.indexOf("```", begin + 7);
    ASSERT_TRUE(begin >= 0 && end > begin);
    ASSERT_TRUE(WriteBytes(root + "/example.plist", guide.mid(begin + 7, end - begin - 7).toUtf8()));
    // Also of a rate that no MP3 holds.
    ASSERT_TRUE(Sox({"-n", "-r", "96000", "-c", "2", "-b", "24", root + "/hi.wav", "synth", "0.2", "sine", "440"}));
    const RunResult r = Run({"--quiet", "--conversions", root + "/example.plist", "-o", root + "/out",
                             root + "/in.wav", root + "/hi.wav"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    for (const char* output : {"CD AIFF/in.aif", "Speech WAVE/in.wav", "Web MP3/in.mp3", "CD AIFF/hi.aif",
                               "Speech WAVE/hi.wav", "Web MP3/hi.mp3"})
        EXPECT_TRUE(QFile::exists(root + "/out/" + output)) << output;
}

TEST_F(BatchCommandTest, HelpAndVersionTellWhereThingsAre)
{
    const RunResult help = Run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* text : {"~/.config/Quillmarch/Quillmarch.plist", "A missing OUTPUT_FOLDER is\ncreated",
                             "--set \"Number Duplicate Files=YES\"", "--list-types", "--list-conversions",
                             "--conversion NAME"})
        EXPECT_TRUE(help.out.contains(text)) << text;
    // The exit statuses are said alike by --help, the README and the
    // manual page.
    const QString said = help.out.simplified();
    ASSERT_TRUE(said.contains("Exit status: "));
    const QString statuses = said.mid(said.indexOf("Exit status: "));
    EXPECT_TRUE(ReadText(QStringLiteral(QM_SOURCE_RESOURCES "/../README.md")).simplified().contains(statuses))
        << statuses.toStdString();
    const QString page = ReadText(QStringLiteral(QM_SOURCE_RESOURCES "/../docs/quillmarch-batch.1"));
    const QString pageStatuses = page.mid(page.indexOf(".SH EXIT STATUS"));
    int clauses = 0;
    QRegularExpressionMatchIterator it =
        QRegularExpression("(?:Exit status: |; )(0|1|2|64|130|141) (.*?)(?=; (?:0|1|2|64|130|141) |\\.$)")
            .globalMatch(statuses);
    for (; it.hasNext(); ++clauses) {
        const QRegularExpressionMatch m = it.next();
        const QRegularExpressionMatch entry =
            QRegularExpression("\\.B " + m.captured(1) + "\\n(.*?)\\n\\.(?:TP|SH)",
                               QRegularExpression::DotMatchesEverythingOption)
                .match(pageStatuses);
        const QString text = entry.captured(1).replace("\\-", "-").simplified();
        EXPECT_TRUE(text.startsWith(m.captured(2), Qt::CaseInsensitive))
            << m.captured(1).toStdString() << ": " << text.toStdString() << "\n" << m.captured(2).toStdString();
    }
    EXPECT_EQ(clauses, 6);
    const RunResult version = Run({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.startsWith("quillmarch-batch 4.")) << version.out.toStdString();
    EXPECT_TRUE(version.out.contains("preferences: " + defaults));
    EXPECT_EQ(Run({"--version", "in.wav"}).exitCode, 64);
}

TEST_F(BatchCommandTest, MP3OutputNeedsTheEncoder)
{
    const QVariantMap mp3{{"QMCSName", "MP3"},
                          {"QMCSNeedsStrictFileType", true},
                          {"QMCSOutputFileType", qint32('DMP3')},
                          {"QMCSNeedsNewWordLength", true},
                          {"QMCSWordLength", 96},
                          {"QMCSSpecifics", QVariantMap{{"LAMETitle", "Tone"}}}};
    WriteFile(root + "/mp3.plist", QVariantList{mp3});
    const QStringList arguments = {"--conversions", root + "/mp3.plist", "-o", root + "/out", root + "/in.wav"};
    RunResult r = Run(arguments);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QByteArray probe;
    ASSERT_TRUE(RunPeer("ffprobe", {"-v", "error", "-show_entries", "stream=bit_rate:format_tags=title", "-of",
                                    "compact", root + "/out/MP3/in.mp3"},
                        &probe));
    EXPECT_TRUE(probe.contains("bit_rate=96000")) << probe.toStdString();
    EXPECT_TRUE(probe.contains("tag:title=Tone")) << probe.toStdString();

    // An MP3 input's own tag goes into its MP3 output (under a conversion
    // that names its outputs ".mp3") in place of the conversion's.
    ASSERT_TRUE(
        RunPeer("lame", {"--quiet", "--id3v2-only", "--tt", "Own title", root + "/in.wav", root + "/tagged.mp3"}));
    QVariantMap tagged = mp3;
    tagged.insert("QMCSNeedsNameExtension", true);
    tagged.insert("QMCSNameExtension", "mp3");
    WriteFile(root + "/tagged.plist", QVariantList{tagged});
    r = Run({"--conversions", root + "/tagged.plist", "-o", root + "/tagged", root + "/tagged.mp3"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    ASSERT_TRUE(RunPeer("ffprobe", {"-v", "error", "-show_entries", "format_tags=title", "-of", "compact",
                                    root + "/tagged/MP3/tagged.mp3"},
                        &probe));
    EXPECT_TRUE(probe.contains("tag:title=Own title")) << probe.toStdString();

    // Without an encoder the type is not writable, and the batch says why.
    QProcess process;
    QProcessEnvironment env = BatchEnvironment(defaults);
    env.insert("PATH", root + "/no-programs-here");
    process.setProcessEnvironment(env);
    process.start(QM_BATCH_EXE, QStringList{"--list-types"});
    process.waitForFinished(60000);
    EXPECT_TRUE(QString::fromUtf8(process.readAllStandardOutput()).contains(QRegularExpression("'DMP3'  as 'Mp3 '  no ")));
    process.start(QM_BATCH_EXE, QStringList(arguments).replaceInStrings(root + "/out", root + "/out2"));
    process.waitForFinished(60000);
    EXPECT_EQ(process.exitCode(), 64);
    const QString err = QString::fromUtf8(process.readAllStandardError());
    EXPECT_TRUE(err.contains("the conversion 'MP3' cannot run: its output file type cannot be written (LAME "
                             "encoded mp3, 'DMP3'). MP3 output needs the LAME encoder 'lame' (version 3.93 or "
                             "newer), which was not found"))
        << err.toStdString();

    // An encoder that fails: each file fails with a warning, the batch goes on.
    ASSERT_TRUE(QDir().mkpath(root + "/fake"));
    QFile script(root + "/fake/lame");
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nif [ \"$1\" = -v ]; then echo 'LAME version 3.100'; exit 0; fi\nexit 2\n");
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    ASSERT_TRUE(QFile::copy(root + "/in.wav", root + "/second.wav"));
    env.insert("PATH", root + "/fake");
    process.setProcessEnvironment(env);
    process.start(QM_BATCH_EXE, {"--conversions", root + "/mp3.plist", "-o", root + "/out3", root + "/in.wav",
                                 root + "/second.wav"});
    process.waitForFinished(60000);
    EXPECT_EQ(process.exitCode(), 1);
    const QString log = ReadText(LogPathFromOutput(QString::fromUtf8(process.readAllStandardOutput())));
    EXPECT_EQ(log.count("the LAME encoder failed (MP3)"), 2) << log.toStdString();
    EXPECT_TRUE(QDir(root + "/out3/MP3").entryList(QDir::Files | QDir::Hidden).isEmpty());

    // An encoder that hangs: Ctrl-C cancels the batch cleanly and ends it.
    ASSERT_TRUE(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
    script.write(("#!/bin/sh\nif [ \"$1\" = -v ]; then echo 'LAME version 3.100'; exit 0; fi\n"
                  "echo $$ > '" + root + "/fake/encoding'; exec /bin/sleep 300\n")
                     .toUtf8());
    script.close();
    process.start(QM_BATCH_EXE, {"--conversions", root + "/mp3.plist", "-o", root + "/out4", root + "/in.wav"});
    QElapsedTimer timer;
    timer.start();
    while (!QFile::exists(root + "/fake/encoding") && timer.elapsed() < 30000)
        QThread::msleep(20);
    ASSERT_TRUE(QFile::exists(root + "/fake/encoding"));
    QThread::msleep(50);
    ::kill(pid_t(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_LT(timer.elapsed(), 15000);
    EXPECT_EQ(process.exitCode(), 2) << process.readAllStandardError().toStdString();
    EXPECT_TRUE(QDir(root + "/out4/MP3").entryList(QDir::Files | QDir::Hidden).isEmpty());
    const QString encoder = ReadText(root + "/fake/encoding").trimmed();
    const QString state = ReadText("/proc/" + encoder + "/stat");
    EXPECT_TRUE(state.isEmpty() || state.contains(") Z")) << state.toStdString();
}

// A misspelt option, an unknown preference or a preference value of the
// wrong kind: refused before anything is made, with the closest name or the
// values allowed.
struct Typo {
    QStringList arguments;
    const char* said;
};

void PrintTo(const Typo& typo, std::ostream* os)
{
    *os << typo.arguments.join(' ').toStdString();
}

class BatchCommandTypo : public BatchCommandTest, public ::testing::WithParamInterface<Typo> {};

TEST_P(BatchCommandTypo, IsRefusedWithTheClosestNameOrTheValuesAllowed)
{
    const RunResult r = Run(GetParam().arguments + QStringList{"-o", root + "/out", root + "/in.wav"});
    EXPECT_EQ(r.exitCode, 64);
    EXPECT_TRUE(r.err.contains(GetParam().said)) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(root + "/out"));
}

INSTANTIATE_TEST_SUITE_P(
    Typos, BatchCommandTypo,
    ::testing::Values(
        Typo{{"--set", "Number Duplicate Filez=YES"},
             "unknown preference 'Number Duplicate Filez' (did you mean 'Number Duplicate Files'?)"},
        Typo{{"--set", "number duplicate files=YES"}, "(did you mean 'Number Duplicate Files'?)"},
        Typo{{"--set", "Number Duplicate Files=YSE"}, "'Number Duplicate Files' takes YES or NO, not 'YSE'"},
        Typo{{"--set", "Skip Bad Region=YES"}, "'Skip Bad Region' takes a whole number, not 'YES'"},
        Typo{{"--set", "Unrecognized Input File Sample Rate=fast"}, "takes a number"},
        Typo{{"--set", "Conversions=mine.plist"}, "(use --conversions FILE)"},
        Typo{{"--set", "Number", "Duplicate", "Files=YES"},
             "quote it whole when it has spaces, as in --set \"Number Duplicate Files=YES\""},
        Typo{{"--conversoins", "c.plist"}, "unknown option '--conversoins' (did you mean '--conversions'?)"},
        Typo{{"--quite"}, "unknown option '--quite' (did you mean '--quiet'?)"},
        Typo{{"--info=YES"}, "option '--info' takes no value"}),
    [](const ::testing::TestParamInfo<Typo>& info) { return "Typo" + std::to_string(info.index); });

// Refusals say what to do: a conversions file given as an input is
// skipped naming the option that takes it, and no conversion folder is
// made for an input that fails before any output; a conversion folder that
// exists while "Easy Thru" is NO names the --set that lets it be used.
TEST_F(BatchCommandTest, RefusalsSayWhatToDo)
{
    const QString conversions = WriteConversions(root + "/mine.plist", {{0, {}}, {2, {}}});
    const RunResult skipped = Run({"--quiet", "--conversions", conversions, "-o", root + "/out", conversions});
    EXPECT_EQ(skipped.exitCode, 1) << skipped.err.toStdString();
    EXPECT_EQ(skipped.err.count(": not a sound file: it holds conversions, which --conversions FILE takes\n"), 2)
        << skipped.err.toStdString();
    EXPECT_EQ(QDir(root + "/out").entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList());

    const RunResult made = Run({"--quiet", "--conversions", conversions, "-o", root + "/out", root + "/in.wav"});
    EXPECT_EQ(made.exitCode, 0) << made.err.toStdString();
    const RunResult refused =
        Run({"--quiet", "--set", "Easy Thru=NO", "--conversions", conversions, "-o", root + "/out", root + "/in.wav"});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(refused.err.contains("already exists") &&
                refused.err.contains("Here: --set \"Easy Thru=YES\" for this run, or another -o folder."))
        << refused.err.toStdString();
}

TEST_F(BatchCommandTest, WhatCannotBeWrittenIsNamed)
{
    // Folders are read-only for a user other than root: run as "nobody"
    // when the tests run as root.
    auto runUnprivileged = [&](const QStringList& arguments) {
        QProcess process;
        process.setProcessEnvironment(BatchEnvironment(defaults));
        if (::geteuid() == 0)
            process.start("setpriv", QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", QM_BATCH_EXE} +
                                         arguments);
        else
            process.start(QM_BATCH_EXE, arguments);
        process.waitForFinished(120000);
        return std::make_pair(process.exitCode(), QString::fromUtf8(process.readAllStandardError()));
    };
    const QFileDevice::Permissions all = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                         QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    const QFileDevice::Permissions readOnly = QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                              QFileDevice::ReadOther | QFileDevice::ExeOther;
    ASSERT_TRUE(QFile::setPermissions(root, all));
    ASSERT_TRUE(QDir().mkpath(root + "/out/Half rate") && QDir().mkpath(root + "/ro"));
    ASSERT_TRUE(QFile::setPermissions(root + "/out", all) && QFile::setPermissions(root + "/out/Half rate", readOnly) &&
                QFile::setPermissions(root + "/ro", readOnly) && QFile::setPermissions(root + "/in.wav", all));
    WriteFile(root + "/half.plist", QVariantList{QVariantMap{{"QMCSName", "Half rate"}}});
    QFile::setPermissions(root + "/half.plist", all);

    // A kept conversion subfolder that cannot be written.
    const QString half = root + "/half.plist";
    auto [status, err] = runUnprivileged({"--conversions", half, "-o", root + "/out", root + "/in.wav"});
    EXPECT_EQ(status, 2);
    EXPECT_TRUE(err.contains("No output file can be made in the output folder '" + root +
                             "/out/Half rate' of the conversion 'Half rate': permission denied (-54)."))
        << err.toStdString();
    // A missing output folder under a read-only one.
    std::tie(status, err) = runUnprivileged({"--conversions", half, "-o", root + "/ro/new/out", root + "/in.wav"});
    EXPECT_EQ(status, 2);
    EXPECT_TRUE(err.contains("The output folder '" + root + "/ro/new/out' could not be created in '" + root +
                             "/ro': permission denied (-54)."))
        << err.toStdString();
    // A folder of the mirrored tree that cannot be written: each of its
    // inputs fails naming it.
    ASSERT_TRUE(QDir().mkpath(root + "/tree/sub") && QDir().mkpath(root + "/out2/Half rate/tree/sub"));
    ASSERT_TRUE(QFile::copy(root + "/in.wav", root + "/tree/sub/a.wav"));
    for (const char* folder : {"/tree", "/tree/sub", "/out2", "/out2/Half rate", "/out2/Half rate/tree"})
        ASSERT_TRUE(QFile::setPermissions(root + folder, all));
    ASSERT_TRUE(QFile::setPermissions(root + "/out2/Half rate/tree/sub", readOnly));
    std::tie(status, err) = runUnprivileged({"--quiet", "--conversions", half, "-o", root + "/out2", root + "/tree"});
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(err.contains("failed " + root + "/tree/sub/a.wav: no output can be made in '" + root +
                             "/out2/Half rate/tree/sub': permission denied (-54)"))
        << err.toStdString();
    for (const char* folder : {"/out/Half rate", "/ro", "/out2/Half rate/tree/sub"})
        QFile::setPermissions(root + folder, all);

    // An output type that is only read: the type is named, and the one that
    // writes its files.
    WriteFile(root + "/mp3.plist", QVariantList{QVariantMap{{"QMCSName", "To MP3"},
                                                            {"QMCSNeedsStrictFileType", true},
                                                            {"QMCSOutputFileType", qint32('Mp3 ')}}});
    const RunResult r = Run({"--conversions", root + "/mp3.plist", "-o", root + "/out3", root + "/in.wav"});
    EXPECT_EQ(r.exitCode, 64);
    EXPECT_TRUE(r.err.contains("the conversion 'To MP3' cannot run: its output file type cannot be written "
                               "(MPEG Layer III, 'Mp3 '); .mp3 files are written as 'DMP3' (LAME encoded mp3, "
                               "1145917491 as QMCSOutputFileType)"))
        << r.err.toStdString();
}

TEST_F(BatchCommandTest, ASplitPairIsOneInputAndOnlyFailuresAreMarked)
{
    const QString in = root + "/pair";
    ASSERT_TRUE(QDir().mkpath(in));
    for (const char* side : {"L", "R"})
        ASSERT_TRUE(Sox({"-n", "-r", "44100", "-c", "1", "-b", "16", in + "/07 Duet." + side + ".aif", "synth", "0.2",
                         "sine", "440"}));
    QFile left(in + "/07 Duet.L.aif");
    ASSERT_TRUE(left.open(QIODevice::ReadOnly));
    ASSERT_TRUE(WriteBytes(in + "/broken.aif", left.read(30)));  // an AIFF cut inside its header
    const RunResult r = Run({"--conversion", "CD quality AIFF (44.1 kHz, 16 bits)", "-o", root + "/out", in});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    const QString log = ReadText(LogPathFromOutput(r.out));
    EXPECT_TRUE(log.contains("\n 07 Duet" + QString(26, ' ') + "was already processed with left file\n"))
        << log.toStdString();
    EXPECT_FALSE(log.contains("*07 Duet")) << log.toStdString();
    EXPECT_TRUE(log.contains("\n*broken.aif")) << log.toStdString();
    EXPECT_TRUE(r.err.contains("1 failed")) << r.err.toStdString();
}

// Runs `program` in `folder` with only PATH and HOME set.
RunResult RunBare(const QString& program, const QStringList& arguments, const QString& folder, const QString& home)
{
    QProcess process;
    QProcessEnvironment env;
    env.insert("PATH", qEnvironmentVariable("PATH"));
    env.insert("HOME", home);
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    RunResult result;
    if (!process.waitForStarted(30000))
        return result;
    process.waitForFinished(300000);
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

TEST_F(BatchCommandTest, TheInstalledTreeWorksWithoutEnvironmentAndItsManualPageRenders)
{
    const QString prefix = root + "/prefix";
    QByteArray output;
    ASSERT_TRUE(RunPeer(QM_CMAKE_COMMAND, {"--install", QM_BUILD_DIR, "--prefix", prefix}, &output))
        << output.toStdString();
    const QString program = prefix + "/bin/quillmarch-batch";
    ASSERT_TRUE(QFile::exists(program));
    ASSERT_TRUE(QFile::exists(prefix + "/share/quillmarch/resources/Factory_Conversions.plist"));

    const QString home = root + "/home";
    const QString work = root + "/work";
    ASSERT_TRUE(QDir().mkpath(home) && QDir().mkpath(work));
    ASSERT_TRUE(QFile::copy(root + "/in.wav", work + "/take.wav"));

    // Its help points at the installed guide, not at the source tree.
    EXPECT_TRUE(RunBare(program, {"--help"}, work, home)
                    .out.contains(QDir(prefix).canonicalPath() + "/share/doc/Quillmarch/conversions.md\n"));
    const RunResult version = RunBare(program, {"--version"}, work, home);
    EXPECT_TRUE(version.out.contains("resources: " + QDir(prefix).canonicalPath() + "/share/quillmarch/resources\n"))
        << version.out.toStdString();

    // The factory conversions, relative paths, from the working folder.
    const RunResult run = RunBare(program, {"--quiet", "-o", "converted", "take.wav"}, work, home);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(QFile::exists(work + "/converted/CD quality AIFF (44.1 kHz, 16 bits)/take.aif"));
    EXPECT_TRUE(QFile::exists(work + "/converted/Speech WAVE (16 kHz mono)/take.wav"));
    EXPECT_TRUE(QFile::exists(home + "/.config/Quillmarch/Quillmarch.plist"));

    // The manual page, installed where man looks for it, renders without warnings.
    const QString page = prefix + "/share/man/man1/quillmarch-batch.1";
    ASSERT_TRUE(QFile::exists(page));
    QProcess man;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("MANWIDTH", "80");
    env.insert("MAN_KEEP_FORMATTING", "0");
    // A locale the machine lacks makes man warn about the machine, not the page.
    env.insert("LC_ALL", "C.UTF-8");
    man.setProcessEnvironment(env);
    man.start("man", {"--warnings", "-l", page});
    ASSERT_TRUE(man.waitForFinished(60000));
    EXPECT_EQ(man.exitCode(), 0);
    const QString text = QString::fromUtf8(man.readAllStandardOutput());
    EXPECT_TRUE(text.contains("quillmarch-batch - convert batches of audio files")) << text.toStdString();
    EXPECT_TRUE(text.contains("Number Duplicate Files"));
    EXPECT_TRUE(man.readAllStandardError().isEmpty());
    EXPECT_TRUE(QFile::exists(prefix + "/share/doc/Quillmarch/conversions.md"));
}

}  // namespace
