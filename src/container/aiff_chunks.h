// The chunk pieces the AIFF family (AIFF, AIFF-C, Dawn and Sonic AIFF) reads
// and writes alike: the chunk walk's options, the FORM header, 'COMM',
// the sampler fields and loops of 'INST', and the entries of 'MARK'.
// All numbers are big-endian.
#pragma once

#include "ChunkReader.h"
#include "error_codes.h"
#include "SoundFileRecords.h"

#include <cstddef>
#include <functional>
#include <string>

namespace aiff_chunks {

constexpr OSType kFORM = ChunkID("FORM");
// The form types; each is also its format's type code.
constexpr OSType kAIFF = ChunkID("AIFF");
constexpr OSType kAIFC = ChunkID("AIFC");
constexpr OSType kCOMM = ChunkID("COMM");
constexpr OSType kSSND = ChunkID("SSND");
constexpr OSType kMARK = ChunkID("MARK");
constexpr OSType kINST = ChunkID("INST");
constexpr OSType kAPPL = ChunkID("APPL");
constexpr OSType kSSYS = ChunkID("SSYS");

// The FORM size written until the file is closed.
constexpr UInt32 kPlaceholderFORMSize = 0x7FFFFFFF;

// The walk of the family: big-endian, -22204 after 100 chunks, the sound
// data in 'SSND'.
ChunkWalkOptions WalkOptions();

// Reads the FORM header of an open fork: *formEnd gets where the chunk walk
// stops.  -22004 when the file is not a 'FORM' (or is shorter than 12 bytes).
OSErr ReadFORMHeader(SInt16 refNum, SInt64* formEnd);

// Loads the body of a chunk found in an open fork (at most maxBytes of it
// when maxBytes >= 0).
OSErr ReadBody(SInt16 refNum, const ChunkInfo& info, ChunkView* body, SInt64 maxBytes = -1);
// The step after a search for a chunk that gave `findErr` and `info`: a
// chunk that is not there is noErr with *found false; a found one has its
// body loaded (ReadBody) and *found set once that succeeded.
OSErr ReadFoundBody(SInt16 refNum, OSErr findErr, const ChunkInfo& info, ChunkView* body, bool* found,
                    SInt64 maxBytes = -1);
// The same for a chunk the file must hold: `missingErr` when it is not
// there or its body is shorter than `minBytes`.
OSErr ReadRequiredBody(SInt16 refNum, OSErr findErr, const ChunkInfo& info, ChunkView* body, std::size_t minBytes,
                       OSErr missingErr, SInt64 maxBytes = -1);
// The sample data of the 'SSND' found with `findErr` and `info`: *start
// gets where it begins (after the offset and block size fields, and the
// offset), at most the chunk's end.  kAIFFNoSSNDErr when the chunk is not
// there.
OSErr LocateSSNDData(SInt16 refNum, OSErr findErr, const ChunkInfo& info, SInt64* start);

// "FORM", the placeholder size and the form type.
void PutFORMHeader(ChunkBuilder* chunk, OSType formType);
// A chunk of `size` zero bytes (its body is written at close).
void PutEmptyChunk(ChunkBuilder* chunk, OSType id, UInt32 size);
// 'SSND' with size, offset and block size 0: the samples follow it.
void PutEmptySSND(ChunkBuilder* chunk);

// The fields every 'COMM' starts with (18 bytes).
struct COMMFields {
    SInt16 channels = 0;
    UInt32 frames = 0;
    SInt16 bits = 0;
    UInt8 rate[10] = {};
};
// Reads them; the caller has checked that the body holds 18 bytes.
void GetCOMMFields(ChunkView& body, COMMFields* comm);
// Appends the 'COMM' header (with `bodySize`) and the common fields.
void PutCOMM(ChunkBuilder* chunk, UInt32 bodySize, UInt16 channels, UInt32 frames, UInt16 bits, double rate);
// Whether the family reads a 'COMM' shape: channels >= 1, 1 to 32 bits.
bool ShapeReadable(SInt16 channels, SInt16 bits);
// A word length rounded up to whole bytes (12 -> 16, 20 -> 24).
inline SInt16 WholeByteBits(SInt16 bits) { return SInt16((bits + 7) / 8 * 8); }

// The sampler fields that start 'INST' (8 bytes; the caller checks them).
void GetINSTSampler(ChunkView& body, SFTSamplerInfo* info);
// One of the two loops of 'INST' (6 bytes): play mode and its markers.
struct INSTLoop {
    SInt16 mode = 0;
    UInt16 beginID = 0;
    UInt16 endID = 0;
};
INSTLoop GetINSTLoop(ChunkView& body);

// One 'MARK' entry.
struct MARKEntry {
    UInt16 id = 0;
    UInt32 position = 0;
    std::string name;
};
// The entries of a 'MARK' body: the count, then entries while 7 bytes
// remain; `take` returns false to stop.
void ForEachMARKEntry(ChunkView& body, const std::function<bool(const MARKEntry&)>& take);
// A marker's or region's name (Pascal string) from text cut to 31 bytes.
void SetName(Str31 name, const std::string& text);

} // namespace aiff_chunks
