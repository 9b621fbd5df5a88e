// What the batch needs around it and cannot use is said, through the real
// command: a resources folder (QUILLMARCH_RESOURCES) that is missing or holds
// no resources is refused at start, naming the variable and the folder,
// whatever the command; a log that cannot be written is said on standard
// error with where and why, no log path is handed to scripts, and the exit
// status is the one --help documents for it.
#include "CliTestSupport.h"

#include <QDir>
#include <QProcess>

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

}  // namespace
