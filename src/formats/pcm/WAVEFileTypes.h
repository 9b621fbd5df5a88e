// Registration of the WAVE family with the sound-file core: the factories
// of 'WAVE', 'WVau', 'WVal', 'WVfl' and 'BWLN', the channel-count probes
// that type detection asks for 'WAVE', 'BWLN' and 'WVfl', and the RIFF
// chunk finder.
#pragma once

#include "MacTypes.h"

#include <istream>

void RegisterWAVEFileTypes();

// The RIFF/WAVE step of type detection: `header` is the file's first 24
// bytes.  'BWLN' (with a "bext" chunk) or 'WAVE' for tag 1 and 0xFFFE,
// format_type_codes::kMSADPCM 2, 'WVfl' 3, 'WVal' 6, 'WVau' 7, kG729 0x42 and 0x83; -22008 for other
// tags; the chunk search's code when there is no "fmt " chunk.
OSErr ProbeRIFFType(OSType* type, std::istream& in, const UInt8 header[24]);
