// Ctrl-C, SIGTERM and a closed terminal (SIGHUP) end the application as
// quitting does, also while its batch runs: the test holds the batch in its
// export (an A-law movie) or in the MP3 encoder (a stand-in), signals, then
// lets the batch go on.  The application ends of itself, says nothing but
// what is meant for its user (no developer's trace), and nothing of the
// batch's is left under a temporary name (the output is published whole
// when the batch ended before the signal was seen, else it is gone with
// the cancel).
#include "AppTestSupport.h"
#include "HeldEncoderScript.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <csignal>
#include <cstring>

namespace {

// The signal, and whether the batch is held in the MP3 encoder (else in
// the export).
struct HeldBatch {
    int signal;
    bool encoder;
};

class AppSignals : public ::testing::TestWithParam<HeldBatch> {};

TEST_P(AppSignals, EndTheApplicationAsQuittingDoes)
{
    const HeldBatch held = GetParam();
    TestTempDir dir;
    const QString root = dir.qpath();
    ASSERT_TRUE(QDir().mkpath(root + "/in") && QDir().mkpath(root + "/out") && QDir().mkpath(root + "/run"));
    QFile::setPermissions(root + "/run", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    WriteWave(root + "/in/take.wav", 26460, 44100, 2);
    // An A-law movie, or MP3 ('DMP3') at 96 kbit/s.
    WriteText(root + "/defaults.plist",
              QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                             "<key>Last Used Destination</key><string>%1/out</string>"
                             "<key>Conversions</key><array><dict><key>QMCSActive</key><true/>"
                             "<key>QMCSName</key><string>held</string>"
                             "<key>QMCSOutputFileType</key><integer>%2</integer><key>QMCSNeedsNewWordLength</key><true/>"
                             "<key>QMCSNeedsStrictFileType</key><true/><key>QMCSWordLength</key><integer>%3</integer>"
                             "</dict></array></dict></plist>\n")
                  .arg(root)
                  .arg(held.encoder ? 0x444D5033 : 1364476236)
                  .arg(held.encoder ? 96 : 16)
                  .toUtf8());
    const QString marker = held.encoder ? root + "/lame/encoding" : root + "/hold.held";
    const QString release = held.encoder ? root + "/lame/release" : root + "/hold";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("QUILLMARCH_DEFAULTS", root + "/defaults.plist");
    env.insert("XDG_RUNTIME_DIR", root + "/run");
    if (held.encoder) {
        ASSERT_TRUE(WriteHeldEncoderScript(root + "/lame"));
        env.insert("PATH", root + "/lame");
    } else {
        env.insert("QUILLMARCH_HOLD_EXPORT", root + "/hold");
    }
    QProcess app;
    app.setProcessEnvironment(env);
    app.start(QM_APP_EXE, {"--convert", root + "/in/take.wav"});
    ASSERT_TRUE(app.waitForStarted(30000));
    for (int waited = 0; waited < 60000 && !QFile::exists(marker) && app.state() == QProcess::Running; waited += 10)
        QThread::msleep(10);
    ASSERT_TRUE(QFile::exists(marker)) << app.readAllStandardError().toStdString();
    ::kill(pid_t(app.processId()), held.signal);
    // The export goes on to its end; the encoder is ended by the cancel.
    if (!held.encoder)
        WriteText(release, "");
    const bool finished = app.waitForFinished(60000);
    WriteText(release, "");
    ASSERT_TRUE(finished);
    const QString err = QString::fromUtf8(app.readAllStandardError());
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit) << err.toStdString();
    // The cancel is no fault: no developer's trace line.
    EXPECT_FALSE(err.contains("exception thrown")) << err.toStdString();
    QDirIterator it(root + "/out", QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        EXPECT_FALSE(path.contains(".QuillOutFile")) << path.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, AppSignals,
                         ::testing::Values(HeldBatch{SIGINT, false}, HeldBatch{SIGTERM, false},
                                           HeldBatch{SIGHUP, false}, HeldBatch{SIGINT, true}),
                         [](const ::testing::TestParamInfo<HeldBatch>& info) {
                             return std::string(sigabbrev_np(info.param.signal)) +
                                    (info.param.encoder ? "_InTheEncoder" : "");
                         });

}  // namespace
