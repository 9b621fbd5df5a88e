// The codes of the media layer's vocabulary that its users test: the file
// formats a source's container is reported as (MovieSource::FileFormat,
// the extended audio file's type) and the companded and ADPCM data formats
// of a track or an export (MovieSource::DataFormat, the export's
// compression).
#pragma once

#include "MacTypes.h"

namespace media_codes {

// File formats.
constexpr OSType kAIFC = FOUR_CHAR_CODE("AIFC");
constexpr OSType kWAVE = FOUR_CHAR_CODE("WAVE");
constexpr OSType kCAF = FOUR_CHAR_CODE("caff");
constexpr OSType kMovie = FOUR_CHAR_CODE("MooV");

// Data formats.
constexpr OSType kALaw = FOUR_CHAR_CODE("alaw");
constexpr OSType kULaw = FOUR_CHAR_CODE("ulaw");
constexpr OSType kIMA4 = FOUR_CHAR_CODE("ima4");

} // namespace media_codes
