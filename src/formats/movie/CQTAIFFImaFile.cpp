#include "CQTAIFFImaFile.h"
#include "SoundFileFactories.h"
#include "format_type_codes.h"
#include "MediaCodes.h"

#include "ByteOrder.h"
#include "FileManager.h"
#include "MovieExporter.h"
#include "aiff_chunks.h"
#include "error_codes.h"
#include "progress_channel.h"

#include <algorithm>
#include <cstring>

namespace {

using aiff_chunks::kFORM;
using aiff_chunks::kMARK;
// AIFF sizes are 32-bit: a file past this is not walked or extended.
constexpr SInt64 kMaxFormEnd = 0xFFFFFFFFLL + 8;
// Frames in a packet of IMA 4:1.
constexpr UInt32 kImaPacketFrames = 64;


OSErr ReadExactly(SInt16 refNum, void* buffer, long count)
{
    long n = count;
    const OSErr err = FSRead(refNum, &n, buffer);
    if (err == eofErr || (err == noErr && n != count))
        return kChunkNotFoundErr;
    return err;
}

// The marker a stored name gives: "#<digits> <text>" is numbered.
SFTMarker MarkerFromName(SInt32 id, UInt32 position, const UInt8* name, UInt8 length)
{
    SFTMarker marker;
    marker.markerID = id;
    marker.pos = position;
    std::string text(reinterpret_cast<const char*>(name), length);
    if (text.size() >= 2 && text[0] == '#' && text[1] >= '0' && text[1] <= '9') {
        marker.type = 1;
        if (text.size() < 3) {
            marker.number = 0;
            text.clear();
        } else {
            std::size_t end = 1;
            while (end < text.size() && text[end] >= '0' && text[end] <= '9')
                ++end;
            long number = 0;
            for (std::size_t i = 1; i < end && number < 100000; ++i)
                number = number * 10 + (text[i] - '0');
            marker.number = SInt16(std::min<long>(number, 32767));
            const std::size_t space = text.find(' ', 1);
            text = space == std::string::npos ? std::string() : text.substr(space + 1);
        }
    } else {
        marker.type = 2;
        marker.number = -1;
    }
    const std::size_t kept = std::min<std::size_t>(text.size(), 31);
    marker.name[0] = UInt8(kept);
    std::memcpy(marker.name + 1, text.data(), kept);
    return marker;
}

} // namespace

CQTAIFFImaFile::CQTAIFFImaFile()
    : CQTMovieFile({format_type_codes::kAIFCIma4, "AIFC IMA 4:1", "Encoding to AIFC IMA 4:1 file"})
{
}

OSErr CQTAIFFImaFile::GetExportSettings(MovieExportSettings* settings)
{
    const OSErr err = LoadExportSettings(aiff_chunks::kAIFF, 0, settings);
    if (err != noErr)
        return err;
    settings->compression = GetExportCompression();
    settings->sampleSize = 16;
    return noErr;
}

OSType CQTAIFFImaFile::GetExportCompression() const
{
    return media_codes::kIMA4;
}

bool CQTAIFFImaFile::ParseMarkerChunk(const UInt8* body, std::size_t size, std::vector<SFTMarker>* markers)
{
    if (!body || size < 2)
        return false;
    const UInt32 count = UInt32(body[0]) << 8 | body[1];
    // Each marker takes at least 8 bytes: a count past that is refused.
    if (std::size_t(count) * 8 > size - 2)
        return false;
    std::size_t at = 2;
    std::vector<SFTMarker> found;
    for (UInt32 i = 0; i < count; ++i) {
        if (at + 7 > size)
            return false;
        const SInt32 id = SInt16(UInt16(body[at] << 8 | body[at + 1]));
        const UInt32 position = ReadBE32(body + at + 2);
        const UInt8 length = body[at + 6];
        if (at + 7 + length > size)
            return false;
        found.push_back(MarkerFromName(id, position, body + at + 7, length));
        at += 7 + length + ((7 + length) & 1);
    }
    *markers = std::move(found);
    return true;
}

OSErr CQTAIFFImaFile::ReadMarkers()
{
    if (GetNumMarkers() > 0 || m_path.empty())
        return noErr;
    FSSpec spec;
    if (PathMakeFSSpec(m_path, &spec) != noErr)
        return noErr;
    SInt16 refNum = 0;
    if (FSpOpenDF(&spec, fsRdPerm, &refNum) != noErr)
        return noErr;
    std::vector<SFTMarker> markers;
    bool ok = false;
    SInt64 formEnd = 0;
    if (aiff_chunks::ReadFORMHeader(refNum, &formEnd) == noErr) {
        RefNumChunkSource source(refNum);
        ChunkReader reader(source, aiff_chunks::WalkOptions());
        ChunkInfo info;
        ChunkView body;
        // The chunk must lie within the FORM chunk and the file.
        if (reader.Find(kMARK, &info) == noErr && info.sizeField >= 2 &&
            info.bodyPos + SInt64(info.sizeField) <= formEnd && reader.ReadBody(info, &body) == noErr)
            ok = ParseMarkerChunk(body.data(), body.size(), &markers);
    }
    FSClose(refNum);
    if (ok) {
        for (const SFTMarker& marker : markers)
            if (AddMarker(&marker) != noErr)
                break;
    }
    return noErr;
}

std::vector<UInt8> CQTAIFFImaFile::BuildMarkerChunk(const std::vector<SFTMarker>& markers)
{
    std::vector<UInt8> chunk;
    if (markers.empty() || markers.size() > 0xFFFF)
        return chunk;
    chunk.resize(10, 0);
    int numbered = 0;
    for (const SFTMarker& marker : markers) {
        std::string name(reinterpret_cast<const char*>(marker.name + 1), std::min<std::size_t>(marker.name[0], 31));
        if (marker.type == 1)
            name = "#" + std::to_string(++numbered) + " " + name;
        if (name.size() > 254)
            name.resize(254);
        const std::size_t start = chunk.size();
        chunk.resize(start + 7 + name.size() + ((7 + name.size()) & 1), 0);
        UInt8* p = chunk.data() + start;
        WriteBE16(p, UInt16(SInt16(marker.markerID)));
        WriteBE32(p + 2, marker.pos);
        p[6] = UInt8(name.size());
        std::memcpy(p + 7, name.data(), name.size());
    }
    WriteBE32(chunk.data(), kMARK);
    WriteBE32(chunk.data() + 4, UInt32(chunk.size() - 8));
    WriteBE16(chunk.data() + 8, UInt16(markers.size()));
    return chunk;
}

OSErr CQTAIFFImaFile::AppendChunkToForm(const std::string& path, const std::vector<UInt8>& chunk)
{
    if (chunk.empty())
        return noErr;
    FSSpec spec;
    OSErr err = PathMakeFSSpec(path, &spec);
    if (err != noErr)
        return err;
    SInt16 refNum = 0;
    if ((err = FSpOpenDF(&spec, fsRdWrPerm, &refNum)) != noErr)
        return err;
    SInt64 length = 0;
    UInt8 header[8];
    err = GetEOF(refNum, &length);
    if (err == noErr)
        err = SetFPos(refNum, fsFromStart, 0);
    if (err == noErr)
        err = ReadExactly(refNum, header, 8);
    // The FORM chunk must end where the file ends, so the new chunk is in it.
    if (err == noErr && (ReadBE32(header) != kFORM || SInt64(ReadBE32(header + 4)) + 8 != length))
        err = kChunkNotFoundErr;
    SInt64 end = length + (length & 1);
    if (err == noErr && end + SInt64(chunk.size()) > kMaxFormEnd)
        err = kChunkNotFoundErr;
    if (err == noErr && end != length) {
        const UInt8 pad = 0;
        long one = 1;
        if ((err = SetFPos(refNum, fsFromLEOF, 0)) == noErr)
            err = FSWrite(refNum, &one, &pad);
    }
    if (err == noErr && (err = SetFPos(refNum, fsFromLEOF, 0)) == noErr) {
        long count = long(chunk.size());
        err = FSWrite(refNum, &count, chunk.data());
    }
    if (err == noErr) {
        UInt8 size[4];
        WriteBE32(size, UInt32(end + SInt64(chunk.size()) - 8));
        long four = 4;
        if ((err = SetFPos(refNum, fsFromStart, 4)) == noErr)
            err = FSWrite(refNum, &four, size);
    }
    const OSErr closeErr = FSClose(refNum);
    return err != noErr ? err : closeErr;
}

OSErr CQTAIFFImaFile::FinishExport()
{
    // The 'COMM' chunk of an IMA 4:1 file counts packets: readers play
    // whole packets, so a last packet begun is filled with silence, and
    // the file's line says so.
    const UInt32 frames = m_inner.NumFrames();
    if (frames % kImaPacketFrames != 0)
        PostOutputWarning(kIMAPaddedWarning,
                          QStringLiteral("%1 frames written as %2: an AIFF-C IMA 4:1 file holds whole packets of "
                                         "64 frames and counts packets, not frames")
                              .arg(frames)
                              .arg(UInt64(frames) + kImaPacketFrames - frames % kImaPacketFrames));
    std::vector<SFTMarker> markers;
    for (UInt16 i = 0, n = GetNumMarkers(); i < n; ++i) {
        SFTMarker marker;
        if (GetMarker(i, &marker) != noErr)
            break;
        markers.push_back(marker);
    }
    return AppendChunkToForm(m_path, BuildMarkerChunk(markers));
}

SoundFileTypeDescriptor CQTAIFFImaFile::Descriptor()
{
    return {.type = FOUR_CHAR_CODE("A1t4"), .factory = &MakeSoundFile<CQTAIFFImaFile>};
}
