// A second start hands its files to the running application of the same
// user and session, and says what became of its command; nothing reaches,
// or comes from, a socket or a program of another user; --help needs no
// display.
#include "AppTestSupport.h"
#include "InstanceChannel.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>

#include <functional>
#include <optional>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint kNobody = 65534;

// The variables that choose the socket, set in this process (and put back
// afterwards) and so also given to the programs the test starts.
class Session {
public:
    Session(const QString& runtime, const QString& temporary, const QString& defaults,
            const QString& display = QStringLiteral(":97"))
    {
        set("XDG_RUNTIME_DIR", runtime);
        set("TMPDIR", temporary);
        set("QUILLMARCH_DEFAULTS", defaults);
        set("DISPLAY", display);
        set("WAYLAND_DISPLAY", QString());
    }
    ~Session()
    {
        for (auto it = m_saved.crbegin(); it != m_saved.crend(); ++it) {
            if (it->second)
                qputenv(it->first.constData(), *it->second);
            else
                qunsetenv(it->first.constData());
        }
    }
    void set(const char* name, const QString& value)
    {
        m_saved.emplace_back(name, qEnvironmentVariableIsSet(name) ? std::optional<QByteArray>(qgetenv(name))
                                                                    : std::nullopt);
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value.toUtf8());
    }
    static QProcessEnvironment environment()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return environment;
    }

private:
    std::vector<std::pair<QByteArray, std::optional<QByteArray>>> m_saved;
};

bool SetMode(const QString& path, mode_t mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

bool SetOwner(const QString& path, uint user)
{
    return ::lchown(QFile::encodeName(path).constData(), user, user) == 0;
}

bool MakeFolder(const QString& path, mode_t mode)
{
    return QDir().mkpath(path) && SetMode(path, mode);
}

// This test program again, as the user `user` when given (the test runs as
// root then), doing what the disabled test below is told.
void StartHelper(QProcess& helper, const QString& action, std::optional<uint> user)
{
    QProcessEnvironment environment = Session::environment();
    environment.insert(QStringLiteral("QM_TEST_CHANNEL_HELPER"), action);
    helper.setProcessEnvironment(environment);
    if (user)
        helper.setChildProcessModifier([id = *user] {
            if (::setgid(id) != 0 || ::setuid(id) != 0)
                ::_exit(99);
        });
    helper.start(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath(),
                 {QStringLiteral("--gtest_filter=DISABLED_InstanceChannelHelper.Run"),
                  QStringLiteral("--gtest_also_run_disabled_tests")});
}

// The helper's next report ("" after `timeoutMs`); the test's own event
// loop runs meanwhile.
QString NextLine(QProcess& helper, int timeoutMs = 20000)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        while (helper.canReadLine()) {
            const QString line = QString::fromUtf8(helper.readLine()).trimmed();
            if (line.startsWith(QLatin1String("helper: ")))
                return line.mid(8);
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        helper.waitForReadyRead(20);
    }
    return QString();
}

// Only does something when started by StartHelper, and reports on lines
// that begin "helper: ".  "listen:PATH": a bare listener at PATH that
// reports "listening", then "received N" for each connection once it ends.
// "send:PATH": a bare sender of one message to PATH, which reports
// "connected" (or "not connected") and then "answer" with the first bytes
// answered in hex ("answer -" for none).
TEST(DISABLED_InstanceChannelHelper, Run)
{
    const QString action = qEnvironmentVariable("QM_TEST_CHANNEL_HELPER");
    if (action.isEmpty())
        GTEST_SKIP();
    EnsureApplication();
    const QString path = action.section(QLatin1Char(':'), 1);
    if (action.startsWith(QLatin1String("listen:"))) {
        QLocalServer server;
        ASSERT_TRUE(server.listen(path)) << server.errorString().toStdString();
        std::printf("helper: listening\n");
        std::fflush(stdout);
        while (server.waitForNewConnection(-1)) {
            QLocalSocket* socket = server.nextPendingConnection();
            QByteArray bytes;
            while (socket->state() == QLocalSocket::ConnectedState && socket->waitForReadyRead(5000))
                bytes += socket->readAll();
            bytes += socket->readAll();
            std::printf("helper: received %d\n", int(bytes.size()));
            std::fflush(stdout);
            delete socket;
        }
    } else {
        QLocalSocket socket;
        socket.connectToServer(path);
        const bool connected = socket.waitForConnected(5000);
        std::printf(connected ? "helper: connected\n" : "helper: not connected\n");
        socket.write(InstanceChannel::message({QStringLiteral("/from/another/user.wav")}));
        socket.waitForBytesWritten(5000);
        // The first answer, or none by the end of the connection.
        const QByteArray answer = socket.waitForReadyRead(3000) ? socket.readAll() : QByteArray();
        std::printf("helper: answer %s\n", answer.isEmpty() ? "-" : answer.toHex().constData());
    }
    std::fflush(stdout);
}

class InstanceChannelTest : public AppTest {
protected:
    // A folder of this user's that no one else can enter.
    QString privateFolder(const QString& name)
    {
        const QString folder = path(name);
        EXPECT_TRUE(MakeFolder(folder, 0700));
        return folder;
    }
    // Starts the program with a file in this session, as a second start
    // would, and checks that it opened a window of its own (it pictures it
    // and quits); what it said on standard error.
    QString startOwnWindow()
    {
        WriteWave(path(QStringLiteral("take.wav")), 100);
        QProcess second;
        QProcessEnvironment environment = Session::environment();
        environment.insert(QStringLiteral("QUILLMARCH_SCREENSHOT"), path(QStringLiteral("own-window.png")));
        second.setProcessEnvironment(environment);
        second.start(QStringLiteral(QM_APP_EXE), {path(QStringLiteral("take.wav"))});
        EXPECT_TRUE(second.waitForFinished(30000));
        const QString said = QString::fromUtf8(second.readAllStandardError());
        EXPECT_EQ(second.exitCode(), 0) << said.toStdString();
        EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("own-window.png"))));
        return said;
    }
};

TEST_F(InstanceChannelTest, SecondStartForwardsItsFilesAndEnds)
{
    Session session(privateFolder(QStringLiteral("run")), path(QString()), path(QStringLiteral("second.plist")));
    const QString name = InstanceChannel::defaultServerName();
    ASSERT_TRUE(name.startsWith(path(QStringLiteral("run/quillmarch-")))) << name.toStdString();
    InstanceChannel channel;
    ASSERT_TRUE(channel.listen(name));
    QSignalSpy received(&channel, &InstanceChannel::received);

    // The real program, started as a second instance with a relative path.
    WriteWave(path(QStringLiteral("take.wav")), 100);
    QProcess second;
    second.setProcessEnvironment(Session::environment());
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

TEST_F(InstanceChannelTest, EachSessionHasASocketOfItsOwn)
{
    // The display, the home folder and the preferences file each make
    // another session; the same ones, named alike, the same session.
    const QString run = privateFolder(QStringLiteral("run"));
    const QString defaults = path(QStringLiteral("a.plist"));
    Session base(run, path(QString()), defaults);
    const QString name = InstanceChannel::defaultServerName();
    ASSERT_EQ(QFileInfo(name).absolutePath(), run);
    QStringList names{name};
    const std::vector<std::pair<const char*, QString>> changes{
        {"DISPLAY", QStringLiteral(":98")},
        {"WAYLAND_DISPLAY", QStringLiteral("wayland-1")},
        {"HOME", path(QStringLiteral("home"))},
        {"QUILLMARCH_DEFAULTS", path(QStringLiteral("b.plist"))},
    };
    for (const auto& [variable, value] : changes) {
        Session other(run, path(QString()), defaults);
        other.set(variable, value);
        names.append(InstanceChannel::defaultServerName());
    }
    names.removeDuplicates();
    EXPECT_EQ(names.size(), 5) << names.join(QLatin1Char(' ')).toStdString();
    {
        Session same(run, path(QString()), QStringLiteral("a.plist"));
        QDir::setCurrent(m_dir.qpath());
        EXPECT_EQ(InstanceChannel::defaultServerName(), name);
    }

    // Without $XDG_RUNTIME_DIR: a folder of the user's own in the temporary
    // folder, made for no one else to enter.
    Session fallback(QString(), path(QStringLiteral("tmp")), defaults);
    ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("tmp"))));
    const QString own = path(QStringLiteral("tmp/quillmarch-%1").arg(::geteuid()));
    EXPECT_EQ(QFileInfo(InstanceChannel::defaultServerName()).absolutePath(), own);
    EXPECT_EQ(QFileInfo(own).permissions() & 0x0077, QFileDevice::Permissions());
}

// A place the program would use that another user could have made or
// reached: the second start never hands its files over there (it opens its
// own window and says why), and the impostor listening there gets nothing.
struct UnsafePlace {
    const char* name;
    bool needsRoot;
    // Which variable points at the folder under test: $XDG_RUNTIME_DIR, or
    // (unset) the temporary folder holding quillmarch-<user id>.
    bool runtimeFolder;
    // What is done to the folder or the impostor's socket once it listens.
    std::function<bool(const QString& folder, const QString& socket)> damage;
    const char* said;  // on the second start's standard error
};

void PrintTo(const UnsafePlace& place, std::ostream* out)
{
    *out << place.name;
}

class UnsafePlaceTest : public InstanceChannelTest, public ::testing::WithParamInterface<UnsafePlace> {};

TEST_P(UnsafePlaceTest, IsNeverUsed)
{
    const UnsafePlace& place = GetParam();
    if (place.needsRoot && ::geteuid() != 0)
        GTEST_SKIP() << "making files of another user needs root";
    const QString temporary = privateFolder(QStringLiteral("tmp"));
    const QString folder = place.runtimeFolder ? privateFolder(QStringLiteral("run"))
                                               : privateFolder(QStringLiteral("tmp/quillmarch-%1").arg(::geteuid()));
    Session session(place.runtimeFolder ? folder : QString(), temporary, path(QStringLiteral("prefs.plist")));
    const QString socket = InstanceChannel::defaultServerName();
    ASSERT_EQ(QFileInfo(socket).absolutePath(), folder);
    QLocalServer impostor;
    ASSERT_TRUE(impostor.listen(socket));
    ASSERT_TRUE(place.damage(folder, socket));

    // The session's socket is now elsewhere, or nowhere, or refused.
    QString why;
    const QString now = InstanceChannel::defaultServerName(&why);
    if (now.isEmpty())
        EXPECT_FALSE(why.isEmpty());
    else
        EXPECT_FALSE(InstanceChannel::forward({path(QStringLiteral("take.wav"))}, now, 500));
    EXPECT_FALSE(impostor.waitForNewConnection(100));

    // The program: its own window, and why.
    const QString said = startOwnWindow();
    EXPECT_TRUE(said.contains(QString::fromUtf8(place.said))) << said.toStdString();
    EXPECT_FALSE(impostor.waitForNewConnection(100));
    // The impostor's socket is left where it was.
    EXPECT_TRUE(QFileInfo(socket).exists() || QFileInfo(socket).isSymLink());
}

INSTANTIATE_TEST_SUITE_P(
    Places, UnsafePlaceTest,
    ::testing::Values(
        UnsafePlace{"SocketOfAnotherUser", true, true,
                    [](const QString&, const QString& socket) { return SetOwner(socket, kNobody); },
                    "nothing handed over: the socket"},
        UnsafePlace{"RuntimeFolderOthersCanWrite", false, true,
                    [](const QString& folder, const QString&) { return SetMode(folder, 0777); },
                    "is open to other users (mode 0777) ($XDG_RUNTIME_DIR); this session's socket is"},
        UnsafePlace{"RuntimeFolderOfAnotherUser", true, true,
                    [](const QString& folder, const QString&) { return SetOwner(folder, kNobody); },
                    "belongs to another user (user id 65534) ($XDG_RUNTIME_DIR)"},
        UnsafePlace{"OwnFolderOfAnotherUser", true, false,
                    [](const QString& folder, const QString&) { return SetOwner(folder, kNobody); },
                    "no private folder for this session's socket: the folder"},
        UnsafePlace{"OwnFolderOthersCanEnter", false, false,
                    [](const QString& folder, const QString&) { return SetMode(folder, 0755); },
                    "is open to other users (mode 0755)"},
        UnsafePlace{"OwnFolderIsALink", false, false,
                    [](const QString& folder, const QString&) {
                        return QDir(folder).rename(folder, folder + QStringLiteral("-real")) &&
                               QFile::link(folder + QStringLiteral("-real"), folder);
                    },
                    "is a symbolic link"}),
    [](const ::testing::TestParamInfo<UnsafePlace>& info) { return std::string(info.param.name); });

TEST_F(InstanceChannelTest, NothingGoesToTheSharedTemporaryFolder)
{
    // A listener of another user at "quillmarch-<user name>" in a temporary
    // folder that everyone can write into (where every user could make it):
    // the second start opens its own window and sends it nothing.
    const QString temporary = path(QStringLiteral("tmp"));
    ASSERT_TRUE(MakeFolder(temporary, 01777));
    Session session(QString(), temporary, path(QStringLiteral("prefs.plist")));
    const QString shared = temporary + QStringLiteral("/quillmarch-") + qEnvironmentVariable("USER", "user");
    QLocalServer impostor;
    ASSERT_TRUE(impostor.listen(shared));
    if (::geteuid() == 0) {
        ASSERT_TRUE(SetOwner(shared, kNobody));
    }
    startOwnWindow();
    EXPECT_FALSE(impostor.waitForNewConnection(100));
}

TEST_F(InstanceChannelTest, AProgramOfAnotherUserBehindAUsersSocketGetsNothing)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "running a program as another user needs root";
    // A listener running as another user, whose socket and folder are made
    // to look the user's own: only the credentials of the connection tell.
    ASSERT_TRUE(SetMode(m_dir.qpath(), 0711));
    const QString run = privateFolder(QStringLiteral("run"));
    Session session(run, path(QString()), path(QStringLiteral("prefs.plist")));
    const QString socket = InstanceChannel::defaultServerName();
    ASSERT_TRUE(SetMode(run, 0777));
    QProcess impostor;
    StartHelper(impostor, QStringLiteral("listen:") + socket, kNobody);
    ASSERT_EQ(NextLine(impostor), QStringLiteral("listening")) << impostor.readAllStandardError().toStdString();
    ASSERT_TRUE(SetMode(run, 0700));
    ASSERT_TRUE(SetOwner(socket, ::geteuid()));

    QString refusal;
    EXPECT_FALSE(InstanceChannel::forward({path(QStringLiteral("take.wav"))}, socket, 3000, nullptr, 500, nullptr,
                                          &refusal));
    EXPECT_EQ(refusal, QStringLiteral("the program listening on %1 runs as another user (user id %2)")
                           .arg(socket)
                           .arg(kNobody));
    EXPECT_EQ(NextLine(impostor), QStringLiteral("received 0"));
    impostor.kill();
    impostor.waitForFinished(5000);
}

TEST_F(InstanceChannelTest, TheRunningApplicationHearsOnlyItsOwnUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "running a program as another user needs root";
    // A socket another user can reach (its folder opened after listening):
    // the same sender is heard as this user and refused as another.
    ASSERT_TRUE(SetMode(m_dir.qpath(), 0711));
    const QString run = privateFolder(QStringLiteral("run"));
    const QString socket = run + QStringLiteral("/instance");
    InstanceChannel channel;
    ASSERT_TRUE(channel.listen(socket));
    ASSERT_TRUE(SetMode(run, 0711));
    ASSERT_TRUE(SetMode(socket, 0777));
    QSignalSpy received(&channel, &InstanceChannel::received);

    for (const std::optional<uint> user : {std::optional<uint>(kNobody), std::optional<uint>()}) {
        SCOPED_TRACE(user ? "another user" : "this user");
        QProcess sender;
        StartHelper(sender, QStringLiteral("send:") + socket, user);
        EXPECT_EQ(NextLine(sender), QStringLiteral("connected")) << sender.readAllStandardError().toStdString();
        EXPECT_EQ(NextLine(sender), user ? QStringLiteral("answer -") : QStringLiteral("answer 01"));
        sender.waitForFinished(5000);
        EXPECT_EQ(received.size(), user ? 0 : 1);
    }
}

TEST_F(InstanceChannelTest, ReceivedFilesAreAdded)
{
    const QString name = privateFolder(QStringLiteral("run")) + QStringLiteral("/instance");
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
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(QM_APP_EXE), {QStringLiteral("--help")});
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_TRUE(program.readAllStandardOutput().startsWith("Usage: quillmarch [--convert] [FILE_OR_FOLDER...]\n"));
}

}  // namespace
