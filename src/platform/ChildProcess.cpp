#include "ChildProcess.h"

#include "FileOperations.h"
#include "MacErrorMapping.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

ChildProcess::~ChildProcess()
{
    if (running())
        kill(100);
    closePipe();
}

void ChildProcess::closePipe()
{
    if (pipe_ >= 0) {
        ::close(pipe_);
        pipe_ = -1;
    }
}

OSErr ChildProcess::start(const std::string& program, const std::vector<std::string>& arguments)
{
    if (pid_ > 0)
        return paramErr;
    int input = -1;
    if (hasInput_) {
        input = ::memfd_create("child-input", MFD_CLOEXEC);
        if (input < 0)
            return MacErrorFromLastErrno();
        if (!WriteAll(input, input_.data(), input_.size()) || ::lseek(input, 0, SEEK_SET) != 0) {
            const OSErr err = MacErrorFromLastErrno();
            ::close(input);
            return err;
        }
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        const OSErr err = MacErrorFromLastErrno();
        if (input >= 0)
            ::close(input);
        return err;
    }

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    if (input >= 0)
        posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    // A group of its own; the signals this program handles or ignores are
    // put back to their defaults, and none is blocked.
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGINT, SIGTERM, SIGPIPE, SIGHUP, SIGQUIT})
        sigaddset(&defaults, signal);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes,
                             short(POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK));

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int err = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(fds[1]);
    if (input >= 0)
        ::close(input);
    if (err != 0) {
        ::close(fds[0]);
        return err == ENOENT ? fnfErr : MacErrorFromErrno(err);
    }
    pid_ = pid;
    pipe_ = fds[0];
    reaped_ = false;
    status_ = -1;
    return noErr;
}

ChildProcess::ReadResult ChildProcess::read(std::string* output, int timeoutMs)
{
    if (pipe_ < 0)
        return ReadResult::End;
    pollfd entry{pipe_, POLLIN, 0};
    const int ready = ::poll(&entry, 1, timeoutMs);
    if (ready == 0)
        return ReadResult::Timeout;
    if (ready < 0)
        return errno == EINTR ? ReadResult::Timeout : ReadResult::End;
    char buffer[4096];
    const ssize_t got = ::read(pipe_, buffer, sizeof buffer);
    if (got > 0) {
        output->append(buffer, size_t(got));
        return ReadResult::Data;
    }
    if (got < 0 && (errno == EINTR || errno == EAGAIN))
        return ReadResult::Timeout;
    closePipe();
    return ReadResult::End;
}

int ChildProcess::statusOf(int rawStatus) const
{
    if (WIFEXITED(rawStatus))
        return WEXITSTATUS(rawStatus);
    if (WIFSIGNALED(rawStatus))
        return 128 + WTERMSIG(rawStatus);
    return -1;
}

bool ChildProcess::exited(int timeoutMs)
{
    if (pid_ <= 0 || reaped_)
        return true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        // Looked at without reaping: while the child is a zombie its group
        // id stays ours, so the group can still be signalled safely.
        siginfo_t info{};
        const int r = ::waitid(P_PID, id_t(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
        if (r == 0 && info.si_pid == pid_)
            return true;
        if (r < 0 && errno != EINTR)
            return true;  // nothing to wait for
        if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int ChildProcess::reap()
{
    if (pid_ <= 0)
        return -1;
    if (!reaped_) {
        // Whatever the child started and left running ends with it.
        ::kill(-pid_, SIGKILL);
        int raw = 0;
        pid_t done;
        do {
            done = ::waitpid(pid_, &raw, 0);
        } while (done < 0 && errno == EINTR);
        reaped_ = true;
        status_ = done == pid_ ? statusOf(raw) : -1;
    }
    return status_;
}

int ChildProcess::wait()
{
    exited(-1);
    return reap();
}

int ChildProcess::kill(int graceMs)
{
    if (pid_ <= 0)
        return -1;
    if (!reaped_) {
        ::kill(-pid_, SIGTERM);
        if (!exited(graceMs))
            ::kill(-pid_, SIGKILL);
    }
    const int status = reap();
    closePipe();
    return status;
}

int ChildProcess::run(const std::string& program, const std::vector<std::string>& arguments, std::string* output,
                      int timeoutMs, bool* timedOut, OSErr* startError)
{
    if (timedOut)
        *timedOut = false;
    ChildProcess child;
    const OSErr err = child.start(program, arguments);
    if (startError)
        *startError = err;
    if (err != noErr)
        return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            if (timedOut)
                *timedOut = true;
            return child.kill(100);
        }
        if (child.read(output, int(std::min<long long>(left.count(), 100))) == ReadResult::End)
            break;
    }
    if (!child.exited(std::max(0, int(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       deadline - std::chrono::steady_clock::now()).count())))) {
        if (timedOut)
            *timedOut = true;
        return child.kill(100);
    }
    return child.reap();
}

bool ChildProcess::isExecutableFile(const std::string& path)
{
    struct stat info;
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::string ChildProcess::findOnPath(const std::string& name)
{
    if (name.empty() || name.find('/') != std::string::npos)
        return std::string();
    const char* path = std::getenv("PATH");
    if (!path)
        return std::string();
    const std::string folders(path);
    size_t begin = 0;
    while (begin <= folders.size()) {
        size_t end = folders.find(':', begin);
        if (end == std::string::npos)
            end = folders.size();
        // An empty entry is the current folder.
        const std::string candidate = (end > begin ? folders.substr(begin, end - begin) : std::string(".")) + "/" + name;
        if (isExecutableFile(candidate))
            return candidate;
        begin = end + 1;
    }
    return std::string();
}
