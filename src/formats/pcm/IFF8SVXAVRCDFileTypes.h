// Registration of the Amiga IFF 8SVX ('8SVX'), AVR ('.AVR') and audio CD
// image ('IDAT') formats: their descriptors (each beside its class) and the
// detection they name.  Call once at start-up, before any worker thread
// runs; calling it again is harmless.
#pragma once

#include "MacTypes.h"

#include <QString>
#include <istream>

void RegisterIFF8SVXAVRCDFileTypes();

// The header probes: the channel count of a file of the format, 0 for
// another file, a negative code when it cannot be read.
SInt32 ProbeIFF8SVXChannels(const QString& path);
SInt32 ProbeAVRChannels(const QString& path);

// The header sniffers.
OSErr Sniff8SVX(const UInt8* header, std::istream& in, OSType creator, OSType* type);
OSErr SniffAVR(const UInt8* header, std::istream& in, OSType creator, OSType* type);
