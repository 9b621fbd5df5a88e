#include "CDawnAIFFFile.h"

#include "FileManager.h"
#include "aiff_chunks.h"
#include "frame_times.h"
#include "CreateSoundFile.h"
#include "SoundFileFactories.h"
#include "SoundFileRegistry.h"
#include "header_sniffing.h"
#include "pcm_bytes.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

using namespace aiff_chunks;

namespace {

constexpr SInt64 kMARKSkip = 38;  // bytes after a 'MARK' ID to the next chunk

// Whether a 'MARK' chunk's size field is what its entries take (as in the
// files this class writes): then the chunk is read and stepped over as in
// any AIFF.  The workstations' own chunks fail this and keep the fixed step.
bool MARKSizeHolds(ChunkReader& reader, SInt64 bodyPos, UInt32 size)
{
    if (size < 2 || SInt64(size) > reader.FileLength() - bodyPos) {
        return false;
    }
    ChunkView body;
    if (reader.ReadRange(bodyPos, size, &body) != noErr || !body.has(2)) {
        return false;
    }
    const UInt16 count = body.get_u16be();
    std::size_t used = 2;
    for (UInt16 i = 0; i < count; ++i) {
        if (used + 7 > size) {
            return false;
        }
        body.seek(used + 6);
        const std::size_t length = body.get_u8();
        used += 6 + 1 + length + ((1 + length) & 1);
    }
    return used == size;
}

} // namespace

UInt64 DawnStartTimeToFrames(UInt32 offsetField, double sampleRate)
{
    return FramesFromSeconds(double(offsetField) / 120.0, sampleRate);
}

CDawnAIFFFile::CDawnAIFFFile() : CAIFFFile(kDawnFileType, "Dawn AIFF") {}
CDawnAIFFFile::~CDawnAIFFFile() = default;  // CAIFFFile closes an open file

OSErr CDawnAIFFFile::FindChunk(OSType id, ChunkInfo* info)
{
    if (id == kFORM) {
        return CAIFFFile::FindChunk(id, info);
    }
    if (!m_isOpen) {
        return kFileNotOpenedErr;
    }
    return Guarded([&]() -> OSErr {
        RefNumChunkSource source(m_refNum);
        ChunkReader reader(source, WalkOptions());
        OSErr err = reader.ReadHeader();
        if (err != noErr) {
            return err;
        }
        const SInt64 end = std::min(reader.ContainerEnd(), reader.FileLength());
        SInt64 pos = 12;
        for (int n = 0; n <= 100; ++n) {
            if (pos + 8 > end) {
                return kChunkNotFoundErr;
            }
            UInt8 header[8];
            std::size_t got = 0;
            err = source.ReadAt(pos, header, sizeof header, &got);
            if (err != noErr || got != sizeof header) {
                return err == noErr || err == eofErr ? kChunkNotFoundErr : err;
            }
            ChunkView view(header, sizeof header, ChunkByteOrder::BigEndian);
            const OSType chunkID = view.get_fourcc();
            const UInt32 size = view.get_u32be();
            if (chunkID == id) {
                ChunkInfo found;
                found.id = chunkID;
                found.headerPos = pos;
                found.sizeField = size;
                found.bodyPos = pos + 8;
                const SInt64 room = reader.FileLength() - found.bodyPos;
                found.clamped = size == 0xFFFFFFFFu || SInt64(size) > room;
                found.bodySize = std::max<SInt64>(0, std::min<SInt64>(size, room));
                err = SetFPos(m_refNum, fsFromStart, found.SizePos());
                if (err != noErr) {
                    return err == eofErr ? kChunkNotFoundErr : err;
                }
                if (info) {
                    *info = found;
                }
                return noErr;
            }
            if (chunkID == kMARK && !MARKSizeHolds(reader, pos + 8, size)) {
                pos += 4 + kMARKSkip;  // the size field is not trusted
                continue;
            }
            if (SInt32(size) < 1) {
                return kCorruptChunkSizeErr;
            }
            pos += 8 + SInt64(size) + SInt64(size & 1);
        }
        return kAIFFTooManyChunksErr;
    });
}

OSErr CDawnAIFFFile::ReadHeader()
{
    OSErr err = ReadFormAndCOMM();
    if (err != noErr) {
        return err;
    }
    m_sampleFormat = kSampleFormatBigEndian;
    // The frame count is cut below against the file itself; ReadCOMM's
    // own cut reads the SSND offset as a data offset, which it is not here.
    m_numFrames = m_commFrames;
    // Markers only from a 'MARK' chunk that can be trusted (ours): the
    // loops of 'INST' name two of them.
    ChunkInfo mark;
    if (FindChunk(kMARK, &mark) == noErr) {
        RefNumChunkSource source(m_refNum);
        ChunkReader reader(source, WalkOptions());
        if (reader.ReadHeader() == noErr && MARKSizeHolds(reader, mark.bodyPos, mark.sizeField) &&
            (err = ReadMARK()) != noErr) {
            return err;
        }
    }
    if ((err = ReadINSTLoops()) != noErr || (err = ReadINSTSamplerInfo()) != noErr) {
        return err;
    }
    ChunkInfo ssnd;
    err = FindChunk(kSSND, &ssnd);
    if (err != noErr) {
        return err == kChunkNotFoundErr ? kAIFFNoSSNDErr : err;
    }
    RefNumChunkSource source(m_refNum);
    ChunkReader reader(source, WalkOptions());
    ChunkView offsetField;
    err = reader.ReadRange(ssnd.bodyPos, 4, &offsetField);
    if (err != noErr) {
        return err;
    }
    const UInt32 startTime = offsetField.has(4) ? offsetField.get_u32be() : 0;
    m_dataOffset = ssnd.bodyPos + 8;
    SInt64 fileLength = 0;
    err = GetEOF(m_refNum, &fileLength);
    if (err != noErr) {
        return err;
    }
    m_formEnd = std::min(m_formEnd, fileLength);
    // Frames the file does not hold are cut off, and the file is cut short.
    if (m_dataOffset >= fileLength) {
        m_dataOffset = std::min(m_dataOffset, fileLength);
        m_dataCutShort = m_numFrames > 0;
        m_numFrames = 0;
    } else {
        m_dataCutShort = ClampFramesTo(fileLength - m_dataOffset);
    }
    err = SetFPos(m_refNum, fsFromStart, m_dataOffset);
    if (err != noErr) {
        return err;
    }
    m_startFrames = DawnStartTimeToFrames(startTime, m_sampleRate);
    return noErr;
}

OSErr CDawnAIFFFile::AfterOpen()
{
    SFTRegion region;
    region.regionID = 0;
    region.start = 0;
    region.end = m_numFrames;
    region.syncFrame = 0;
    region.timeStamp = SInt64(std::min<UInt64>(m_startFrames, UInt64(std::numeric_limits<SInt64>::max())));
    SetName(region.name, GetFileNameString());
    return AddRegion(&region);
}

OSErr CDawnAIFFFile::WriteHeader()
{
    ChunkBuilder header;
    PutFORMHeader(&header, kAIFFFileType);
    PutEmptyChunk(&header, kCOMM, 18);
    PutEmptySSND(&header);
    const OSErr err = WriteAt(0, header.data(), header.size());
    if (err == noErr) {
        m_dataOffset = SInt64(header.size());  // 54
    }
    return err;
}

namespace {

// An AIFF whose creator is a Dawn system.
OSErr SniffDawn(const UInt8* header, std::istream&, OSType creator, OSType* type)
{
    if (std::memcmp(header + 8, "AIFF", 4) != 0 || creator != FOUR_CHAR_CODE("CARI"))
        return kUnknownFileFormatErr;
    *type = kDawnFileType;
    return noErr;
}

} // namespace

void RegisterDawnFileTypes()
{
    RegisterSoundFileFactory(kDawnFileType, &MakeSoundFile<CDawnAIFFFile>);
    RegisterHeaderProbe(kDawnFileType, &ProbeAIFFHeader);
    RegisterHeaderSniffer(kDawnFileType, &SniffDawn, 1);
}
