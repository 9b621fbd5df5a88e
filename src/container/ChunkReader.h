// The chunk walk shared by the IFF (big-endian: AIFF, AIFF-C, 8SVX) and
// RIFF (little-endian: WAVE family) formats, and the bounded views their
// chunk parsers read from.
//
// Container layout: 4-byte container ID ('FORM', 'RIFF'), 4-byte size, 4-byte
// form type (aiff_chunks::kAIFF and kAIFC, riff_chunks::kWAVE), then chunks from offset 12: 4-byte ID,
// 4-byte size, body, and one uncounted pad byte after an odd body.
//
// The walk (ChunkReader::Find):
//   - starts at offset 12, looks at that chunk and at most `maxChunks` (100)
//     chunks after it; passing that many without a match gives
//     `tooManyChunksErr` (-22204 for AIFF, -22004 for RIFF);
//   - stops at the container end: the container's size + 8, or the end of
//     the file when that size is 0, 0xFFFFFFFF or passes the end of the
//     file; a header that does not fit before that end means "not found"
//     (-22004);
//   - stepping over a chunk whose size is negative as a 32-bit value gives
//     -22009 ("has corrupt chunksize"), unless the options take sizes as
//     unsigned (RIFF), except 0xFFFFFFFF, which means "to the end of the
//     file" (that chunk is the last one);
//   - a writer that could not seek back (one writing to a pipe) leaves the
//     container's size and that of the chunk holding the sound data (the
//     options' soundChunk) as 0 or 0xFFFFFFFF.  In a container whose size
//     is 0 or 0xFFFFFFFF, a sound chunk of size 0 also runs to the end of
//     the file and ends the walk; ChunkInfo::sizeUnknown tells such a size
//     (and 0xFFFFFFFF) from one that passes the end of a cut file;
//   - a chunk found is described by a ChunkInfo whose body size is cut to
//     what the file holds (so a parser never reads beyond the file);
//   - end-of-file results become -22004; other File Manager errors are
//     returned as they are.
//
// Chunk bodies are read into a ChunkView: a copy of the body's bytes with
// checked readers (get_u16be, get_u32le, get_bytes ...) that throw
// error_code_exception with the view's overrun code (-22009 unless given)
// when a read would pass the end of the body.  Large bodies (sample data)
// are not loaded: their file range (bodyPos, bodySize) is used directly.
//
// Every position and size is 64-bit.
#pragma once

#include "error_codes.h"
#include "MacTypes.h"

#include <cstddef>
#include <cstring>
#include <functional>
#include <istream>
#include <string>
#include <utility>
#include <vector>

// The four-character code of a 4-character string literal ("COMM").
constexpr FourCharCode ChunkID(const char (&text)[5])
{
    return (FourCharCode(UInt8(text[0])) << 24) | (FourCharCode(UInt8(text[1])) << 16) |
           (FourCharCode(UInt8(text[2])) << 8) | FourCharCode(UInt8(text[3]));
}
// The four-character code of a string (the first four bytes; shorter strings
// are padded with spaces).
FourCharCode ChunkIDFromString(const std::string& text);
std::string ChunkIDToString(FourCharCode id);

enum class ChunkByteOrder { BigEndian, LittleEndian };

// ---------------------------------------------------------------- sources
// Where the walk reads from.  ReadAt reads up to `count` bytes at `position`:
// *got gets the number read; fewer than asked gives eofErr.
class ChunkSource {
public:
    virtual ~ChunkSource() = default;
    virtual OSErr ReadAt(SInt64 position, void* buffer, std::size_t count, std::size_t* got) = 0;
    virtual OSErr Length(SInt64* length) = 0;
};

// An open fork (File Manager refNum).  Moves the fork's mark.
class RefNumChunkSource : public ChunkSource {
public:
    explicit RefNumChunkSource(SInt16 refNum) : m_refNum(refNum) {}
    OSErr ReadAt(SInt64 position, void* buffer, std::size_t count, std::size_t* got) override;
    OSErr Length(SInt64* length) override;

private:
    SInt16 m_refNum;
};

// A standard input stream (type detection).  Moves the stream's position and
// clears its error state before each read.
class StreamChunkSource : public ChunkSource {
public:
    explicit StreamChunkSource(std::istream& stream) : m_stream(stream) {}
    OSErr ReadAt(SInt64 position, void* buffer, std::size_t count, std::size_t* got) override;
    OSErr Length(SInt64* length) override;

private:
    std::istream& m_stream;
};

// Bytes in memory (tests and fuzzing); not copied.
class MemoryChunkSource : public ChunkSource {
public:
    MemoryChunkSource(const void* data, std::size_t size)
        : m_data(static_cast<const UInt8*>(data)), m_size(size) {}
    OSErr ReadAt(SInt64 position, void* buffer, std::size_t count, std::size_t* got) override;
    OSErr Length(SInt64* length) override;

private:
    const UInt8* m_data;
    std::size_t m_size;
};

// ------------------------------------------------------------------ chunks
struct ChunkInfo {
    FourCharCode id = 0;
    SInt64 headerPos = 0;  // position of the chunk's ID
    UInt32 sizeField = 0;  // size as stored in the file
    SInt64 bodyPos = 0;    // headerPos + 8
    SInt64 bodySize = 0;   // body bytes the file holds: the size field, cut at the end of the file
    bool clamped = false;  // the size field was 0xFFFFFFFF or passed the end of the file
    // The size was left unknown by its writer (0xFFFFFFFF, or a sound chunk's
    // 0 in a container of unknown size): the body is the rest of the file
    // and the chunk is the last one.
    bool sizeUnknown = false;

    SInt64 SizePos() const { return headerPos + 4; }
    SInt64 BodyEnd() const { return bodyPos + bodySize; }
    // Position of the next chunk (after the pad byte of an odd size).
    SInt64 NextPos() const { return bodyPos + SInt64(sizeField) + SInt64(sizeField & 1); }
};

struct ChunkWalkOptions {
    ChunkByteOrder order = ChunkByteOrder::BigEndian;
    OSErr tooManyChunksErr = kChunkNotFoundErr;  // AIFF family: -22204
    int maxChunks = 100;                         // chunks passed after the one at offset 12
    bool stopAtContainerEnd = true;              // false: walk to the end of the file
    // Sizes from 0x80000000 up (but 0xFFFFFFFF) are stepped over like any
    // other instead of ending the walk with -22009 (RIFF: a data chunk of 2
    // to 4 GiB is valid).
    bool unsignedSizes = false;
    // The chunk holding the sound data ('SSND', 'data'); 0: none.
    FourCharCode soundChunk = 0;
};

// ------------------------------------------------------------------- views
// A bounded, read-only copy of a chunk body with a read position.  Reads past
// the end throw error_code_exception(overrunErr) and leave the position as it
// was.
class ChunkView {
public:
    ChunkView() = default;
    ChunkView(std::vector<UInt8> bytes, ChunkByteOrder order, OSErr overrunErr = kCorruptChunkSizeErr);
    ChunkView(const void* data, std::size_t size, ChunkByteOrder order,
              OSErr overrunErr = kCorruptChunkSizeErr);

    std::size_t size() const { return m_size; }
    std::size_t tell() const { return m_pos; }
    std::size_t remaining() const { return m_size - m_pos; }
    bool has(std::size_t count) const { return count <= remaining(); }
    bool empty() const { return m_size == 0; }
    const UInt8* data() const { return m_inline ? m_small : m_bytes.data(); }
    ChunkByteOrder order() const { return m_order; }
    OSErr overrunError() const { return m_overrunErr; }
    void setOverrunError(OSErr code) { m_overrunErr = code; }

    void seek(std::size_t position);   // throws past the end (the end itself is allowed)
    void skip(std::size_t count);

    UInt8 get_u8();
    SInt8 get_i8() { return SInt8(get_u8()); }
    UInt16 get_u16be();
    UInt16 get_u16le();
    UInt32 get_u24be();
    UInt32 get_u24le();
    UInt32 get_u32be();
    UInt32 get_u32le();
    UInt64 get_u64be();
    UInt64 get_u64le();
    SInt16 get_i16be() { return SInt16(get_u16be()); }
    SInt16 get_i16le() { return SInt16(get_u16le()); }
    SInt32 get_i32be() { return SInt32(get_u32be()); }
    SInt32 get_i32le() { return SInt32(get_u32le()); }
    // In the view's byte order.
    UInt16 get_u16() { return m_order == ChunkByteOrder::BigEndian ? get_u16be() : get_u16le(); }
    UInt32 get_u32() { return m_order == ChunkByteOrder::BigEndian ? get_u32be() : get_u32le(); }
    UInt64 get_u64() { return m_order == ChunkByteOrder::BigEndian ? get_u64be() : get_u64le(); }
    SInt16 get_i16() { return SInt16(get_u16()); }
    SInt32 get_i32() { return SInt32(get_u32()); }
    // A four-character code (always most significant byte first).
    FourCharCode get_fourcc() { return get_u32be(); }
    void get_bytes(void* out, std::size_t count);
    std::vector<UInt8> get_bytes(std::size_t count);
    // A Pascal string: length byte and characters.  A length that passes the
    // end of the view is cut to what is left (no throw once the length byte
    // is there).  With padToEven, one more byte is skipped (when present)
    // when length byte plus characters make an odd count.
    std::string get_pstring(bool padToEven = false);
    // A sub-view of `count` bytes from the current position (which moves past them).
    ChunkView get_view(std::size_t count);

private:
    [[noreturn]] void overrun(std::size_t wanted) const;
    const UInt8* take(std::size_t count);

    // A copy of a few bytes (a chunk header) is held in the view itself,
    // a longer one in m_bytes.
    static constexpr std::size_t kSmallBytes = 16;
    std::vector<UInt8> m_bytes;
    UInt8 m_small[kSmallBytes] = {};
    bool m_inline = false;
    std::size_t m_size = 0;
    std::size_t m_pos = 0;
    ChunkByteOrder m_order = ChunkByteOrder::BigEndian;
    OSErr m_overrunErr = kCorruptChunkSizeErr;
};

// ------------------------------------------------------------------ walker
class ChunkReader {
public:
    ChunkReader(ChunkSource& source, const ChunkWalkOptions& options);

    // Reads the 12-byte container header and the file length (each walk does
    // it again, so a file that grows while it is written is walked to its
    // current end).  -22004 when the file is shorter than 12 bytes.
    OSErr ReadHeader();
    FourCharCode ContainerID() const { return m_containerID; }
    UInt32 ContainerSizeField() const { return m_containerSize; }
    FourCharCode FormType() const { return m_formType; }
    // Where the walk stops (see above) and the file's length.
    SInt64 ContainerEnd() const { return m_containerEnd; }
    SInt64 FileLength() const { return m_fileLength; }
    // Whether the container's size was left unknown (0 or 0xFFFFFFFF).
    bool ContainerSizeUnknown() const { return ContainerSizeUnknown(m_containerSize); }
    static bool ContainerSizeUnknown(UInt32 sizeField) { return sizeField == 0 || sizeField == 0xFFFFFFFFu; }
    // Where a walk stops in a file of `fileLength` bytes whose container
    // size field is `sizeField` (see above).
    static SInt64 ContainerEndFor(UInt32 sizeField, SInt64 fileLength);

    // The `occurrence`-th (from 1) chunk with this ID.  0, -22004, -22009,
    // the options' too-many-chunks code, or a File Manager error.
    OSErr Find(FourCharCode id, ChunkInfo* info, UInt32 occurrence = 1);
    // Every chunk in file order (at most 1 + maxChunks of them); `visit`
    // returns false to stop.  0 at the end of the walk, else as Find.
    OSErr ForEach(const std::function<bool(const ChunkInfo&)>& visit);

    // Loads a chunk's body (at most maxBytes of it when maxBytes >= 0) into
    // a view in the walk's byte order.  Never allocates more than the file
    // holds.
    OSErr ReadBody(const ChunkInfo& info, ChunkView* view, SInt64 maxBytes = -1,
                   OSErr overrunErr = kCorruptChunkSizeErr);
    // Loads `count` bytes at `position` (cut to the end of the file).
    OSErr ReadRange(SInt64 position, SInt64 count, ChunkView* view,
                    OSErr overrunErr = kCorruptChunkSizeErr);

    ChunkSource& Source() { return m_source; }
    const ChunkWalkOptions& Options() const { return m_options; }

private:
    OSErr ReadChunkHeader(SInt64 position, ChunkInfo* info);

    ChunkSource& m_source;
    ChunkWalkOptions m_options;
    FourCharCode m_containerID = 0;
    UInt32 m_containerSize = 0;
    FourCharCode m_formType = 0;
    SInt64 m_containerEnd = 0;
    SInt64 m_fileLength = 0;
};

// ----------------------------------------------------------------- writing
// A chunk (or any byte record) built in memory, in one byte order.
class ChunkBuilder {
public:
    // Room for a usual header is taken at once rather than grown byte by byte.
    explicit ChunkBuilder(ChunkByteOrder order = ChunkByteOrder::BigEndian) : m_order(order) { m_bytes.reserve(64); }

    void put_u8(UInt8 value) { m_bytes.push_back(value); }
    void put_u16be(UInt16 value);
    void put_u16le(UInt16 value);
    void put_u32be(UInt32 value);
    void put_u32le(UInt32 value);
    void put_u64be(UInt64 value);
    void put_u64le(UInt64 value);
    void put_u16(UInt16 value) { m_order == ChunkByteOrder::BigEndian ? put_u16be(value) : put_u16le(value); }
    void put_u32(UInt32 value) { m_order == ChunkByteOrder::BigEndian ? put_u32be(value) : put_u32le(value); }
    void put_u64(UInt64 value) { m_order == ChunkByteOrder::BigEndian ? put_u64be(value) : put_u64le(value); }
    void put_fourcc(FourCharCode id) { put_u32be(id); }
    void put_bytes(const void* data, std::size_t count);
    void put_zeros(std::size_t count) { m_bytes.insert(m_bytes.end(), count, 0); }
    // Length byte (cut to 255) and characters; with padToEven a zero byte
    // when length byte plus characters make an odd count.
    void put_pstring(const std::string& text, bool padToEven = false);
    // Overwrites a 32-bit value at `offset` (which must lie inside).
    void patch_u32(std::size_t offset, UInt32 value);

    std::size_t size() const { return m_bytes.size(); }
    const UInt8* data() const { return m_bytes.data(); }
    const std::vector<UInt8>& bytes() const { return m_bytes; }

private:
    std::vector<UInt8> m_bytes;
    ChunkByteOrder m_order;
};
