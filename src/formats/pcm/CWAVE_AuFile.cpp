#include "CWAVE_AuFile.h"

#include "FileManager.h"
#include "SoundFileFactories.h"

#include <algorithm>

using wave_chunks::kFact;

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
    WAVEFormat format;
    format.tag = formatTag;
    format.channels = UInt16(m_numChannels);
    format.sampleRate = rate;
    format.byteRate = UInt32(std::min<UInt64>(UInt64(rate) * m_numChannels, 0xFFFFFFFFull));
    format.blockAlign = UInt16(m_numChannels);
    format.bitsPerSample = 8;
    format.hasExtra = true;  // with no extra bytes
    ChunkBuilder chunk(ChunkByteOrder::LittleEndian);
    wave_chunks::PutFormat(&chunk, format);
    wave_chunks::PutFact(&chunk, 0);
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
    ChunkBuilder chunk(ChunkByteOrder::LittleEndian);
    wave_chunks::PutFact(&chunk, m_numFrames);
    return WriteAt(fact.headerPos, chunk.data(), chunk.size());
}

SoundFileTypeDescriptor CWAVE_AuFile::Descriptor()
{
    return {.type = FOUR_CHAR_CODE("WVau"), .factory = &MakeSoundFile<CWAVE_AuFile>};
}
