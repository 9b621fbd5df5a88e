#include "WAVEFileTypes.h"
#include "format_type_codes.h"

#include "CBWFLinearFile.h"
#include "CWAVEFile.h"
#include "CWAVEFloatFile.h"
#include "CWAVE_ALawFile.h"
#include "CWAVE_AuFile.h"
#include "CreateSoundFile.h"
#include "SoundFileRegistry.h"
#include "SoundFileTypeDescriptor.h"
#include "header_sniffing.h"
#include "RIFFChunkList.h"
#include "wave_chunks.h"

using namespace header_sniffing;

namespace {

OSErr FindRIFFChunkByCode(std::istream& stream, OSType chunkID, UInt32 occurrence)
{
    return FindRIFFChunk(ChunkIDToString(chunkID), occurrence, stream);
}

} // namespace

OSErr SniffWAVE(const UInt8* header, std::istream& in, OSType, OSType* type)
{
    if (!HeaderIs(header, 8, "WAVE"))
        return kUnknownFileFormatErr;
    // RF64 and BW64, the forms of WAVE past 4 GB, state their sizes in a
    // 'ds64' chunk: the media libraries read them (as the name extension
    // step finds), not this chunk walk.
    if (HeaderIs(header, 0, "RF64") || HeaderIs(header, 0, "BW64"))
        return kUnknownFileFormatErr;
    return ProbeRIFFType(type, in, header);
}

SInt32 ProbeWAVEChannels(const QString& path)
{
    return SInt32(GetWAVENumChannels(path.toStdString()));
}

OSErr ProbeRIFFType(OSType* type, std::istream& in, const UInt8*)
{
    StreamChunkSource source(in);
    RIFFChunkList chunks;
    OSErr err = chunks.Walk(source);
    if (err != noErr)
        return err;
    wave_chunks::Format format;
    // What the format chunk holds is the reader's to judge: its tag alone
    // names the type.
    err = wave_chunks::ReadFormat(chunks, &format, 16, false);
    // A WAVE file without a format chunk (or with one too short to hold a
    // format) says which chunk it lacks, as its reading does.
    if (err == kChunkNotFoundErr)
        return kWAVENoFmtChunkErr;
    if (err != noErr)
        return err;
    SInt16 tag = SInt16(format.tag);
    if (tag == -2) // extensible
        tag = 1;
    switch (tag) {
    case 1:
        *type = chunks.Has(wave_chunks::kBext) ? FOUR_CHAR_CODE("BWLN") : FOUR_CHAR_CODE("WAVE");
        return noErr;
    case 2: *type = format_type_codes::kMSADPCM; return noErr;
    case 3: *type = FOUR_CHAR_CODE("WVfl"); return noErr;
    case 6: *type = FOUR_CHAR_CODE("WVal"); return noErr;
    case 7: *type = FOUR_CHAR_CODE("WVau"); return noErr;
    case 0x42:
    case 0x83: *type = format_type_codes::kG729; return noErr;
    default: return kUnknownFileFormatErr;
    }
}

void RegisterWAVEFileTypes()
{
    for (const SoundFileTypeDescriptor& type :
         {CWAVEFile::Descriptor(), CBWFLinearFile::Descriptor(), CWAVEFloatFile::Descriptor(),
          CWAVE_AuFile::Descriptor(), CWAVE_ALawFile::Descriptor()})
        RegisterSoundFileType(type);
    RegisterChunkFinder(FOUR_CHAR_CODE("RIFF"), &FindRIFFChunkByCode);
}
