#include "wave_chunks.h"

#include "ByteOrder.h"
#include "CSoundFile.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace wave_chunks {

namespace {

using riff_chunks::kData;
constexpr FourCharCode kRgn = ChunkID("rgn ");

// The last 12 bytes of the KSDATAFORMAT subtype identifiers.
const UInt8 kSubformatTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// A zero-terminated text of a chunk (at most maxLength bytes) as a Pascal
// string of at most 31 bytes.
void TextToPascal(const UInt8* text, std::size_t available, std::size_t maxLength, Str31 out)
{
    std::size_t length = 0;
    const std::size_t limit = std::min(available, maxLength);
    while (length < limit && text[length] != 0)
        ++length;
    length = std::min<std::size_t>(length, 31);
    out[0] = UInt8(length);
    if (length)
        std::memcpy(out + 1, text, length);
}

void PutText(ChunkBuilder* chunk, const QByteArray& text, std::size_t field)
{
    const std::size_t length = std::min(std::size_t(text.size()), field);
    chunk->put_bytes(text.constData(), length);
    chunk->put_zeros(field - length);
}

// One cue point: `id` at `position` in the 'data' chunk.
void PutCuePoint(ChunkBuilder* cue, UInt32 id, UInt32 position)
{
    cue->put_u32le(id);
    cue->put_u32le(position);
    cue->put_fourcc(kData);
    cue->put_u32le(0);
    cue->put_u32le(0);
    cue->put_u32le(position);
}

void PutLabel(ChunkBuilder* list, UInt32 cueID, const UInt8* pascalName)
{
    const std::size_t length = std::min<std::size_t>(pascalName[0], 31);
    list->put_fourcc(kLabl);
    list->put_u32le(UInt32(4 + length + 1));
    list->put_u32le(cueID);
    list->put_bytes(pascalName + 1, length);
    list->put_u8(0);
    if ((12 + length + 1) & 1)
        list->put_u8(0);
}

} // namespace

// ================================================================== 'fmt '
bool ParseFormat(ChunkView& body, Format* format)
{
    if (!body.has(16))
        return false;
    Format f;
    f.tag = body.get_u16le();
    f.coding = f.tag;
    f.channels = body.get_u16le();
    f.sampleRate = body.get_u32le();
    f.byteRate = body.get_u32le();
    f.blockAlign = body.get_u16le();
    f.bitsPerSample = body.get_u16le();
    if (body.has(2)) {
        f.hasExtra = true;
        f.extraSize = body.get_u16le();
        f.extra = body.get_bytes(body.remaining());
    }
    if (f.tag == kWAVEFormatExtensible) {
        // Without its extension an extensible chunk is taken as PCM.
        f.coding = kWAVEFormatPCM;
        if (f.extraSize >= 22 && f.extra.size() >= 22) {
            ChunkView extension(f.extra.data(), f.extra.size(), ChunkByteOrder::LittleEndian);
            f.extensible = true;
            f.validBits = extension.get_u16le();
            f.channelMask = extension.get_u32le();
            const UInt32 data1 = extension.get_u32le();
            // Subformats are known by their first word (the rest of the
            // identifier varies among writers of PCM variants).
            f.coding = data1 <= 0xFFFF ? UInt16(data1) : 0;
        }
    }
    *format = std::move(f);
    return true;
}

OSErr CheckFrameLayout(const Format& format)
{
    UInt32 sampleBytes = 0;
    switch (format.coding) {
    case kWAVEFormatPCM:
        if (format.bitsPerSample == 0 || format.bitsPerSample > 32)
            return noErr;  // refused as unsupported data by the readers
        sampleBytes = (UInt32(format.bitsPerSample) + 7) / 8;
        break;
    case kWAVEFormatFloat:
        if (format.bitsPerSample != 32)
            return noErr;  // likewise
        sampleBytes = 4;
        break;
    case kWAVEFormatMuLaw:
    case kWAVEFormatALaw:
        if (format.bitsPerSample != 8)
            return noErr;  // likewise
        sampleBytes = 1;
        break;
    default:
        return noErr;  // coded data: the block is the coder's
    }
    if (format.channels == 0)
        return noErr;  // refused as unsupported data by the readers
    if (format.extensible && format.validBits > format.bitsPerSample)
        return kWAVEValidBitsErr;
    // A frame wider than the 16-bit field is not judged by it.
    const UInt32 frameBytes = UInt32(format.channels) * sampleBytes;
    if (frameBytes > 0xFFFF)
        return noErr;
    return format.blockAlign == frameBytes ? noErr : kWAVEBadBlockAlignErr;
}

OSErr ReadFormat(const RIFFChunkList& chunks, Format* format, SInt64 maxBytes, bool checkFrames, ChunkInfo* where)
{
    ChunkInfo info;
    OSErr err = chunks.Find(kFmt, &info);
    if (err == kChunkNotFoundErr)
        err = chunks.Find(kFmtCR, &info);
    if (err)
        return err;
    ChunkView body;
    err = chunks.ReadBody(info, &body, maxBytes);
    if (err)
        return err;
    if (!ParseFormat(body, format))
        return kChunkNotFoundErr;
    if (where)
        *where = info;
    return checkFrames ? CheckFrameLayout(*format) : noErr;
}

std::vector<UInt8> ExtensibleExtra(UInt16 validBits, UInt32 mask, UInt16 coding)
{
    ChunkBuilder extra(ChunkByteOrder::LittleEndian);
    extra.put_u16le(validBits);
    extra.put_u32le(mask);
    extra.put_u32le(coding);
    extra.put_bytes(kSubformatTail, sizeof kSubformatTail);
    return extra.bytes();
}

void PutFormat(ChunkBuilder* chunk, const Format& format)
{
    chunk->put_fourcc(kFmt);
    chunk->put_u32le(UInt32(16 + (format.hasExtra ? 2 + format.extra.size() : 0)));
    chunk->put_u16le(format.tag);
    chunk->put_u16le(format.channels);
    chunk->put_u32le(format.sampleRate);
    chunk->put_u32le(format.byteRate);
    chunk->put_u16le(format.blockAlign);
    chunk->put_u16le(format.bitsPerSample);
    if (format.hasExtra) {
        chunk->put_u16le(UInt16(format.extra.size()));
        chunk->put_bytes(format.extra.data(), format.extra.size());
    }
}

// ================================================================== 'fact'
OSErr ReadFact(const RIFFChunkList& chunks, UInt32* frames)
{
    ChunkView body;
    const OSErr err = chunks.ReadFirst(kFact, &body, 4);
    if (err)
        return err;
    if (!body.has(4))
        return kCorruptChunkSizeErr;
    *frames = body.get_u32le();
    return noErr;
}

void PutFact(ChunkBuilder* chunk, UInt32 frames)
{
    chunk->put_fourcc(kFact);
    chunk->put_u32le(4);
    chunk->put_u32le(frames);
}

// ================================================================== 'bext'
QByteArray CodingHistoryLine(const char* algorithm, UInt32 rate, const QByteArray& fields)
{
    return QByteArray("A=") + algorithm + ",F=" + QByteArray::number(rate) + ',' + fields + ",T=Quillmarch\r\n";
}

void PutBext(ChunkBuilder* chunk, const Bext& bext)
{
    chunk->put_fourcc(kBext);
    chunk->put_u32le(kBextBodyBytes);
    // Description: at most 255 bytes and a terminating zero.
    PutText(chunk, bext.description.left(255), 256);
    PutText(chunk, bext.origin.originator, 32);
    PutText(chunk, bext.origin.reference, 32);
    PutText(chunk, bext.origin.date, 10);
    PutText(chunk, bext.origin.time, 8);
    chunk->put_u64le(bext.timeReference);
    chunk->put_u16le(0);    // version
    chunk->put_zeros(64);   // UMID
    chunk->put_zeros(190);  // reserved
    PutText(chunk, bext.codingHistory, 256);
}

void ParseBext(const ChunkView& body, Bext* bext)
{
    UInt8 fields[346] = {};
    std::memcpy(fields, body.data(), std::min<std::size_t>(body.size(), sizeof fields));
    std::size_t length = 0;
    while (length < 256 && fields[length] != 0)
        ++length;
    bext->description = QByteArray(reinterpret_cast<const char*>(fields), qsizetype(length));
    bext->timeReference = ReadLE64(fields + 338);
}

OSErr ReadBext(const RIFFChunkList& chunks, Bext* bext)
{
    ChunkView body;
    const OSErr err = chunks.ReadFirst(kBext, &body, kBextBodyBytes - 256);  // the fields before the coding history
    if (err)
        return err;
    ParseBext(body, bext);
    return noErr;
}

// ========================================================= 'cue ' / 'adtl'
namespace {

// The body of the first 'LIST' of type 'adtl' after its type, or an empty
// view when the file has none.
OSErr ReadAssociatedDataList(const RIFFChunkList& chunks, ChunkView* list)
{
    *list = ChunkView(nullptr, 0, ChunkByteOrder::LittleEndian);
    for (const ChunkInfo& info : chunks.Chunks()) {
        if (info.id != kList)
            continue;
        ChunkView type;
        OSErr err = chunks.ReadBody(info, &type, 4);
        if (err)
            return err;
        if (!type.has(4) || type.get_fourcc() != kAdtl)
            continue;
        err = chunks.ReadBody(info, list);
        if (err)
            return err;
        list->skip(4);
        return noErr;
    }
    return noErr;
}

} // namespace

OSErr ReadCueList(const RIFFChunkList& chunks, std::vector<CueAnnotation>* annotations)
{
    annotations->clear();
    if (!chunks.Has(kCue))
        return noErr;
    ChunkView cue;
    OSErr err = chunks.ReadFirst(kCue, &cue);
    if (err)
        return err;
    ChunkView list;
    err = ReadAssociatedDataList(chunks, &list);
    if (err)
        return err;
    *annotations = ParseCueList(cue, list);
    return noErr;
}

OSErr CountRegionTexts(const RIFFChunkList& chunks, long* count)
{
    *count = 0;
    ChunkView list;
    const OSErr err = ReadAssociatedDataList(chunks, &list);
    if (err)
        return err;
    ForEachListEntry(list, [count](FourCharCode id, const UInt8*, std::size_t) {
        if (id == kLtxt)
            ++*count;
    });
    return noErr;
}

void ForEachListEntry(const ChunkView& list,
                      const std::function<void(FourCharCode id, const UInt8* body, std::size_t size)>& visit)
{
    const UInt8* base = list.data() + list.tell();
    const std::size_t size = list.remaining();
    std::size_t offset = 0;
    while (offset + 8 <= size) {
        const UInt8* p = base + offset;
        const UInt32 chunkSize = ReadLE32(p + 4);
        visit(ReadBE32(p), p + 8, std::min<std::size_t>(chunkSize, size - offset - 8));
        if (UInt64(chunkSize) > size)
            break;
        offset += 8 + std::size_t(chunkSize) + (chunkSize & 1);
    }
}

std::vector<CueAnnotation> ParseCueList(const ChunkView& cue, const ChunkView& list)
{
    // The cue points: identifier -> sample offset.  The count is checked
    // against the chunk.
    QHash<UInt32, UInt32> points;
    std::vector<UInt32> pointOrder;
    if (cue.size() >= 4) {
        const UInt32 declared = ReadLE32(cue.data());
        const UInt32 count = UInt32(std::min<UInt64>(declared, (cue.size() - 4) / 24));
        for (UInt32 i = 0; i < count; ++i) {
            const UInt8* p = cue.data() + 4 + std::size_t(i) * 24;
            const UInt32 id = ReadLE32(p);
            if (!points.contains(id)) {
                points.insert(id, ReadLE32(p + 20));
                pointOrder.push_back(id);
            }
        }
    }

    struct SubChunk {
        FourCharCode id;
        const UInt8* body;
        std::size_t size;
    };
    std::vector<SubChunk> subChunks;
    if (!list.empty())
        ForEachListEntry(list, [&](FourCharCode id, const UInt8* body, std::size_t size) {
            subChunks.push_back({id, body, size});
        });

    // Cue points that start regions, and the names their labels give.
    QSet<UInt32> regionCues;
    QSet<UInt32> described;  // cue points a label, note or text refers to
    for (const SubChunk& s : subChunks) {
        if (s.size < 4)
            continue;
        if (s.id == kLtxt)
            regionCues.insert(ReadLE32(s.body));
        if (s.id == kLabl || s.id == kNote || s.id == kLtxt)
            described.insert(ReadLE32(s.body));
    }
    QHash<UInt32, QByteArray> regionNames;
    for (const SubChunk& s : subChunks) {
        if (s.id != kLabl || s.size < 4)
            continue;
        const UInt32 cueID = ReadLE32(s.body);
        if (!regionCues.contains(cueID) || regionNames.contains(cueID))
            continue;
        Str31 name;
        TextToPascal(s.body + 4, s.size - 4, 31, name);
        regionNames.insert(cueID, QByteArray(reinterpret_cast<const char*>(name), name[0] + 1));
    }

    std::vector<CueAnnotation> annotations;
    long number = 0;
    for (const SubChunk& s : subChunks) {
        if ((s.id == kLabl || s.id == kNote) && s.size >= 4) {
            const UInt32 cueID = ReadLE32(s.body);
            if (regionCues.contains(cueID))
                continue;  // a region's name
            const auto point = points.constFind(cueID);
            if (point == points.constEnd())
                continue;
            CueAnnotation marker;
            marker.number = number++;
            marker.position = point.value();
            TextToPascal(s.body + 4, s.size - 4, 32, marker.name);
            annotations.push_back(marker);
        } else if (s.id == kLtxt && s.size >= 8) {
            const UInt32 cueID = ReadLE32(s.body);
            const auto point = points.constFind(cueID);
            if (point == points.constEnd())
                continue;
            CueAnnotation region;
            region.isRegion = true;
            region.number = number++;
            region.position = point.value();
            region.length = ReadLE32(s.body + 4);
            const auto named = regionNames.constFind(cueID);
            if (named != regionNames.constEnd() && UInt8(named.value()[0]) > 0) {
                std::memcpy(region.name, named.value().constData(), std::size_t(named.value().size()));
            } else {
                char text[40];
                std::snprintf(text, sizeof text, "Region nmbr %li", region.number);
                const std::size_t length = std::min<std::size_t>(std::strlen(text), 31);
                region.name[0] = UInt8(length);
                std::memcpy(region.name + 1, text, length);
            }
            annotations.push_back(region);
        }
    }
    // A cue point nothing describes is a marker without a name.
    for (const UInt32 cueID : pointOrder) {
        if (described.contains(cueID))
            continue;
        CueAnnotation marker;
        marker.number = number++;
        marker.position = points.value(cueID);
        annotations.push_back(marker);
    }
    return annotations;
}

OSErr AddCueAnnotations(CSoundFile& file, const std::vector<CueAnnotation>& annotations, bool ignoreWholeFile)
{
    for (const CueAnnotation& a : annotations) {
        if (!a.isRegion) {
            SFTMarker marker;
            marker.markerID = SInt32(a.number);
            marker.pos = a.position;
            std::memcpy(marker.name, a.name, a.name[0] + 1u);
            const OSErr err = file.AddMarker(&marker);
            if (err)
                return err;
            continue;
        }
        SInt64 regionStart = SInt32(a.position);
        SInt64 regionEnd = SInt64(a.position) + SInt64(a.length);
        const SInt64 frames = file.GetNumFrames();
        bool keep = true;
        if (ignoreWholeFile) {
            if ((regionStart == 0 && regionEnd == frames) || regionStart > regionEnd || regionEnd > frames ||
                regionStart < 0)
                keep = false;
        } else {
            if (regionStart < 0) {
                regionStart = 0;
                regionEnd = frames;
            }
            if (regionEnd < regionStart || regionEnd > frames)
                keep = false;
        }
        if (!keep)
            continue;
        SFTRegion region;
        region.regionID = SInt32(a.number);
        region.start = UInt32(regionStart);
        region.end = UInt32(regionEnd);
        region.syncFrame = UInt32(regionStart);
        region.timeStamp = 0;
        std::memcpy(region.name, a.name, a.name[0] + 1u);
        const OSErr err = file.AddRegion(&region);
        if (err)
            return err;
    }
    return noErr;
}

void PutCueList(ChunkBuilder* chunk, const std::vector<SFTMarker>& markers, const std::vector<SFTRegion>& regions,
                bool nameRegions)
{
    const UInt32 points = UInt32(markers.size() + regions.size());
    if (points == 0)
        return;
    chunk->put_fourcc(kCue);
    chunk->put_u32le(24 * points + 4);
    chunk->put_u32le(points);
    for (std::size_t i = 0; i < markers.size(); ++i)
        PutCuePoint(chunk, UInt32(i), markers[i].pos);
    for (std::size_t j = 0; j < regions.size(); ++j)
        PutCuePoint(chunk, UInt32(markers.size() + j), regions[j].start);

    ChunkBuilder list(ChunkByteOrder::LittleEndian);
    list.put_fourcc(kList);
    list.put_u32le(0);
    list.put_fourcc(kAdtl);
    for (std::size_t i = 0; i < markers.size(); ++i)
        PutLabel(&list, UInt32(i), markers[i].name);
    // Labels come before the 'ltxt' entries: some readers stop at the
    // first 'ltxt'.
    if (nameRegions)
        for (std::size_t j = 0; j < regions.size(); ++j)
            PutLabel(&list, UInt32(markers.size() + j), regions[j].name);
    for (std::size_t j = 0; j < regions.size(); ++j) {
        const SFTRegion& region = regions[j];
        list.put_fourcc(kLtxt);
        list.put_u32le(20);
        list.put_u32le(UInt32(markers.size() + j));
        list.put_u32le(region.end >= region.start ? region.end - region.start : 0);
        list.put_fourcc(kRgn);
        list.put_zeros(8);  // country, language, dialect, code page
    }
    list.patch_u32(4, UInt32(list.size() - 8));
    chunk->put_bytes(list.data(), list.size());
}

} // namespace wave_chunks
