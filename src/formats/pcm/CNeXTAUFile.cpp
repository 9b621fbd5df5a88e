#include "CNeXTAUFile.h"

#include "SoundFileFactories.h"

CNeXTAUFile::CNeXTAUFile() : CNeXT_SUNFile(Coding::MuLaw, FOUR_CHAR_CODE("ulaw"), "NeXT/Sun \xCE\xBC-law (.au)") {}

SoundFileTypeDescriptor CNeXTAUFile::Descriptor()
{
    return {.type = FOUR_CHAR_CODE("ulaw"), .factory = &MakeSoundFile<CNeXTAUFile>};
}
