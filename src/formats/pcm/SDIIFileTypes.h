#pragma once

#include "MacTypes.h"

#include <QString>

// Registers the Sound Designer II ('Sd2f') and Dyaxis MacMix ('MMIX')
// descriptors (each beside its class).
void RegisterSDIIFileTypes();

// The channel count of a Sound Designer II file (0: not one; a negative
// code when it cannot be read).
SInt32 ProbeSDIIChannels(const QString& path);
