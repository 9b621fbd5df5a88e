// The chunk walk of the RIFF family (WAVE, and the coded formats kept in
// a WAVE container: MS ADPCM, G.729, Broadcast Wave MPEG): the container
// IDs, the walk's options and the chunk search (the chunks themselves are
// wave_chunks').  All numbers are little-endian;
// chunk sizes are unsigned 32-bit (a data chunk of 2 to 4 GiB is valid).
#pragma once

#include "ChunkReader.h"

namespace riff_chunks {

constexpr FourCharCode kRIFF = ChunkID("RIFF");
constexpr FourCharCode kWAVE = ChunkID("WAVE");
constexpr FourCharCode kData = ChunkID("data");

// The family's walk: little-endian, sizes unsigned, -22004 after the
// first chunk and 100 more without a match, the sound data in 'data'.
ChunkWalkOptions WalkOptions();

// Every chunk of a RIFF file whose header `source` can read, in file
// order, with the family's options and these limits: at most `maxChunks`
// chunks, the walk bounded by the RIFF size (or by the end of the file
// when `toFileEnd`).  `visit` returns false to stop.  noErr at the end of
// the walk or after `maxChunks` chunks; otherwise the walk's codes
// (-22004 when the file is shorter than its 12-byte header) or the
// source's own.
OSErr ForEachChunk(ChunkSource& source, int maxChunks, bool toFileEnd,
                   const std::function<bool(const ChunkInfo&)>& visit);

} // namespace riff_chunks
