// What the batch needs around it and cannot use is said, through the real
// command: a resources folder (QUILLMARCH_RESOURCES) that is missing or holds
// no resources is refused at start, naming the variable and the folder,
// whatever the command; a log that cannot be written is said on standard
// error with where and why, no log path is handed to scripts, and the exit
// status is the one --help documents for it.
#include "CliTestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace clitest;

namespace {

class UnusableSurroundings : public BatchTest {
protected:
    void SetUp() override
    {
        BatchTest::SetUp();
        ASSERT_TRUE(MakeStereoTake(0.2));
    }
};

TEST_F(UnusableSurroundings, AResourcesFolderThatIsNoneIsRefusedAtStart)
{
    const QString take = root + "/in/take.wav";
    const struct {
        QString folder;
        QString why;
    } folders[] = {
        {root + "/missing", "which does not exist"},
        {root + "/in", "which holds no SoundFileProperties folder: it is not the program's resources folder"},
    };
    const QList<QStringList> commands = {{"--list-types"},
                                         {"--list-conversions"},
                                         {"--info", take},
                                         {"--quiet", "-o", root + "/out/batch", take}};
    for (const auto& [folder, why] : folders) {
        for (const QStringList& command : commands) {
            SCOPED_TRACE((folder + " " + command.first()).toStdString());
            QProcess process;
            QProcessEnvironment env = BatchEnvironment(defaults);
            env.insert("QUILLMARCH_RESOURCES", folder);
            process.setProcessEnvironment(env);
            process.start(QM_BATCH_EXE, command);
            ASSERT_TRUE(process.waitForFinished(60000));
            EXPECT_EQ(process.exitCode(), 64);
            EXPECT_EQ(process.readAllStandardError().toStdString(),
                      QString("quillmarch-batch: QUILLMARCH_RESOURCES names '%1', %2\n").arg(folder, why).toStdString());
            EXPECT_TRUE(process.readAllStandardOutput().isEmpty());
        }
    }
    EXPECT_FALSE(QFile::exists(root + "/out/batch"));
}

// The output folder is a full file system (tmpfs, in a mount namespace of
// the test's own) but for the conversion's folder, a folder of the test's
// mounted there: the outputs are made, the log is not.
TEST_F(UnusableSurroundings, ALogThatCannotBeWrittenIsSaidWithWhere)
{
    if (!RunPeer("unshare", {"-rm", "true"}))
        GTEST_SKIP() << "no mount namespace of our own here";
    const QString conversion = "CD quality AIFF (44.1 kHz, 16 bits)";
    const QString out = root + "/out";
    ASSERT_TRUE(QDir().mkpath(root + "/made"));
    QProcess batch;
    batch.setProcessEnvironment(BatchEnvironment(defaults));
    batch.start("unshare", {"-rm", "sh", "-c",
                            "mount -t tmpfs -o size=64k tmpfs \"$1\" && mkdir \"$1/$2\" && mount --bind \"$3\" "
                            "\"$1/$2\" || exit 90; cat /dev/zero > \"$1/fill\" 2>/dev/null; shift 3; exec \"$@\"",
                            "sh", out, conversion, root + "/made", QM_BATCH_EXE, "--quiet", "--conversion", conversion,
                            "-o", out, root + "/in/take.wav"});
    ASSERT_TRUE(batch.waitForFinished(60000));
    const QString err = QString::fromUtf8(batch.readAllStandardError());
    EXPECT_EQ(batch.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(QFile::exists(root + "/made/take.aif")) << err.toStdString();
    EXPECT_TRUE(err.contains(QRegularExpression(
        "\nquillmarch-batch: the log '" + QRegularExpression::escape(out) +
        "/QuillLog-\\d{8}-\\d{6}\\.qlg' could not be written: disk full \\(-34\\)\n")))
        << err.toStdString();
    EXPECT_TRUE(batch.readAllStandardOutput().isEmpty()) << "no path of a log that is not whole";
    // The status is the documented one.
    const QString help = Run({"--help"}).out.simplified();
    EXPECT_TRUE(help.contains("1 some files failed, an active conversion could not run (its files were not "
                              "converted), the log could not be written,"))
        << help.toStdString();
}

// The output folder is a small file system (tmpfs, in a mount namespace of
// the test's own) with `room` pages free, swept across the room the output
// needs: a write of the log may find the disk full while the output holds
// it, and the log be written whole once the run's records are gone.  The
// batch says what is true of its log: the path when it is whole, that it
// could not be written when it is not.
TEST_F(UnusableSurroundings, TheLogIsSaidWholeExactlyWhenItIs)
{
    if (!RunPeer("unshare", {"-rm", "true"}))
        GTEST_SKIP() << "no mount namespace of our own here";
    ASSERT_TRUE(Sox({"-D", "-n", "-r", "44100", "-c", "2", "-b", "16", root + "/in/long.wav", "synth", "20", "sine",
                     "440", "gain", "-3"}));
    const qint64 pages = (QFileInfo(root + "/in/long.wav").size() + 4095) / 4096;
    int whole = 0;
    for (qint64 room = pages - 1; room <= pages + 4; ++room) {
        SCOPED_TRACE(room);
        const QString out = root + "/out" + QString::number(room);
        const QString kept = root + "/kept" + QString::number(room);
        ASSERT_TRUE(QDir().mkpath(out) && QDir().mkpath(kept));
        QProcess batch;
        batch.setProcessEnvironment(BatchEnvironment(defaults));
        batch.start("unshare", {"-rm", "sh", "-c",
                                "mount -t tmpfs -o size=16m tmpfs \"$1\" || exit 90; "
                                "head -c $(( ($(stat -f -c %a \"$1\") - $2) * 4096 )) /dev/zero > \"$1/fill\"; "
                                "mnt=$1; kept=$3; shift 3; \"$@\"; rc=$?; cp \"$mnt\"/QuillLog-* \"$kept\"; exit $rc",
                                "sh", out, QString::number(room), kept, QM_BATCH_EXE, "--quiet", "--conversion",
                                "CD quality AIFF (44.1 kHz, 16 bits)", "-o", out, root + "/in/long.wav"});
        ASSERT_TRUE(batch.waitForFinished(60000));
        ASSERT_NE(batch.exitCode(), 90) << "tmpfs not mounted";
        const QString err = QString::fromUtf8(batch.readAllStandardError());
        const QString path = LogPathFromOutput(QString::fromUtf8(batch.readAllStandardOutput()));
        const QStringList logs = QDir(kept).entryList(QDir::Files);
        ASSERT_EQ(logs.size(), 1) << err.toStdString();
        const QString log = ReadText(kept + "/" + logs.first());
        const bool isWhole = log.startsWith("Quillmarch ") &&
                             log.contains(QRegularExpression("\nTotal conversion time: \\d\\d:\\d\\d:\\d\\d\\n$"));
        whole += isWhole ? 1 : 0;
        EXPECT_EQ(path, isWhole ? out + "/" + logs.first() : QString()) << err.toStdString() << log.toStdString();
        EXPECT_EQ(err.contains("could not be written"), !isWhole) << err.toStdString();
        if (!err.contains("Disk full (-34)"))
            EXPECT_EQ(batch.exitCode(), isWhole ? 0 : 1) << err.toStdString();
    }
    EXPECT_GT(whole, 0);
}

}  // namespace
