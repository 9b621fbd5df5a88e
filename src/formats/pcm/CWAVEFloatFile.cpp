#include "CWAVEFloatFile.h"

#include "SoundFileFactories.h"
#include "WAVEFileTypes.h"

CWAVEFloatFile::CWAVEFloatFile() : CWAVEFile(FOUR_CHAR_CODE("WVfl"), "Wave 32 bits float (Samplitude)") {}

CWAVEFloatFile::~CWAVEFloatFile()
{
    if (IsOpen())
        CWAVEFloatFile::Close();
}


OSErr CWAVEFloatFile::ReadFormat()
{
    return ReadFormatOfCodings(kWAVEFormatFloat, kWAVEFormatFloat);
}

CWAVEFile::Coding CWAVEFloatFile::WrittenCoding() const
{
    return Coding::Float;
}

OSErr CWAVEFloatFile::WriteFormatChunks()
{
    return WriteFmtChunk();
}

SoundFileTypeDescriptor CWAVEFloatFile::Descriptor()
{
    return {.type = FOUR_CHAR_CODE("WVfl"),
            .factory = &MakeSoundFile<CWAVEFloatFile>,
            .probe = &ProbeWAVEChannels,
            .setMember = true};
}
