#include "CWAVE_ALawFile.h"

CWAVE_ALawFile::~CWAVE_ALawFile()
{
    if (IsOpen())
        CWAVE_ALawFile::Close();
}

OSType CWAVE_ALawFile::GetFileType() const { return FOUR_CHAR_CODE("WVal"); }
QString CWAVE_ALawFile::GetFormatName() const { return QStringLiteral("Wave A-law"); }
UInt16 CWAVE_ALawFile::WrittenFormatTag() const { return kWAVEFormatALaw; }
