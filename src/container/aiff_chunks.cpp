#include "aiff_chunks.h"

#include "ieee_extended.h"

#include <algorithm>
#include <cstring>

namespace aiff_chunks {

ChunkWalkOptions WalkOptions()
{
    ChunkWalkOptions options;
    options.order = ChunkByteOrder::BigEndian;
    options.tooManyChunksErr = kAIFFTooManyChunksErr;
    options.soundChunk = kSSND;
    return options;
}

OSErr ReadFORMHeader(SInt16 refNum, SInt64* formEnd)
{
    RefNumChunkSource source(refNum);
    ChunkReader reader(source, WalkOptions());
    const OSErr err = reader.ReadHeader();
    if (err != noErr) {
        return err;
    }
    if (reader.ContainerID() != kFORM) {
        return kChunkNotFoundErr;
    }
    *formEnd = reader.ContainerEnd();
    return noErr;
}

OSErr ReadBody(SInt16 refNum, const ChunkInfo& info, ChunkView* body, SInt64 maxBytes)
{
    RefNumChunkSource source(refNum);
    ChunkReader reader(source, WalkOptions());
    return reader.ReadBody(info, body, maxBytes);
}

OSErr ReadFoundBody(SInt16 refNum, OSErr findErr, const ChunkInfo& info, ChunkView* body, bool* found,
                    SInt64 maxBytes)
{
    *found = false;
    if (findErr == kChunkNotFoundErr) {
        return noErr;
    }
    if (findErr != noErr) {
        return findErr;
    }
    const OSErr err = ReadBody(refNum, info, body, maxBytes);
    *found = err == noErr;
    return err;
}

OSErr ReadRequiredBody(SInt16 refNum, OSErr findErr, const ChunkInfo& info, ChunkView* body, std::size_t minBytes,
                       OSErr missingErr, SInt64 maxBytes)
{
    bool found = false;
    const OSErr err = ReadFoundBody(refNum, findErr, info, body, &found, maxBytes);
    if (err != noErr) {
        return err;
    }
    return found && body->has(minBytes) ? noErr : missingErr;
}

OSErr LocateSSNDData(SInt16 refNum, OSErr findErr, const ChunkInfo& info, SInt64* start)
{
    ChunkView header;
    const OSErr err = ReadRequiredBody(refNum, findErr, info, &header, 0, kAIFFNoSSNDErr, 8);
    if (err != noErr) {
        return err;
    }
    const SInt64 offset = header.has(4) ? header.get_u32be() : 0;
    *start = std::min(info.bodyPos + 8 + offset, info.BodyEnd());
    return noErr;
}

void PutFORMHeader(ChunkBuilder* chunk, OSType formType)
{
    chunk->put_fourcc(kFORM);
    chunk->put_u32(kPlaceholderFORMSize);
    chunk->put_fourcc(formType);
}

void PutEmptyChunk(ChunkBuilder* chunk, OSType id, UInt32 size)
{
    chunk->put_fourcc(id);
    chunk->put_u32(size);
    chunk->put_zeros(size);
}

void PutEmptySSND(ChunkBuilder* chunk)
{
    chunk->put_fourcc(kSSND);
    chunk->put_zeros(12);
}

void GetCOMMFields(ChunkView& body, COMMFields* comm)
{
    comm->channels = body.get_i16be();
    comm->frames = body.get_u32be();
    comm->bits = body.get_i16be();
    body.get_bytes(comm->rate, sizeof comm->rate);
}

void PutCOMM(ChunkBuilder* chunk, UInt32 bodySize, UInt16 channels, UInt32 frames, UInt16 bits, double rate)
{
    chunk->put_fourcc(kCOMM);
    chunk->put_u32(bodySize);
    chunk->put_u16(channels);
    chunk->put_u32(frames);
    chunk->put_u16(bits);
    UInt8 extended[10];
    ConvertToIeeeExtended(rate, extended);
    chunk->put_bytes(extended, sizeof extended);
}

bool ShapeReadable(SInt16 channels, SInt16 bits)
{
    return channels > 0 && bits > 0 && bits <= 32;
}

void GetINSTSampler(ChunkView& body, SFTSamplerInfo* info)
{
    info->baseNote = body.get_u8();
    info->detune = body.get_i8();
    info->lowNote = body.get_u8();
    info->highNote = body.get_u8();
    info->lowVelocity = body.get_u8();
    info->highVelocity = body.get_u8();
    info->gain = body.get_i16be();
    info->valid = 1;
}

INSTLoop GetINSTLoop(ChunkView& body)
{
    INSTLoop loop;
    loop.mode = body.get_i16be();
    loop.beginID = body.get_u16be();
    loop.endID = body.get_u16be();
    return loop;
}

void ForEachMARKEntry(ChunkView& body, const std::function<bool(const MARKEntry&)>& take)
{
    const UInt16 count = body.get_u16be();
    for (UInt16 i = 0; i < count && body.has(7); ++i) {
        MARKEntry entry;
        entry.id = body.get_u16be();
        entry.position = body.get_u32be();
        entry.name = body.get_pstring(true);
        if (!take(entry)) {
            break;
        }
    }
}

void SetName(Str31 name, const std::string& text)
{
    const std::size_t length = std::min<std::size_t>(text.size(), 31);
    name[0] = UInt8(length);
    std::memcpy(name + 1, text.data(), length);
}

} // namespace aiff_chunks
