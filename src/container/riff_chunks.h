// The chunk walk of the RIFF family (WAVE, and the coded formats kept in
// a WAVE container: MS ADPCM, G.729, Broadcast Wave MPEG): the container
// IDs and the walk's options.  RIFFChunkList walks a file with them once;
// wave_chunks reads the chunks.  All numbers are little-endian; chunk
// sizes are unsigned 32-bit (a data chunk of 2 to 4 GiB is valid).
#pragma once

#include "ChunkReader.h"

namespace riff_chunks {

constexpr FourCharCode kRIFF = ChunkID("RIFF");
constexpr FourCharCode kWAVE = ChunkID("WAVE");
constexpr FourCharCode kData = ChunkID("data");

// The family's walk: little-endian, sizes unsigned, -22004 after the
// first chunk and 100 more without a match, the sound data in 'data'.
ChunkWalkOptions WalkOptions();

} // namespace riff_chunks
