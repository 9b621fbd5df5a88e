#include "CWAVEFloatFile.h"

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
