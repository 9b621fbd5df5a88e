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
#include <linux/close_range.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// What the child needs, made before it is started.  The child runs in this
// process's memory until its exec (the calling thread waits meanwhile):
// it makes only system calls, and leaves why its exec failed in `error`.
struct ChildPlan {
    const char* program;
    char* const* argv;
    int input;  // its standard input
    int output;  // its standard output and error
    const int* handed;  // descriptors it gets as 3, 4, ... (none of them below 3 + count)
    int handedCount;
    pid_t parent;
    int error;
};

constexpr std::size_t kChildStackBytes = 64 * 1024;

// The child's side of start, from its start to the exec, on a stack of its
// own.  Never returns.  (Not instrumented: it runs on that stack, in memory
// the parent shares.)
__attribute__((no_sanitize("address", "undefined"), noinline)) int ChildMain(void* data)
{
    ChildPlan& plan = *static_cast<ChildPlan*>(data);
    // The child ends with the thread that started it, whatever ends that
    // (SIGKILL too), so that no child of a killed batch goes on writing.  A
    // parent that died before this took effect has left the child to
    // another: then it ends at once.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) == 0) {
        if (::getppid() != plan.parent)
            ::_exit(127);
        // A group of its own, so that ending it ends whatever it starts, and
        // a Ctrl-C at the terminal reaches only this program.
        ::setpgid(0, 0);
        // No handler of ours runs in the child: the signals this program
        // handles go back to their defaults (those the C library keeps for
        // itself cannot be asked), as do those it ignores for itself; others
        // ignored from outside stay so.
        struct sigaction defaults {};
        defaults.sa_handler = SIG_DFL;
        for (int signal = 1; signal < NSIG; ++signal) {
            struct sigaction current {};
            if (::sigaction(signal, nullptr, &current) != 0)
                continue;
            const bool own = current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN;
            if (own || signal == SIGINT || signal == SIGTERM || signal == SIGPIPE || signal == SIGHUP ||
                signal == SIGQUIT)
                ::sigaction(signal, &defaults, nullptr);
        }
        const int from[3] = {plan.input, plan.output, plan.output};
        bool placed = true;
        for (int target = 0; placed && target < 3; ++target) {
            // Kept open across the exec.
            placed = from[target] == target ? ::fcntl(target, F_SETFD, 0) == 0
                                            : ::dup2(from[target], target) == target;
        }
        // The files handed over (their descriptors all lie above the
        // numbers they take).
        for (int i = 0; placed && i < plan.handedCount; ++i)
            placed = ::dup2(plan.handed[i], 3 + i) == 3 + i;
        if (placed) {
            // Of this program's descriptors the child keeps none beyond
            // these.
            ::close_range(unsigned(3 + plan.handedCount), ~0U, CLOSE_RANGE_CLOEXEC);
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            ::execve(plan.program, plan.argv, environ);
        }
    }
    plan.error = errno != 0 ? errno : ENOEXEC;
    ::_exit(127);
}

} // namespace

ChildProcess::~ChildProcess()
{
    if (running())
        kill(100);
    closePipe();
    closeHandedOver();
}

void ChildProcess::closeHandedOver()
{
    for (const int fd : handed_)
        ::close(fd);
    handed_.clear();
}

std::string ChildProcess::handOver(const std::string& path, bool writing, OSErr* err)
{
    int fd = -1;
    OSErr opened = OpenFileDescriptor(path, writing, &fd);
    // Above every number a descriptor handed over takes in the child.
    constexpr int kAbove = 64;
    if (opened == noErr && handed_.size() + 3 >= std::size_t(kAbove))
        opened = tmfoErr;
    if (opened == noErr) {
        const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, kAbove);
        if (high < 0)
            opened = MacErrorFromLastErrno();
        ::close(fd);
        fd = high;
    }
    if (err)
        *err = opened;
    if (opened != noErr)
        return std::string();
    handed_.push_back(fd);
    return "/dev/fd/" + std::to_string(2 + handed_.size());
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
    if (!hasInput_) {
        if ((input = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) < 0)
            return MacErrorFromLastErrno();
    } else {
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
        ::close(input);
        return err;
    }

    // Everything the child needs is made before it starts.
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    void* stack = ::mmap(nullptr, kChildStackBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK,
                         -1, 0);
    if (stack == MAP_FAILED) {
        const OSErr err = MacErrorFromLastErrno();
        ::close(fds[0]);
        ::close(fds[1]);
        ::close(input);
        return err;
    }
    ChildPlan plan{program.c_str(), argv.data(), input, fds[1], handed_.data(), int(handed_.size()), ::getpid(), 0};
    // No signal is handled in the child before it execs: blocked across the
    // start, put back to their defaults in the child, then let through.
    sigset_t all, previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    // This thread waits until the child has exec'd or ended (CLONE_VFORK).
    const pid_t pid = ::clone(&ChildMain, static_cast<char*>(stack) + kChildStackBytes,
                              CLONE_VM | CLONE_VFORK | SIGCHLD, &plan);
    const int cloneErrno = errno;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::munmap(stack, kChildStackBytes);
    ::close(fds[1]);
    ::close(input);
    closeHandedOver();
    int err = pid < 0 ? cloneErrno : plan.error;
    if (pid > 0 && err != 0) {
        // The exec failed: the child has ended; reaped here.
        int raw = 0;
        while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
        }
    }
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
