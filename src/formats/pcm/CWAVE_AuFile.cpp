#include "CWAVE_AuFile.h"

#include "FileManager.h"

namespace {
constexpr FourCharCode kFact = ChunkID("fact");
}

CWAVE_AuFile::CWAVE_AuFile() : CWAVE_AuFile(FOUR_CHAR_CODE("WVau"), "Wave \xCE\xBC-law") {}

CWAVE_AuFile::CWAVE_AuFile(OSType fileType, const char* formatName) : CWAVEFile(fileType, formatName) {}

CWAVE_AuFile::~CWAVE_AuFile()
{
    if (IsOpen())
        CWAVE_AuFile::Close();
}

UInt16 CWAVE_AuFile::WrittenFormatTag() const { return kWAVEFormatMuLaw; }

OSErr CWAVE_AuFile::ReadFormat()
{
    return ReadFormatOfCodings(kWAVEFormatMuLaw, kWAVEFormatALaw);
}

CWAVEFile::Coding CWAVE_AuFile::WrittenCoding() const
{
    return WrittenFormatTag() == kWAVEFormatALaw ? Coding::ALaw : Coding::MuLaw;
}

OSErr CWAVE_AuFile::WriteFormatChunks()
{
    return WriteFmtFactChunks(WrittenFormatTag());
}

OSErr CWAVE_AuFile::WriteFmtFactChunks(UInt16 formatTag)
{
    const UInt32 rate = m_sampleRate > 0.0 ? (m_sampleRate >= 4294967295.0 ? 0xFFFFFFFFu : UInt32(m_sampleRate)) : 0;
    ChunkBuilder chunk(ChunkByteOrder::LittleEndian);
    chunk.put_fourcc(ChunkID("fmt "));
    chunk.put_u32le(18);
    chunk.put_u16le(formatTag);
    chunk.put_u16le(UInt16(m_numChannels));
    chunk.put_u32le(rate);
    chunk.put_u32le(UInt32(std::min<UInt64>(UInt64(rate) * m_numChannels, 0xFFFFFFFFull)));
    chunk.put_u16le(UInt16(m_numChannels));
    chunk.put_u16le(8);
    chunk.put_u16le(0);
    chunk.put_fourcc(kFact);
    chunk.put_u32le(4);
    chunk.put_u32le(0);
    return AppendBytes(chunk.data(), chunk.size());
}

OSErr CWAVE_AuFile::PatchFactChunk()
{
    ChunkInfo fact;
    OSErr err = FindChunk(kFact, &fact);
    if (err)
        return err;
    if (fact.bodySize < 4)
        return kWAVEBadDataSizeErr;
    return WriteU32At(fact.bodyPos, m_numFrames);
}
