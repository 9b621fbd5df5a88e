// Registration of the Creative Voice types ('VOC ', 'VOC2'): their
// descriptors (each beside its class), the block walk that type detection
// uses and the sniffer the first names for both.
#pragma once

#include "MacTypes.h"

#include <istream>

void RegisterVOCFileTypes();

// The Creative Voice header sniffer: it names the type by the blocks the
// file declares its format in.
OSErr SniffVOC(const UInt8* header, std::istream& in, OSType creator, OSType* type);
