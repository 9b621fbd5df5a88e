#include "InterruptWatcher.h"

#include "PropertyList.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t gSignal = 0;

using Handler = void (*)(int);
Handler gPreviousInt = SIG_DFL;
Handler gPreviousTerm = SIG_DFL;

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
    // A file read while waiting for its writer stops waiting too.
    PropertyList::setWaitStop(&InterruptWatcher::interrupted);
}

InterruptWatcher::~InterruptWatcher()
{
    PropertyList::setWaitStop({});
    std::signal(SIGINT, gPreviousInt == SIG_ERR ? SIG_DFL : gPreviousInt);
    std::signal(SIGTERM, gPreviousTerm == SIG_ERR ? SIG_DFL : gPreviousTerm);
}

bool InterruptWatcher::interrupted()
{
    return gSignal != 0;
}

int InterruptWatcher::signalNumber()
{
    return int(gSignal);
}
