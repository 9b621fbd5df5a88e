#include "InterruptWatcher.h"

#include "PropertyList.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t gSignal = 0;

using Handler = void (*)(int);
Handler gPreviousInt = SIG_DFL;
Handler gPreviousTerm = SIG_DFL;
Handler gPreviousHangUp = SIG_DFL;

extern "C" void OnInterrupt(int signal)
{
    if (gSignal == 0)
        gSignal = signal;
    // The next one is not caught.
    std::signal(signal, SIG_DFL);
}

}  // namespace

InterruptWatcher::InterruptWatcher()
{
    gSignal = 0;
    gPreviousInt = std::signal(SIGINT, OnInterrupt);
    gPreviousTerm = std::signal(SIGTERM, OnInterrupt);
    // A closed terminal ends the batch as SIGTERM does, unless the hang-up
    // was to be ignored (nohup).
    gPreviousHangUp = std::signal(SIGHUP, SIG_IGN);
    if (gPreviousHangUp != SIG_IGN)
        std::signal(SIGHUP, OnInterrupt);
    // A file read while waiting for its writer stops waiting too.
    PropertyList::setWaitStop(&InterruptWatcher::interrupted);
}

InterruptWatcher::~InterruptWatcher()
{
    PropertyList::setWaitStop({});
    std::signal(SIGINT, gPreviousInt == SIG_ERR ? SIG_DFL : gPreviousInt);
    std::signal(SIGTERM, gPreviousTerm == SIG_ERR ? SIG_DFL : gPreviousTerm);
    std::signal(SIGHUP, gPreviousHangUp == SIG_ERR ? SIG_DFL : gPreviousHangUp);
}

bool InterruptWatcher::interrupted()
{
    return gSignal != 0;
}

int InterruptWatcher::signalNumber()
{
    return int(gSignal);
}
