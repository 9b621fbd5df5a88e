// Ctrl-C (SIGINT), SIGTERM and a closed terminal (SIGHUP; not when it is
// ignored, as under nohup) during a batch: the signal handler only sets a
// flag; the main thread looks at it between its progress polls and then
// cancels the batch the way the progress window's Cancel button does.  A
// second signal of the same kind ends the process at once (the handler
// puts the default action back).  Reading a file that waits for its writer
// (a named pipe given as the conversions file) stops at a signal as well.
#pragma once

class InterruptWatcher {
public:
    // Installs the handlers; the destructor restores the earlier ones.
    InterruptWatcher();
    ~InterruptWatcher();
    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

    // A signal arrived since the handlers were installed.
    static bool interrupted();
    // The number of the first signal that arrived, 0 when none.
    static int signalNumber();
};
