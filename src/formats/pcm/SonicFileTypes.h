// Registration of the Sonic types with the sound-file core: the
// descriptors of 'SAIF' (CSonicAIFFFile) and 'SpSc' (CSonicSplitFile), each
// beside its class, and the detection of a Sonic AIFF.
#pragma once

#include "MacTypes.h"

#include <istream>

void RegisterSonicFileTypes();

// An AIFF whose first "APPL" chunk has the signature "SSYS".
bool IsSonicAIFF(std::istream& in);

// The header sniffer of an AIFF made by a Sonic system (its creator, or
// IsSonicAIFF).
OSErr SniffSonicAIFF(const UInt8* header, std::istream& in, OSType creator, OSType* type);
