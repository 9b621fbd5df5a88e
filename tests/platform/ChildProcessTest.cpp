// Outside programs run from an argument vector: arguments arrive as they
// are (no shell), output and status come back, a missing program is fnfErr,
// ending a child ends what it started, and a child never outlives the
// process that started it, however that ends.
#include "ChildProcess.h"
#include "TestTempDir.h"

#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace {

// Whether the process `pid` is gone (or a zombie, which runs no more) within
// `seconds`.
bool GoneWithin(const QString& pid, int seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        QFile stat("/proc/" + pid + "/stat");
        if (!stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z"))
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QThread::msleep(10);
    }
}

TEST(ChildProcess, RunsFromAnArgumentVector)
{
    std::string output;
    EXPECT_EQ(ChildProcess::run("/bin/sh", {"-c", "printf '%s|' \"$@\"; echo err >&2; exit 7", "sh", "a b", "$HOME;*",
                                            "'q'"},
                                &output, 10000),
              7);
    EXPECT_EQ(output, "a b|$HOME;*|'q'|err\n");

    OSErr err = noErr;
    EXPECT_EQ(ChildProcess::run("/no/such/program", {}, &output, 1000, nullptr, &err), -1);
    EXPECT_EQ(err, fnfErr);
    EXPECT_EQ(ChildProcess::findOnPath("sh").empty(), false);
    EXPECT_EQ(ChildProcess::findOnPath("no-such-program-here"), "");

    bool timedOut = false;
    EXPECT_EQ(ChildProcess::run("/bin/sleep", {"30"}, &output, 200, &timedOut), 128 + 15);
    EXPECT_TRUE(timedOut);
}

TEST(ChildProcess, StandardInputGivenOrEmpty)
{
    // Larger than a pipe holds: the child reads it all while we read its
    // output, and a child that reads nothing does not block the start.
    std::string input(300000, 'q');
    input += "\n.\nend";
    for (const char* script : {"wc -c", "exit 0"}) {
        ChildProcess child;
        child.setStandardInput(input);
        ASSERT_EQ(child.start("/bin/sh", {"-c", script}), noErr);
        std::string output;
        while (child.read(&output, 5000) != ChildProcess::ReadResult::End) {
        }
        EXPECT_EQ(child.wait(), 0);
        EXPECT_EQ(output, std::string(script) == "wc -c" ? std::to_string(input.size()) + "\n" : "");
    }
    // Without input the child reads an empty standard input.
    std::string output;
    EXPECT_EQ(ChildProcess::run("/bin/sh", {"-c", "wc -c"}, &output, 10000), 0);
    EXPECT_EQ(output, "0\n");
}

TEST(ChildProcess, KillEndsTheWholeGroupAndReaps)
{
    TestTempDir dir;
    const std::string pidFile = dir.file("grandchild");
    ChildProcess child;
    ASSERT_EQ(child.start("/bin/sh", {"-c", "trap '' TERM; sleep 300 & echo $! > " + pidFile + "; echo ready; wait"}),
              noErr);
    std::string output;
    while (output.find("ready") == std::string::npos)
        ASSERT_NE(child.read(&output, 5000), ChildProcess::ReadResult::End);
    // The shell ignores SIGTERM: it is killed after the grace time.
    EXPECT_EQ(child.kill(200), 128 + 9);
    EXPECT_FALSE(child.running());
    QFile file(QString::fromStdString(pidFile));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString grandchild = QString::fromLatin1(file.readAll()).trimmed();
    EXPECT_TRUE(GoneWithin(grandchild, 2));
    EXPECT_EQ(child.read(&output, 10), ChildProcess::ReadResult::End);
}

// A process killed outright (nothing of it runs to end its children) while
// a worker thread of it waits on a child: the child ends with it.
TEST(ChildProcess, EndsWithAKilledParent)
{
    TestTempDir dir;
    const std::string pidFile = dir.file("child");
    const pid_t parent = ::fork();
    ASSERT_GE(parent, 0);
    if (parent == 0) {
        std::thread worker([&pidFile] {
            ChildProcess child;
            if (child.start("/bin/sleep", {"300"}) != noErr)
                std::_Exit(1);
            std::ofstream(pidFile) << child.pid() << std::endl;
            std::raise(SIGKILL);
        });
        worker.join();
        std::_Exit(2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(parent, &status, 0), parent);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    QFile file(QString::fromStdString(pidFile));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString child = QString::fromLatin1(file.readAll()).trimmed();
    ASSERT_FALSE(child.isEmpty());
    const bool gone = GoneWithin(child, 10);
    if (!gone)
        ::kill(child.toInt(), SIGKILL);
    EXPECT_TRUE(gone) << "the child outlived its killed parent";
}

}  // namespace
