// RIFFChunkList: the chunks of a RIFF file, as one walk finds them.
//
// Every reader of a RIFF WAVE file (the WAVE classes and Broadcast Wave, MS
// ADPCM, G.729, type detection, the media layer's frame count) walks the
// file once through a list and looks its chunks up there; the readers of
// the chunks themselves (wave_chunks) take the list.  The walk is the
// family's (riff_chunks::WalkOptions): little-endian sizes taken as
// unsigned, one pad byte after an odd body, the chunk at offset 12 and at
// most 100 after it, bounded by the RIFF size (by the end of the file when
// that size is 0, 0xFFFFFFFF or passes it); bodies are cut to what the
// file holds, and a size of 0xFFFFFFFF (or a 'data' size of 0 in a RIFF of
// unknown size) runs to the end of the file and ends the walk.
#pragma once

#include "ChunkReader.h"

#include <vector>

class RIFFChunkList {
public:
    // Walks the file `source` reads; the source is kept for the body reads
    // and must outlive the list.  noErr; -22004 when the file is shorter
    // than its 12-byte header; or the source's code of a failed read (the
    // chunks found before it stay listed).
    OSErr Walk(ChunkSource& source);

    FourCharCode ContainerID() const { return m_containerID; }
    FourCharCode FormType() const { return m_formType; }
    // Where the walk stops (see above).
    SInt64 ContainerEnd() const { return m_containerEnd; }
    // Every chunk in file order.
    const std::vector<ChunkInfo>& Chunks() const { return m_chunks; }

    // The occurrence-th (from 1) chunk `id`: noErr, or -22004 when the walk
    // did not meet it.
    OSErr Find(FourCharCode id, ChunkInfo* info, UInt32 occurrence = 1) const;
    bool Has(FourCharCode id) const;
    // A chunk's body (at most maxBytes of it when maxBytes >= 0), in a view
    // whose reads past its end throw `overrunErr`.
    OSErr ReadBody(const ChunkInfo& info, ChunkView* view, SInt64 maxBytes = -1,
                   OSErr overrunErr = kCorruptChunkSizeErr) const;
    // The body of the first chunk `id` (at most maxBytes of it): -22004
    // when the walk did not meet one.
    OSErr ReadFirst(FourCharCode id, ChunkView* view, SInt64 maxBytes = -1) const;

private:
    ChunkSource* m_source = nullptr;
    std::vector<ChunkInfo> m_chunks;
    FourCharCode m_containerID = 0;
    FourCharCode m_formType = 0;
    SInt64 m_containerEnd = 0;
};
