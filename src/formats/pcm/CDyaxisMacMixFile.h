// CDyaxisMacMixFile: Dyaxis MacMix files ('MMIX', "Dyaxis MacMix"), the
// Sound Designer II layout under another type code; its HFS type and
// creator come from the 'MMIX' file-type properties.
#pragma once

#include "CSDIIFile.h"

class CDyaxisMacMixFile : public CSDIIFile {
public:
    CDyaxisMacMixFile();
    ~CDyaxisMacMixFile() override;

    OSErr Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                 ConstStr255Param nameExtension, float sampleRate) override;
    OSType GetFileType() const override;
    QString GetFormatName() const override;
};
