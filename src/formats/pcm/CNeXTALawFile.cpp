#include "CNeXTALawFile.h"

#include "SoundFileFactories.h"

CNeXTALawFile::CNeXTALawFile() : CNeXT_SUNFile(Coding::ALaw, FOUR_CHAR_CODE("NSAL"), "NeXT/Sun A-law") {}

SoundFileTypeDescriptor CNeXTALawFile::Descriptor()
{
    return {.type = FOUR_CHAR_CODE("NSAL"), .factory = &MakeSoundFile<CNeXTALawFile>};
}
