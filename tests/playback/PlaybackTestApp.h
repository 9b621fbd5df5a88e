// The application object and the registered file types that the playback
// tests' players and files need, made once for the test program.
#pragma once

#include "EngineStartup.h"

#include <QCoreApplication>

inline void StartPlaybackTestApp()
{
    static int argc = 1;
    static char name[] = "test_playback";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
    EngineStartup::registerFileTypes();
}
