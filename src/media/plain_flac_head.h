// The metadata blocks of a native FLAC file that the movie source can read
// without the media libraries.
#pragma once

#include <cstdint>
#include <string>

namespace movie_input {

// The STREAMINFO body of a native FLAC file (into `info`) whose metadata
// blocks the libraries read as plainly as the file's own reading does:
// STREAMINFO first, of a shape their probe takes with full confidence,
// then only padding, application data, a seek table, pictures and Vorbis
// comments that name no channel mask but the one the libraries give the
// channels anyway (kFlacLayouts).  False for any other file, and for one
// whose blocks do not parse.  *firstFrame gets where the first frame
// begins, after the last block.
bool PlainFlacHead(const std::string& path, uint8_t* info, int64_t* firstFrame);

// True for a native FLAC file that ends inside its metadata blocks: it
// begins "fLaC" and the file ends before a block marked last is whole (a
// file cut short, not one of an unknown format).  *channels (when given)
// gets the channels its STREAMINFO states, 0 when that block is not whole.
bool FlacMetadataCut(const std::string& path, unsigned* channels = nullptr);

} // namespace movie_input
