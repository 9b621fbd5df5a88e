// The type codes that one format family names of another, and that type
// detection names: the linear intermediates of the encoded outputs (made
// through the registry by type), the types a family's header probe hands a
// file on to, the types detection settles on by the file's catalogue type,
// and the set files the batch groups members into.  Each is defined here
// once; the owning family registers its factory under it.
#pragma once

#include "MacTypes.h"

namespace format_type_codes {

// Plain AIFF: the output type of a new conversion.
constexpr OSType kAIFF = FOUR_CHAR_CODE("AIFF");
// The temporary AIFF file (parked linear audio of coded outputs, and the
// conversion's work files).
constexpr OSType kTemp = FOUR_CHAR_CODE("Temp");
// Sound Designer II.
constexpr OSType kSDII = FOUR_CHAR_CODE("Sd2f");
// G.729 in a RIFF file or headerless, and Microsoft ADPCM (RIFF).
constexpr OSType kG729 = FOUR_CHAR_CODE("G729");
constexpr OSType kMSADPCM = FOUR_CHAR_CODE("MSAP");
// AIFF-C with IMA 4:1 samples, and every other input only the movie layer
// reads.
constexpr OSType kAIFCIma4 = FOUR_CHAR_CODE("A1t4");
constexpr OSType kMovie = FOUR_CHAR_CODE("MooV");
// The set files: a split stereo pair of mono files, and a surround set of
// one mono file per channel.
constexpr OSType kSplitSet = FOUR_CHAR_CODE("Splt");
constexpr OSType kSurroundSet = FOUR_CHAR_CODE("Srnd");
// MP3 written through the outside encoder (whose ID3 tags and VBR quality
// the conversion keeps).
constexpr OSType kOutsideEncoderMP3 = FOUR_CHAR_CODE("DMP3");

} // namespace format_type_codes
