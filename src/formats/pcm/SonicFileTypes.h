// Registration of the Sonic types with the sound-file core: the factories
// of 'SAIF' (CSonicAIFFFile) and 'SpSc' (CSonicSplitFile) and the channel
// probe that type detection and set grouping ask for 'SAIF'.
#pragma once

#include <istream>

void RegisterSonicFileTypes();

// An AIFF whose first "APPL" chunk has the signature "SSYS".
bool IsSonicAIFF(std::istream& in);
