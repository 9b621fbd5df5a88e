#include "CDyaxisMacMixFile.h"

CDyaxisMacMixFile::CDyaxisMacMixFile() = default;

CDyaxisMacMixFile::~CDyaxisMacMixFile() = default;

OSErr CDyaxisMacMixFile::Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved,
                                const UInt8* fileTypeSpecifics, ConstStr255Param nameExtension,
                                float sampleRate)
{
    return CreateFile(numChannels, numBits, reserved, fileTypeSpecifics, nameExtension, sampleRate);
}

OSType CDyaxisMacMixFile::GetFileType() const { return FOUR_CHAR_CODE("MMIX"); }
QString CDyaxisMacMixFile::GetFormatName() const { return QStringLiteral("Dyaxis MacMix"); }
