// The program's own region chunk 'regn': a u32 count, then one 88-byte entry
// per region: two reserved 64-bit fields, start, end, sync frame, time stamp
// and region time stamp (signed 64-bit each), and the name as a Pascal string
// in 32 bytes.  The numbers follow the container's byte order (big-endian in
// the AIFF family, little-endian in a RIFF container).  The time stamp of the
// first entry is the file's own time stamp when the file has one.
#pragma once

#include "ChunkReader.h"

class CSoundFile;

constexpr UInt32 kRegnEntrySize = 88;

// The whole chunk ('regn', size, count, entries) for the file's regions.
void BuildRegnChunk(const CSoundFile& file, ChunkBuilder* chunk);

// Adds the regions of a 'regn' chunk body to `file`:
//   - entry n (from 1) gets the region ID n; frames are the low 32 bits of
//     their fields, the time stamp is taken as 64 bits;
//   - with "Ignore Regions Containing Whole File" on, a region covering the
//     whole file, or one with a negative start, a start after its end or an
//     end past the frame count, is left out and its time stamp becomes the
//     file's time stamp;
//   - with "Skip Bad Region" off, the names are made unique afterwards;
//   - a chunk without entries adds the whole-file region (AddFileRegion).
// A count larger than the body holds is cut to the entries present.  The
// first failure of AddRegion ends reading and is returned.
OSErr ReadRegnBody(CSoundFile& file, ChunkView& body);
