// A second start hands its files to the running application and says
// what became of its command; --help needs no display.
#include "AppTestSupport.h"
#include "InstanceChannel.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QSignalSpy>

#include <thread>

namespace {
class InstanceChannelTest : public AppTest {};
}

TEST_F(InstanceChannelTest, SecondStartForwardsItsFilesAndEnds)
{
    const QString name = QStringLiteral("qm-test-%1").arg(QCoreApplication::applicationPid());
    InstanceChannel channel;
    ASSERT_TRUE(channel.listen(name));
    QSignalSpy received(&channel, &InstanceChannel::received);

    // The real program, started as a second instance with a relative path.
    WriteWave(path(QStringLiteral("take.wav")), 100);
    QProcess second;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QUILLMARCH_INSTANCE"), name);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QUILLMARCH_DEFAULTS"), path(QStringLiteral("second.plist")));
    second.setProcessEnvironment(environment);
    second.setWorkingDirectory(m_dir.qpath());
    second.start(QStringLiteral(QM_APP_EXE), {QStringLiteral("take.wav"), QStringLiteral("--convert")});
    ASSERT_TRUE(second.waitForStarted(5000));
    ASSERT_TRUE(received.wait(10000));
    // It waits to hear what became of the command, and says so.
    EXPECT_FALSE(second.waitForFinished(200));
    channel.answerConvert(true);
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardOutput().contains("started the batch"));
    EXPECT_EQ(received.at(0).at(0).toStringList(),
              (QStringList{path(QStringLiteral("take.wav")), QStringLiteral("--convert")}));

    // Nothing started: status 1 and the reason.
    second.start(QStringLiteral(QM_APP_EXE), {QStringLiteral("--convert")});
    ASSERT_TRUE(second.waitForStarted(5000));
    ASSERT_TRUE(received.wait(10000));
    channel.answerConvert(false, QStringLiteral("Start is not available: the input list is empty."));
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_EQ(second.readAllStandardOutput(), QByteArray("quillmarch: the running application did not start the "
                                                         "batch: Start is not available: the input list is empty.\n"));

    // Without a running instance nothing is forwarded, nor to one that has
    // stopped listening (its main window gone, it is quitting).
    EXPECT_FALSE(InstanceChannel::forward({QStringLiteral("/x")}, name + QStringLiteral("-none"), 500));
    channel.close();
    EXPECT_FALSE(InstanceChannel::forward({QStringLiteral("/x")}, name, 500));
}

TEST_F(InstanceChannelTest, ReceivedFilesAreAdded)
{
    const QString name = QStringLiteral("qm-test-add-%1").arg(QCoreApplication::applicationPid());
    WriteWave(path(QStringLiteral("a.wav")), 100);
    WriteText(path(QStringLiteral("run.qlg")), "log\n");
    MainController& controller = startController();
    InstanceChannel channel;
    ASSERT_TRUE(channel.listen(name));
    QObject::connect(&channel, &InstanceChannel::received, &controller, &MainController::openArguments);
    int convertPosts = 0;
    bool addedBeforeConvert = false;
    const NotificationCenter::Token token = NotificationCenter::defaultCenter().addObserver(
        QStringLiteral("QMConvertScriptCommandReceived"), nullptr, [&](const Notification&) {
            ++convertPosts;
            addedBeforeConvert = controller.inputModel()->rowCount() == 1 && !controller.isAddingFiles();
        });
    QSignalSpy logs(&controller, &MainController::logFilesOpened);
    QSignalSpy finished(&controller, &MainController::addingFinished);

    bool forwarded = false;
    // forward() blocks for the answer; the receiver needs the event loop.
    std::thread sender([&] {
        forwarded = InstanceChannel::forward(
            {path(QStringLiteral("a.wav")), QStringLiteral("--convert"), path(QStringLiteral("run.qlg"))}, name);
    });
    ASSERT_TRUE(finished.wait(10000));
    sender.join();
    EXPECT_TRUE(forwarded);
    EXPECT_EQ(controller.inputModel()->rowCount(), 1);
    ASSERT_EQ(logs.size(), 1);
    EXPECT_EQ(logs.at(0).at(0).toStringList(), QStringList{path(QStringLiteral("run.qlg"))});
    // The scripting command waits for the files handed with it.
    EXPECT_EQ(convertPosts, 1);
    EXPECT_TRUE(addedBeforeConvert);
    NotificationCenter::defaultCenter().removeObserver(token);
}

TEST_F(InstanceChannelTest, HelpNeedsNoDisplay)
{
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("QUILLMARCH_INSTANCE"), QStringLiteral("qm-test-help-%1").arg(QCoreApplication::applicationPid()));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(QM_APP_EXE), {QStringLiteral("--help")});
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_TRUE(program.readAllStandardOutput().startsWith("Usage: quillmarch [--convert] [FILE_OR_FOLDER...]\n"));
}
