// Registration of the NeXT/Sun formats with the sound-file core: the
// descriptors of 'NxTS' (linear), 'NSAL' (A-law) and 'ulaw' (mu-law), each
// beside its class, and the sniffer the first names for all three.
#pragma once

#include "MacTypes.h"

#include <istream>

void RegisterNeXTFileTypes();

// The ".snd" header sniffer: it names the linear, A-law and mu-law types.
OSErr SniffNeXT(const UInt8* header, std::istream& in, OSType creator, OSType* type);
