// quillmarch-batch writing every movie type that can be written here: each
// output reads in ffprobe with the codec and channel count asked for and the
// input's length, from inputs the export cannot open too; a conversion
// naming a type nothing here can write is refused, and so is what IMA 4:1
// cannot hold; a killed export leaves nothing behind for good.
#include "CliTestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace clitest;

namespace {

using MovieExportBatch = BatchTest;

struct Export {
    const char* folder;
    const char* type;
    int wordLength;
    const char* specifics;
    const char* extension;
    const char* codec;
};
const Export kExports[] = {
    {"A-law movie", "QTAL", 16, "", ".mov", "pcm_alaw"},
    {"mu-law movie", "QTUL", 16, "", ".mov", "pcm_mulaw"},
    {"IMA movie", "QTIM", 16, "", ".mov", "adpcm_ima_qt"},
    {"Float movie", "QTIF", 32, "LF", ".mov", "pcm_f32le"},
    {"AAC", "Mpg4", 128, "", ".m4a", "aac"},
    {"AIFC IMA", "A1t4", 16, "", ".aifc", "adpcm_ima_qt"},
};

QList<QPair<int, QVariantMap>> ExportConversions()
{
    QList<QPair<int, QVariantMap>> changes;
    for (const Export& e : kExports)
        changes.append({0, TypedConversion(e.folder, e.type, e.wordLength, QByteArray(e.specifics))});
    return changes;
}

// Each export's one output under `out` reads in ffprobe with its codec,
// `channels` and `seconds`.
void ExpectExports(const QString& out, int channels, double seconds, const std::string& what)
{
    for (const Export& e : kExports) {
        const QStringList files = FilesUnder(out + "/" + e.folder);
        ASSERT_EQ(files.size(), 1) << what << " " << e.folder << " " << files.join(' ').toStdString();
        EXPECT_TRUE(files[0].endsWith(QLatin1String(e.extension))) << files[0].toStdString();
        const QJsonObject stream = Probe(files[0]).value("streams").toArray().at(0).toObject();
        EXPECT_EQ(stream.value("codec_name").toString(), e.codec) << what << " " << e.folder;
        EXPECT_EQ(stream.value("channels").toInt(), channels) << what << " " << e.folder;
        EXPECT_NEAR(stream.value("duration").toString().toDouble(), seconds, 0.03) << what << " " << e.folder;
    }
}

TEST_F(MovieExportBatch, EveryWritableMovieTypeIsAnOutput)
{
    ASSERT_TRUE(MakeStereoTake(0.6));

    const RunResult run = RunConversions("conversions", ExportConversions(), root + "/in", root + "/out");
    ASSERT_FALSE(run.crashed);
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    ExpectExports(root + "/out", 2, 0.6, "take.wav");

    // MACE cannot be written here: the conversion is refused, nothing is made.
    const RunResult refused
        = RunConversions("mace", {{0, TypedConversion("MACE", "QTM3", 16, {})}}, root + "/in", root + "/mace");
    ASSERT_FALSE(refused.crashed);
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_TRUE(refused.err.contains("cannot be written") || refused.out.contains("cannot be written"))
        << refused.out.toStdString() << refused.err.toStdString();
    EXPECT_TRUE(QDir(root + "/mace/MACE").entryList(QDir::Files | QDir::Hidden).isEmpty());
}

// Inputs the export cannot open itself (Sound Designer II and Dyaxis
// MacMix: headerless sound in the data fork) reach every export through a
// copy, also when no other step runs.
TEST_F(MovieExportBatch, InputsTheExportCannotOpenGoThroughACopy)
{
    ASSERT_TRUE(MakeStereoTake(0.6));
    const RunResult made = RunConversions("made", {{0, TypedConversion("sd2", "Sd2f", 16, {})},
                                                    {0, TypedConversion("mix", "MMIX", 16, {})}},
                                          root + "/in", root + "/made");
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
    for (const char* type : {"sd2", "mix"}) {
        const QString folder = root + "/made/" + type + "/in";
        const RunResult run = RunConversions(type, ExportConversions(), folder, root + "/out-" + type);
        ASSERT_FALSE(run.crashed);
        EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
        ExpectExports(root + "/out-" + type, 2, 0.6, type);
    }
}

// IMA 4:1 holds one or two channels: more are refused in the words of
// IMA 4:1, and nothing is left.
TEST_F(MovieExportBatch, ImaRefusesMoreThanTwoChannelsInItsOwnWords)
{
    ASSERT_TRUE(QDir().mkpath(root + "/in"));
    ASSERT_TRUE(RunPeer("ffmpeg", {"-nostdin", "-v", "error", "-f", "lavfi", "-i", "sine=f=440:r=16000:d=0.2",
                                   "-af", "pan=5.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0", "-c:a", "pcm_s16le",
                                   root + "/in/six.wav"}));
    const RunResult run = RunConversions("ima", {{0, TypedConversion("IMA movie", "QTIM", 16, {})},
                                                 {0, TypedConversion("AIFC IMA", "A1t4", 16, {})}},
                                         root + "/in", root + "/out");
    ASSERT_FALSE(run.crashed);
    for (const char* conversion : {"IMA movie", "AIFC IMA"})
        EXPECT_EQ(run.err.count(QString("six.wav (conversion '%1'): IMA 4:1 does not take more than two channels "
                                        "(-23804)")
                                    .arg(conversion)),
                  1)
            << run.err.toStdString();
    EXPECT_TRUE(FilesUnder(root + "/out/IMA movie").isEmpty());
    EXPECT_TRUE(FilesUnder(root + "/out/AIFC IMA").isEmpty());
}

// A run killed while it exports (held there, its intermediate finished)
// leaves its files only where the next run's clean-up finds them: beside
// the output, under temporary names; after the next run, started at once,
// nothing of ours is left, in the output folder or in the temporary folder.
TEST_F(MovieExportBatch, AKilledExportLeavesNothingBehindForGood)
{
    ASSERT_TRUE(MakeStereoTake(0.6));
    const QString temporary = root + "/tmp";
    ASSERT_TRUE(QDir().mkpath(temporary));
    for (const Export& e : {kExports[3], kExports[4]}) {
        const QString out = root + "/out-" + e.type;
        const QString conversions = WriteConversions(
            root + "/" + e.type + ".plist", {{0, TypedConversion(e.folder, e.type, e.wordLength, QByteArray(e.specifics))}});
        const QStringList arguments = {"--quiet", "--conversions", conversions, "-o", out, root + "/in"};
        QProcessEnvironment env = BatchEnvironment(defaults);
        env.insert("TMPDIR", temporary);
        const QString hold = root + "/hold-" + e.type;
        env.insert("QUILLMARCH_HOLD_EXPORT", hold);
        QProcess held;
        held.setProcessEnvironment(env);
        held.start(QM_BATCH_EXE, arguments);
        ASSERT_TRUE(held.waitForStarted(30000));
        for (int waited = 0; waited < 60000 && !QFile::exists(hold + ".held") && held.state() == QProcess::Running;
             waited += 10)
            QThread::msleep(10);
        ASSERT_TRUE(QFile::exists(hold + ".held")) << e.type << ": the export was never held";
        // Held: the output and its intermediate, both under temporary names.
        const QStringList during = FilesUnder(out + "/" + e.folder, true);
        EXPECT_EQ(during.filter(QRegularExpression("(^|/)\\.QuillOutFile-\\w{6}\\.")).size(), 2) << during.join(' ').toStdString();
        held.kill();
        ASSERT_TRUE(held.waitForFinished(30000));
        EXPECT_TRUE(FilesUnder(temporary).isEmpty()) << FilesUnder(temporary).join(' ').toStdString();
        // The next run, at once.
        QProcess again;
        env.remove("QUILLMARCH_HOLD_EXPORT");
        again.setProcessEnvironment(env);
        again.start(QM_BATCH_EXE, arguments);
        ASSERT_TRUE(again.waitForFinished(120000));
        EXPECT_EQ(again.exitCode(), 0) << again.readAllStandardError().toStdString();
        const QStringList after = FilesUnder(out, true);
        EXPECT_TRUE(after.filter(".QuillOutFile").isEmpty()) << after.join(' ').toStdString();
        EXPECT_EQ(after.filter(QString(e.folder) + "/in/take" + e.extension).size(), 1) << after.join(' ').toStdString();
        EXPECT_TRUE(FilesUnder(temporary).isEmpty()) << FilesUnder(temporary).join(' ').toStdString();
    }
}

// The conversion folder turns read-only while the export is held (the
// batch runs as another user, for whom permissions hold): the output
// cannot take its name, which its input's line says with the folder and
// the code (never as a name taken, nor with the advice to number
// duplicates); its temporaries, which cannot be removed either, stay
// recorded until they are gone: the next run, once the folder can be
// written again, removes them.
TEST_F(MovieExportBatch, AFolderTurnedReadOnlyIsSaidAndItsTemporariesGoLater)
{
    if (::geteuid() != 0 || QStandardPaths::findExecutable("setpriv").isEmpty())
        GTEST_SKIP() << "the batch runs as another user through setpriv, as root";
    ASSERT_TRUE(MakeStereoTake(0.6));
    const Export& e = kExports[3];
    const QString out = root + "/out";
    const QString folder = out + "/" + e.folder;
    const QString conversions = WriteConversions(
        root + "/c.plist", {{0, TypedConversion(e.folder, e.type, e.wordLength, QByteArray(e.specifics))}});
    const QFileDevice::Permissions all = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                         QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    ASSERT_TRUE(QFile::setPermissions(root, all) && QFile::setPermissions(out, all));
    const QString hold = root + "/hold";
    auto start = [&](QProcess* batch, bool held) {
        QProcessEnvironment env = BatchEnvironment(defaults);
        if (held)
            env.insert("QUILLMARCH_HOLD_EXPORT", hold);
        batch->setProcessEnvironment(env);
        batch->start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", QM_BATCH_EXE, "--quiet",
                                 "--conversions", conversions, "-o", out, root + "/in/take.wav"});
    };
    QProcess held;
    start(&held, true);
    for (int waited = 0; waited < 60000 && !QFile::exists(hold + ".held") && held.state() != QProcess::NotRunning;
         waited += 10)
        QThread::msleep(10);
    ASSERT_TRUE(QFile::exists(hold + ".held")) << held.readAllStandardError().toStdString();
    ASSERT_TRUE(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                                  QFileDevice::ReadOther | QFileDevice::ExeOther));
    ASSERT_TRUE(WriteBytes(hold, ""));
    ASSERT_TRUE(held.waitForFinished(60000));
    const QString err = QString::fromUtf8(held.readAllStandardError());
    EXPECT_EQ(held.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains(QString("failed %1/in/take.wav: no output can be made in '%2': permission denied "
                                     "(-54)\n0 converted, 1 failed, 0 skipped, 0 warnings\n")
                                 .arg(root, folder)))
        << err.toStdString();
    for (const char* wrong : {"renaming", "duplicate", "-48", "Number Duplicate Files"})
        EXPECT_FALSE(err.contains(wrong)) << err.toStdString();
    const QStringList left = FilesUnder(folder, true);
    EXPECT_EQ(left.filter(QRegularExpression("^\\.QuillOutFile-\\w{6}\\.")).size(), 2) << left.join(' ').toStdString();

    ASSERT_TRUE(QFile::setPermissions(folder, all));
    QProcess again;
    start(&again, false);
    ASSERT_TRUE(again.waitForFinished(60000));
    EXPECT_EQ(again.exitCode(), 0) << again.readAllStandardError().toStdString();
    const QStringList after = FilesUnder(out, true);
    EXPECT_TRUE(after.filter(".QuillOutFile").isEmpty()) << after.join(' ').toStdString();
    EXPECT_TRUE(after.contains(QString(e.folder) + "/take" + e.extension)) << after.join(' ').toStdString();
}

}  // namespace
