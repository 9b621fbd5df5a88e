// Ctrl-C, SIGTERM and a closed terminal (SIGHUP) end the application as
// quitting does, also while its batch runs: the test holds the batch in its
// export (an A-law movie), signals, then lets the export go on.  The
// application ends of itself, and nothing of the batch's is left under a
// temporary name (the output is published whole when the batch ended
// before the signal was seen, else it is gone with the cancel).
#include "AppTestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <csignal>
#include <cstring>

namespace {

class AppSignals : public ::testing::TestWithParam<int> {};

TEST_P(AppSignals, EndTheApplicationAsQuittingDoes)
{
    TestTempDir dir;
    const QString root = dir.qpath();
    ASSERT_TRUE(QDir().mkpath(root + "/in") && QDir().mkpath(root + "/out") && QDir().mkpath(root + "/run"));
    QFile::setPermissions(root + "/run", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    WriteWave(root + "/in/take.wav", 26460, 44100, 2);
    WriteText(root + "/defaults.plist",
              QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                             "<key>Last Used Destination</key><string>%1/out</string>"
                             "<key>Conversions</key><array><dict><key>QMCSActive</key><true/>"
                             "<key>QMCSName</key><string>A-law movie</string>"
                             "<key>QMCSOutputFileType</key><integer>1364476236</integer>"
                             "<key>QMCSNeedsStrictFileType</key><true/><key>QMCSWordLength</key><integer>16</integer>"
                             "</dict></array></dict></plist>\n")
                  .arg(root)
                  .toUtf8());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("QUILLMARCH_DEFAULTS", root + "/defaults.plist");
    env.insert("XDG_RUNTIME_DIR", root + "/run");
    env.insert("QUILLMARCH_HOLD_EXPORT", root + "/hold");
    QProcess app;
    app.setProcessEnvironment(env);
    app.start(QM_APP_EXE, {"--convert", root + "/in/take.wav"});
    ASSERT_TRUE(app.waitForStarted(30000));
    for (int waited = 0; waited < 60000 && !QFile::exists(root + "/hold.held") && app.state() == QProcess::Running;
         waited += 10)
        QThread::msleep(10);
    ASSERT_TRUE(QFile::exists(root + "/hold.held")) << app.readAllStandardError().toStdString();
    ::kill(pid_t(app.processId()), GetParam());
    WriteText(root + "/hold", "");
    ASSERT_TRUE(app.waitForFinished(60000));
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit) << app.readAllStandardError().toStdString();
    QDirIterator it(root + "/out", QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        EXPECT_FALSE(path.contains(".QuillOutFile")) << path.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, AppSignals, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(sigabbrev_np(info.param));
                         });

}  // namespace
