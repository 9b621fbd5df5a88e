#include "WAVEFileTypes.h"

#include "CBWFLinearFile.h"
#include "CWAVEFile.h"
#include "CWAVEFloatFile.h"
#include "CWAVE_ALawFile.h"
#include "CWAVE_AuFile.h"
#include "SoundFileRegistry.h"

namespace {

template <typename T>
CSoundFile* Make()
{
    return new T();
}

SInt32 ProbeWAVEChannels(const QString& path)
{
    return SInt32(GetWAVENumChannels(path.toStdString()));
}

OSErr FindRIFFChunkByCode(std::istream& stream, OSType chunkID, UInt32 occurrence)
{
    return FindRIFFChunk(ChunkIDToString(chunkID), occurrence, stream);
}

} // namespace

void RegisterWAVEFileTypes()
{
    RegisterSoundFileFactory(FOUR_CHAR_CODE("WAVE"), &Make<CWAVEFile>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("WVau"), &Make<CWAVE_AuFile>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("WVal"), &Make<CWAVE_ALawFile>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("WVfl"), &Make<CWAVEFloatFile>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("BWLN"), &Make<CBWFLinearFile>);
    RegisterHeaderProbe(FOUR_CHAR_CODE("WAVE"), &ProbeWAVEChannels);
    RegisterHeaderProbe(FOUR_CHAR_CODE("BWLN"), &ProbeWAVEChannels);
    RegisterHeaderProbe(FOUR_CHAR_CODE("WVfl"), &ProbeWAVEChannels);
    RegisterChunkFinder(FOUR_CHAR_CODE("RIFF"), &FindRIFFChunkByCode);
}
