// The codes of the media layer's vocabulary that its users test: the file
// formats a source's container is reported as (MovieSource::FileFormat,
// the extended audio file's type) and the companded and ADPCM data formats
// of a track or an export (MovieSource::DataFormat, the export's
// compression).
#pragma once

#include "aiff_chunks.h"
#include "caf_chunks.h"
#include "format_type_codes.h"
#include "riff_chunks.h"

namespace media_codes {

// File formats.
constexpr OSType kAIFC = aiff_chunks::kAIFC;
constexpr OSType kWAVE = riff_chunks::kWAVE;
constexpr OSType kCAF = caf_chunks::kCAFF;
constexpr OSType kMovie = format_type_codes::kMovie;

// Data formats.
constexpr OSType kALaw = FOUR_CHAR_CODE("alaw");
constexpr OSType kULaw = FOUR_CHAR_CODE("ulaw");
constexpr OSType kIMA4 = FOUR_CHAR_CODE("ima4");

} // namespace media_codes
