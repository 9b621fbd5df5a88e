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

OSErr CWAVEFloatFile::Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                             ConstStr255Param nameExtension, float sampleRate)
{
    OSErr err = BeginCreate(numChannels, numBits, reserved, fileTypeSpecifics, nameExtension, sampleRate,
                            Coding::Float);
    if (err)
        return err;
    err = WriteFmtChunk();
    if (err)
        return err;
    return FinishHeader();
}
