// CDyaxisMacMixFile: Dyaxis MacMix files ('MMIX', "Dyaxis MacMix"), the
// Sound Designer II layout under another type code; its HFS type and
// creator come from the 'MMIX' file-type properties.
#pragma once

#include "CSDIIFile.h"
#include "SoundFileTypeDescriptor.h"

class CDyaxisMacMixFile : public CSDIIFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    CDyaxisMacMixFile();
};
