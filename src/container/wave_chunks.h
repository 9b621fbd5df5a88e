// The chunks every WAVE-based type reads and writes alike (plain WAVE and
// its companded and float variants, Broadcast Wave linear and MPEG, MS
// ADPCM, G.729, and the media layer's frame count): the format chunk 'fmt '
// (plain, with extra bytes, and the extensible form), 'fact', the Broadcast
// Wave 'bext' and the annotation pair 'cue ' / 'LIST'-'adtl'.  Each has one
// reader and one writer here; the readers find their chunks in the list
// of one walk over the file (RIFFChunkList), in whatever order the file
// holds them.  The classes keep only what they make of the fields.  All
// numbers are little-endian.
#pragma once

#include "ChunkReader.h"
#include "RIFFChunkList.h"
#include "error_codes.h"
#include "riff_chunks.h"
#include "SoundFileRecords.h"
#include "bext_origin.h"

#include <QByteArray>

class CSoundFile;

#include <cstddef>
#include <functional>
#include <vector>

// Format tags (and the first word of the extensible subformat identifiers).
enum : UInt16 {
    kWAVEFormatPCM = 1,
    kWAVEFormatMSADPCM = 2,
    kWAVEFormatFloat = 3,
    kWAVEFormatALaw = 6,
    kWAVEFormatMuLaw = 7,
    kWAVEFormatG729 = 0x42,
    kWAVEFormatMPEG = 0x50,
    kWAVEFormatG729Alt = 0x83,
    kWAVEFormatExtensible = 0xFFFE,
};

namespace wave_chunks {

constexpr FourCharCode kFmt = ChunkID("fmt ");
constexpr FourCharCode kFmtCR = 0x666D740D;  // "fmt" and a carriage return
constexpr FourCharCode kFact = ChunkID("fact");
constexpr FourCharCode kBext = ChunkID("bext");
constexpr FourCharCode kCue = ChunkID("cue ");
constexpr FourCharCode kList = ChunkID("LIST");
constexpr FourCharCode kAdtl = ChunkID("adtl");
constexpr FourCharCode kLabl = ChunkID("labl");
constexpr FourCharCode kNote = ChunkID("note");
constexpr FourCharCode kLtxt = ChunkID("ltxt");

// ------------------------------------------------------------------ 'fmt '
// What a format chunk says, with the extensible fields folded in.
struct Format {
    UInt16 tag = 0;            // the format tag as stored
    UInt16 coding = 0;         // tag, or the extensible subformat's first word
    UInt16 channels = 0;
    UInt32 sampleRate = 0;
    UInt32 byteRate = 0;
    UInt16 blockAlign = 0;
    UInt16 bitsPerSample = 0;
    bool extensible = false;   // tag 0xFFFE with the 22-byte extension
    UInt16 validBits = 0;
    UInt32 channelMask = 0;
    // The extra-size word and the bytes after it (all the chunk holds, as
    // some writers' words are wrong); written, with the word giving their
    // count, when hasExtra is set.
    bool hasExtra = false;
    UInt16 extraSize = 0;
    std::vector<UInt8> extra;
};

// Parses a format chunk body; false when it is shorter than 16 bytes.
bool ParseFormat(ChunkView& body, Format* format);
// The format chunk ('fmt ', or "fmt" and a carriage return), at most
// `maxBytes` of its body parsed; *where (may be null) gets the chunk.
// kChunkNotFoundErr when there is none or it is too short; with
// `checkFrames` (every reader but type detection) what CheckFrameLayout
// refuses.  Other codes are the source's.
OSErr ReadFormat(const RIFFChunkList& chunks, Format* format, SInt64 maxBytes = 64, bool checkFrames = true,
                 ChunkInfo* where = nullptr);
// Whether the frame a linear, float or G.711 format describes holds
// together.  A sample takes its word length rounded up to whole bytes (in
// the extensible form the bits per sample are that container, and its
// valid bits may be fewer, never more), and the block alignment is one
// frame: channels x sample bytes.  kWAVEBadBlockAlignErr when the block
// alignment says otherwise, kWAVEValidBitsErr for more valid bits than
// the container; noErr for coded formats (their block is the coder's) and
// for codings the readers refuse as unsupported.
OSErr CheckFrameLayout(const Format& format);
// The extra bytes of the extensible form: valid bits, channel mask and the
// subformat identifier of `coding`.
std::vector<UInt8> ExtensibleExtra(UInt16 validBits, UInt32 mask, UInt16 coding);
// Appends the whole chunk: header, the 16 bytes of fields and, with
// hasExtra, the extra-size word and the extra bytes.
void PutFormat(ChunkBuilder* chunk, const Format& format);

// ------------------------------------------------------------------ 'fact'
// The frame count of 'fact': kChunkNotFoundErr without one,
// kCorruptChunkSizeErr when it holds fewer than 4 bytes.
OSErr ReadFact(const RIFFChunkList& chunks, UInt32* frames);
// Appends 'fact' with a frame count.
void PutFact(ChunkBuilder* chunk, UInt32 frames);

// ------------------------------------------------------------------ 'bext'
constexpr UInt32 kBextBodyBytes = 858;
struct Bext {
    QByteArray description;    // at most 255 bytes are kept
    BextOrigin origin;
    UInt64 timeReference = 0;  // frames
    QByteArray codingHistory;  // at most 256 bytes are kept
};
// One line of coding history: the coding algorithm, the sampling frequency
// and `fields` (word length or bit rate, mode), by this program, and CR LF:
// "A=PCM,F=48000,W=24,M=stereo,T=Quillmarch".
QByteArray CodingHistoryLine(const char* algorithm, UInt32 rate, const QByteArray& fields);
// Appends the 866-byte chunk.
void PutBext(ChunkBuilder* chunk, const Bext& bext);
// The description (up to its first zero byte) and the time reference of a
// chunk body (a short body reads as zeros past its end).
void ParseBext(const ChunkView& body, Bext* bext);
// The file's 'bext': kChunkNotFoundErr without one.
OSErr ReadBext(const RIFFChunkList& chunks, Bext* bext);

// --------------------------------------------------------- 'cue ' / 'adtl'
// One annotation the pair describes, in the order of the list: markers
// (a 'labl' or 'note' of a cue point that starts no region), regions (an
// 'ltxt' of a cue point, named by the first 'labl' of that point), then
// the cue points nothing describes (markers without a name).
struct CueAnnotation {
    bool isRegion = false;
    long number = 0;          // its rank among markers and regions
    UInt32 position = 0;      // the cue point's sample offset
    UInt32 length = 0;        // regions: frames
    Str31 name = {0};         // empty when unnamed
};
// `cue` is the body of 'cue ', `list` the body of 'LIST' after its type
// (empty when the file has no 'adtl').  Counts and sizes are checked
// against the bodies.
std::vector<CueAnnotation> ParseCueList(const ChunkView& cue, const ChunkView& list);
// The annotations of a file: its 'cue ' chunk and its first 'LIST' of type
// 'adtl' (the cue points alone when it has no such list).  None, and
// noErr, without 'cue '; otherwise noErr or the source's code.
OSErr ReadCueList(const RIFFChunkList& chunks, std::vector<CueAnnotation>* annotations);
// The regions the first 'adtl' list describes (its 'ltxt' entries); 0
// without one.
OSErr CountRegionTexts(const RIFFChunkList& chunks, long* count);
// Adds `annotations` to `file`: every marker, with its rank as identifier;
// every region that fits the file (a start from 2^31 on counts as
// negative).  With `ignoreWholeFile` a region of the whole file, or one
// with a negative start, a start after its end or an end past the frame
// count, is left out; without it a negative start makes the region the
// whole file, and one ending before its start or past the frame count is
// left out.  The first failure of AddMarker or AddRegion is returned.
OSErr AddCueAnnotations(CSoundFile& file, const std::vector<CueAnnotation>& annotations, bool ignoreWholeFile);
// The sub-chunks of an 'adtl' list body (after its type): identifier and
// the body as much of it as the list holds.
void ForEachListEntry(const ChunkView& list,
                      const std::function<void(FourCharCode id, const UInt8* body, std::size_t size)>& visit);
// Appends 'cue ' and 'LIST'/'adtl' for markers and regions: a 'labl' per
// marker, with `nameRegions` a 'labl' per region, then an 'ltxt' per
// region.  Nothing when there are neither.
void PutCueList(ChunkBuilder* chunk, const std::vector<SFTMarker>& markers, const std::vector<SFTRegion>& regions,
                bool nameRegions);

} // namespace wave_chunks
