// What the movie source reads of MPEG audio frames itself: their sizes,
// the checksum of Layer I frames, short raw streams.
#pragma once

#include "MacTypes.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace movie_input {

// How late an MPEG Layer I or II decoder gives back its encoder's input: the
// analysis and synthesis filterbanks' delay.
constexpr UInt64 kFilterbankLag = 481;

// The length in bytes of the MPEG audio frame whose 4-byte header `p`
// holds; 0 for a free-format frame or bytes that are no frame header.
std::size_t MPEGFrameBytes(const uint8_t* p);

// Whether the checksum of an MPEG Layer I frame (`size` bytes) holds, as the
// standard defines it: a CRC-16 (polynomial 0x8005, starting from all ones)
// over the header's last two bytes and the bit allocation that follows the
// checksum.  In joint stereo the allocation of the subbands from the bound
// on is sent once for both channels, so fewer bits are protected there than
// in plain stereo.  True for a frame that carries no checksum.
bool LayerOneChecksumHolds(const uint8_t* frame, int size);

// The whole frames of a short raw MPEG audio stream at `path`: frames of
// one version, layer and rate from its first byte to its last, or to a
// last frame cut short (*cut); -1 for any other file.  `header` (may be
// null) gets the first frame's header.
int ShortMPEGStreamFrames(const std::string& path, bool* cut, uint8_t* header);

// Whether the file at `path` is a short raw MPEG audio stream of two or
// more whole frames (the content alone then tells, however low the
// libraries score it).
bool IsShortMPEGStream(const std::string& path);

} // namespace movie_input
