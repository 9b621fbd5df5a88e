// Registration of the Amiga IFF 8SVX ('8SVX'), AVR ('.AVR') and audio CD
// image ('IDAT') formats: their factories and header probes.  Call once at
// start-up, before any worker thread runs; calling it again is harmless.
#pragma once

#include "MacTypes.h"

#include <QString>

void RegisterIFF8SVXAVRCDFileTypes();

// The header probes: the channel count of a file of the format, 0 for
// another file, a negative code when it cannot be read.
SInt32 ProbeIFF8SVXChannels(const QString& path);
SInt32 ProbeAVRChannels(const QString& path);
