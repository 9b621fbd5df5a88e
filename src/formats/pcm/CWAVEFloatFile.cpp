#include "CWAVEFloatFile.h"

CWAVEFloatFile::~CWAVEFloatFile()
{
    if (IsOpen())
        CWAVEFloatFile::Close();
}

OSType CWAVEFloatFile::GetFileType() const { return FOUR_CHAR_CODE("WVfl"); }
QString CWAVEFloatFile::GetFormatName() const { return QStringLiteral("Wave 32 bits float (Samplitude)"); }

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
