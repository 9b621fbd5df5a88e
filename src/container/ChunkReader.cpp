#include "ChunkReader.h"

#include "ByteOrder.h"
#include "FileManager.h"
#include "error_code_exception.h"

#include <algorithm>
#include <limits>

FourCharCode ChunkIDFromString(const std::string& text)
{
    FourCharCode id = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        id = (id << 8) | (i < text.size() ? UInt8(text[i]) : UInt8(' '));
    }
    return id;
}

std::string ChunkIDToString(FourCharCode id)
{
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i) {
        text[std::size_t(i)] = char(UInt8(id >> (24 - 8 * i)));
    }
    return text;
}

// ---------------------------------------------------------------- sources

OSErr RefNumChunkSource::ReadAt(SInt64 position, void* buffer, std::size_t count, std::size_t* got)
{
    *got = 0;
    if (count == 0) {
        return SetFPos(m_refNum, fsFromStart, position);
    }
    // The positioning and the read under one look-up of the fork: the same
    // mark, the same codes (a position past the end reads nothing).
    ByteCount n = 0;
    const OSErr err = FSReadFork(m_refNum, fsFromStart, position, ByteCount(count), buffer, &n);
    *got = std::size_t(n);
    return err;
}

OSErr RefNumChunkSource::Length(SInt64* length)
{
    return GetEOF(m_refNum, length);
}

OSErr StreamChunkSource::ReadAt(SInt64 position, void* buffer, std::size_t count, std::size_t* got)
{
    *got = 0;
    try {
        m_stream.clear();
        m_stream.seekg(std::streamoff(position), std::ios::beg);
        if (!m_stream) {
            m_stream.clear();
            return eofErr;
        }
        m_stream.read(static_cast<char*>(buffer), std::streamsize(count));
        *got = std::size_t(std::max<std::streamsize>(m_stream.gcount(), 0));
        m_stream.clear();
    } catch (...) {
        m_stream.clear();
        return eofErr;
    }
    return *got < count ? eofErr : noErr;
}

OSErr StreamChunkSource::Length(SInt64* length)
{
    *length = 0;
    try {
        m_stream.clear();
        std::streampos here = m_stream.tellg();
        m_stream.seekg(0, std::ios::end);
        std::streampos end = m_stream.tellg();
        m_stream.clear();
        if (here != std::streampos(-1)) {
            m_stream.seekg(here);
        }
        if (end == std::streampos(-1)) {
            return ioErr;
        }
        *length = SInt64(end);
    } catch (...) {
        m_stream.clear();
        return ioErr;
    }
    return noErr;
}

OSErr MemoryChunkSource::ReadAt(SInt64 position, void* buffer, std::size_t count, std::size_t* got)
{
    *got = 0;
    if (position < 0) {
        return posErr;
    }
    if (UInt64(position) >= m_size) {
        return count == 0 ? noErr : eofErr;
    }
    std::size_t n = std::min<std::size_t>(count, m_size - std::size_t(position));
    if (n > 0) {
        std::memcpy(buffer, m_data + position, n);
    }
    *got = n;
    return n < count ? eofErr : noErr;
}

OSErr MemoryChunkSource::Length(SInt64* length)
{
    *length = SInt64(m_size);
    return noErr;
}

// ------------------------------------------------------------------- views

ChunkView::ChunkView(std::vector<UInt8> bytes, ChunkByteOrder order, OSErr overrunErr)
    : m_bytes(std::move(bytes)), m_size(m_bytes.size()), m_order(order), m_overrunErr(overrunErr)
{
}

ChunkView::ChunkView(const void* data, std::size_t size, ChunkByteOrder order, OSErr overrunErr)
    : m_order(order), m_overrunErr(overrunErr)
{
    if (size > 0) {
        const UInt8* p = static_cast<const UInt8*>(data);
        if (size <= kSmallBytes) {
            std::memcpy(m_small, p, size);
            m_inline = true;
        } else {
            m_bytes.assign(p, p + size);
        }
        m_size = size;
    }
}

void ChunkView::overrun(std::size_t wanted) const
{
    throw error_code_exception(m_overrunErr, "chunk read of %zu bytes at %zu passes its end (%zu)",
                               wanted, m_pos, m_size);
}

const UInt8* ChunkView::take(std::size_t count)
{
    if (!has(count)) {
        overrun(count);
    }
    const UInt8* p = data() + m_pos;
    m_pos += count;
    return p;
}

void ChunkView::seek(std::size_t position)
{
    if (position > m_size) {
        overrun(position - m_pos);
    }
    m_pos = position;
}

void ChunkView::skip(std::size_t count)
{
    take(count);
}

UInt8 ChunkView::get_u8()
{
    return *take(1);
}

UInt16 ChunkView::get_u16be()
{
    return ReadBE16(take(2));
}

UInt16 ChunkView::get_u16le()
{
    return ReadLE16(take(2));
}

UInt32 ChunkView::get_u24be()
{
    const UInt8* p = take(3);
    return (UInt32(p[0]) << 16) | (UInt32(p[1]) << 8) | p[2];
}

UInt32 ChunkView::get_u24le()
{
    const UInt8* p = take(3);
    return (UInt32(p[2]) << 16) | (UInt32(p[1]) << 8) | p[0];
}

UInt32 ChunkView::get_u32be()
{
    return ReadBE32(take(4));
}

UInt32 ChunkView::get_u32le()
{
    return ReadLE32(take(4));
}

UInt64 ChunkView::get_u64be()
{
    return ReadBE64(take(8));
}

UInt64 ChunkView::get_u64le()
{
    return ReadLE64(take(8));
}

void ChunkView::get_bytes(void* out, std::size_t count)
{
    const UInt8* p = take(count);
    if (count > 0) {
        std::memcpy(out, p, count);
    }
}

std::vector<UInt8> ChunkView::get_bytes(std::size_t count)
{
    const UInt8* p = take(count);
    return std::vector<UInt8>(p, p + count);
}

std::string ChunkView::get_pstring(bool padToEven)
{
    std::size_t length = get_u8();
    std::size_t n = std::min(length, remaining());
    const UInt8* p = take(n);
    std::string text(reinterpret_cast<const char*>(p), n);
    if (padToEven && ((1 + length) & 1) != 0 && remaining() > 0) {
        ++m_pos;
    }
    return text;
}

ChunkView ChunkView::get_view(std::size_t count)
{
    const UInt8* p = take(count);
    return ChunkView(p, count, m_order, m_overrunErr);
}

// ------------------------------------------------------------------ walker

ChunkReader::ChunkReader(ChunkSource& source, const ChunkWalkOptions& options)
    : m_source(source), m_options(options)
{
}

static OSErr WalkError(OSErr err)
{
    return err == eofErr ? kChunkNotFoundErr : err;
}

OSErr ChunkReader::ReadHeader()
{
    m_containerID = 0;
    m_containerSize = 0;
    m_formType = 0;
    m_containerEnd = 0;
    OSErr err = m_source.Length(&m_fileLength);
    if (err != noErr) {
        return WalkError(err);
    }
    UInt8 header[12];
    std::size_t got = 0;
    err = m_source.ReadAt(0, header, sizeof header, &got);
    if (err != noErr || got < sizeof header) {
        return WalkError(err == noErr ? eofErr : err);
    }
    ChunkView view(header, sizeof header, m_options.order);
    m_containerID = view.get_fourcc();
    m_containerSize = view.get_u32();
    m_formType = view.get_fourcc();
    m_containerEnd = m_options.stopAtContainerEnd ? ContainerEndFor(m_containerSize, m_fileLength) : m_fileLength;
    return noErr;
}

SInt64 ChunkReader::ContainerEndFor(UInt32 sizeField, SInt64 fileLength)
{
    const SInt64 end = SInt64(sizeField) + 8;
    return ContainerSizeUnknown(sizeField) || end > fileLength ? fileLength : end;
}

OSErr ChunkReader::ReadChunkHeader(SInt64 position, ChunkInfo* info)
{
    UInt8 header[8];
    std::size_t got = 0;
    if (position + 8 > m_containerEnd) {
        return kChunkNotFoundErr;
    }
    OSErr err = m_source.ReadAt(position, header, sizeof header, &got);
    if (err != noErr || got < sizeof header) {
        return WalkError(err == noErr ? eofErr : err);
    }
    ChunkView view(header, sizeof header, m_options.order);
    info->id = view.get_fourcc();
    info->sizeField = view.get_u32();
    info->headerPos = position;
    info->bodyPos = position + 8;
    SInt64 available = std::max<SInt64>(0, m_fileLength - info->bodyPos);
    info->sizeUnknown = info->sizeField == 0xFFFFFFFFu ||
                        (info->sizeField == 0 && info->id == m_options.soundChunk && m_options.soundChunk != 0 &&
                         ContainerSizeUnknown());
    if (info->sizeUnknown || SInt64(info->sizeField) > available) {
        info->bodySize = available;
        info->clamped = true;
    } else {
        info->bodySize = SInt64(info->sizeField);
        info->clamped = false;
    }
    return noErr;
}

OSErr ChunkReader::ForEach(const std::function<bool(const ChunkInfo&)>& visit)
{
    OSErr err = ReadHeader();
    if (err != noErr) {
        return err;
    }
    SInt64 position = 12;
    for (int passed = 0;; ++passed) {
        if (passed > m_options.maxChunks) {
            return m_options.tooManyChunksErr;
        }
        ChunkInfo info;
        err = ReadChunkHeader(position, &info);
        if (err == kChunkNotFoundErr) {
            return noErr;
        }
        if (err != noErr) {
            return err;
        }
        if (!visit(info)) {
            return noErr;
        }
        if (info.sizeUnknown) {
            return noErr;  // runs to the end of the file
        }
        if (!m_options.unsignedSizes && SInt32(info.sizeField) < 0) {
            return kCorruptChunkSizeErr;
        }
        position = info.NextPos();
    }
}

OSErr ChunkReader::Find(FourCharCode id, ChunkInfo* info, UInt32 occurrence)
{
    if (occurrence == 0) {
        occurrence = 1;
    }
    // The state goes behind one pointer, so that the callback fits the
    // std::function without a heap block.
    struct Search {
        FourCharCode id;
        UInt32 occurrence;
        UInt32 seen;
        bool found;
        ChunkInfo* info;
    } search{id, occurrence, 0, false, info};
    OSErr err = ForEach([s = &search](const ChunkInfo& chunk) {
        if (chunk.id == s->id && ++s->seen == s->occurrence) {
            *s->info = chunk;
            s->found = true;
            return false;
        }
        return true;
    });
    if (search.found) {
        return noErr;
    }
    return err != noErr ? err : kChunkNotFoundErr;
}

OSErr ChunkReader::ReadRange(SInt64 position, SInt64 count, ChunkView* view, OSErr overrunErr)
{
    *view = ChunkView(std::vector<UInt8>(), m_options.order, overrunErr);
    SInt64 length = 0;
    OSErr err = m_source.Length(&length);
    if (err != noErr) {
        return err;
    }
    if (position < 0 || count < 0) {
        return paramErr;
    }
    count = std::min(count, std::max<SInt64>(0, length - position));
    if (UInt64(count) > std::numeric_limits<std::size_t>::max() / 2) {
        return paramErr;
    }
    std::vector<UInt8> bytes(static_cast<std::size_t>(count));
    std::size_t got = 0;
    if (count > 0) {
        err = m_source.ReadAt(position, bytes.data(), bytes.size(), &got);
        if (err != noErr && err != eofErr) {
            return err;
        }
        bytes.resize(got);
    }
    *view = ChunkView(std::move(bytes), m_options.order, overrunErr);
    return noErr;
}

OSErr ChunkReader::ReadBody(const ChunkInfo& info, ChunkView* view, SInt64 maxBytes, OSErr overrunErr)
{
    SInt64 count = info.bodySize;
    if (maxBytes >= 0) {
        count = std::min(count, maxBytes);
    }
    return ReadRange(info.bodyPos, count, view, overrunErr);
}

// ----------------------------------------------------------------- writing

namespace {

// Appends the N bytes `write` (a ByteOrder.h writer) makes of `value`.
template <std::size_t N, typename T> void AppendField(std::vector<UInt8>& bytes, void (*write)(void*, T), T value)
{
    UInt8 field[N];
    write(field, value);
    bytes.insert(bytes.end(), field, field + N);
}

} // namespace

void ChunkBuilder::put_u16be(UInt16 value) { AppendField<2>(m_bytes, WriteBE16, value); }
void ChunkBuilder::put_u16le(UInt16 value) { AppendField<2>(m_bytes, WriteLE16, value); }
void ChunkBuilder::put_u32be(UInt32 value) { AppendField<4>(m_bytes, WriteBE32, value); }
void ChunkBuilder::put_u32le(UInt32 value) { AppendField<4>(m_bytes, WriteLE32, value); }
void ChunkBuilder::put_u64be(UInt64 value) { AppendField<8>(m_bytes, WriteBE64, value); }
void ChunkBuilder::put_u64le(UInt64 value) { AppendField<8>(m_bytes, WriteLE64, value); }

void ChunkBuilder::put_bytes(const void* data, std::size_t count)
{
    if (count > 0) {
        const UInt8* p = static_cast<const UInt8*>(data);
        m_bytes.insert(m_bytes.end(), p, p + count);
    }
}

void ChunkBuilder::put_pstring(const std::string& text, bool padToEven)
{
    std::size_t length = std::min<std::size_t>(text.size(), 255);
    put_u8(UInt8(length));
    put_bytes(text.data(), length);
    if (padToEven && ((1 + length) & 1) != 0) {
        put_u8(0);
    }
}

void ChunkBuilder::patch_u32(std::size_t offset, UInt32 value)
{
    if (offset + 4 > m_bytes.size()) {
        throw error_code_exception(paramErr, "patch at %zu outside %zu bytes", offset, m_bytes.size());
    }
    if (m_order == ChunkByteOrder::BigEndian) {
        WriteBE32(m_bytes.data() + offset, value);
    } else {
        WriteLE32(m_bytes.data() + offset, value);
    }
}
