// Registration of the WAVE family with the sound-file core: the
// descriptors of 'WAVE', 'BWLN', 'WVfl', 'WVau' and 'WVal' (each beside its
// class) and the RIFF chunk finder; and the family's detection, which those
// descriptors name.
#pragma once

#include "MacTypes.h"

#include <QString>
#include <istream>

void RegisterWAVEFileTypes();

// The RIFF/WAVE step of type detection: `header` is the file's first 24
// bytes.  'BWLN' (with a "bext" chunk) or 'WAVE' for tag 1 and 0xFFFE,
// format_type_codes::kMSADPCM 2, 'WVfl' 3, 'WVal' 6, 'WVau' 7, kG729 0x42 and 0x83; -22008 for other
// tags; the chunk search's code when there is no "fmt " chunk.
OSErr ProbeRIFFType(OSType* type, std::istream& in, const UInt8 header[24]);

// The family's detection, for its types' descriptors: the channel count
// of a RIFF file, and the RIFF/WAVE header sniffer (which names the type by
// ProbeRIFFType).
SInt32 ProbeWAVEChannels(const QString& path);
OSErr SniffWAVE(const UInt8* header, std::istream& in, OSType creator, OSType* type);
