// One outside program run as a child process: started from an argument
// vector (never through a shell), its standard output and standard error
// read through one pipe, its standard input /dev/null (or the bytes given
// with setStandardInput).  The child leads a
// process group of its own, so that ending it also ends whatever it
// started, and a Ctrl-C at the terminal reaches only this program, which
// decides.  It ends (SIGKILL) when the thread that started it ends, however
// that ends: a killed batch leaves no child that goes on writing its files.
//
// Used from one thread at a time.  The destructor ends and reaps a child
// that is still running.
#pragma once

#include "MacTypes.h"

#include <sys/types.h>

#include <string>
#include <vector>

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `program` (a path) with `arguments` (argv[1...]; argv[0] is
    // the program).  fnfErr when there is no such program, permErr when it
    // cannot be run, another mapped errno when the start fails.
    OSErr start(const std::string& program, const std::vector<std::string>& arguments);
    // What the next start's child reads on its standard input (kept in an
    // anonymous file, so that a child that reads nothing never blocks us).
    void setStandardInput(std::string data)
    {
        input_ = std::move(data);
        hasInput_ = true;
    }

    // The file at `path` handed to the next start's child as an open
    // descriptor (OpenFileDescriptor: a file this process made goes by the
    // descriptor that made it, never by its name; `writing`: read and
    // write), numbered from 3 on in the child: the name the child opens it
    // by ("/dev/fd/3", ...), for its arguments.  Empty, with *err set, when
    // the file cannot be opened.
    std::string handOver(const std::string& path, bool writing, OSErr* err);

    enum class ReadResult { Data, Timeout, End };
    // Waits up to `timeoutMs` for output and appends what arrived to
    // *output: Data when something was read, Timeout when nothing came,
    // End when the child closed its output (or none was started).
    ReadResult read(std::string* output, int timeoutMs);

    // Whether the child has ended, waiting up to `timeoutMs` (-1: as long as
    // it takes); it is not reaped.
    bool exited(int timeoutMs);
    // Reaps an ended child (waiting for it when it has not ended), after
    // ending what it left running in its group.  Its exit status (0 to
    // 255), or 128 + the signal that ended it; -1 when no child was started.
    int reap();
    // exited(-1), then reap().
    int wait();

    // Ends the child's process group: SIGTERM, then SIGKILL when it has not
    // ended within `graceMs`; reaps the child and closes the pipe.  Returns
    // the status as wait() gives it.
    int kill(int graceMs = 500);

    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0 && !reaped_; }

    // Runs a program to its end or to `timeoutMs` (then ends it): its
    // output in *output, the status as wait() gives it, *timedOut set when
    // the time ran out.  A program that cannot be started gives -1 and
    // *startError.
    static int run(const std::string& program, const std::vector<std::string>& arguments, std::string* output,
                   int timeoutMs, bool* timedOut = nullptr, OSErr* startError = nullptr);

    // The first executable file named `name` in the folders of the PATH
    // environment variable; empty when there is none.
    static std::string findOnPath(const std::string& name);

    // Whether `path` names an executable regular file.
    static bool isExecutableFile(const std::string& path);

private:
    void closePipe();
    int statusOf(int rawStatus) const;

    void closeHandedOver();

    std::string input_;
    bool hasInput_ = false;
    std::vector<int> handed_;  // handed to the next child, in order
    pid_t pid_ = -1;
    int pipe_ = -1;
    bool reaped_ = false;
    int status_ = -1;
};
