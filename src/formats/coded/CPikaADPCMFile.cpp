#include "CPikaADPCMFile.h"

CPikaADPCMFile::~CPikaADPCMFile()
{
    if (m_isOpen)
        Close();
}

OSType CPikaADPCMFile::GetFileType() const { return FOUR_CHAR_CODE("PADP"); }
QString CPikaADPCMFile::GetFormatName() const { return QStringLiteral("Pika ADPCM (no header)"); }
bool CPikaADPCMFile::FirstCodeInLowNibble() const { return true; }
const char* CPikaADPCMFile::TempTag() const { return "pika"; }
const char* CPikaADPCMFile::EncodeStepName() const { return "encoding to Pika ADPCM file"; }
