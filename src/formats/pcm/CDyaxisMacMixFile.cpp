#include "CDyaxisMacMixFile.h"

#include "SoundFileFactories.h"

CDyaxisMacMixFile::CDyaxisMacMixFile() : CSDIIFile(FOUR_CHAR_CODE("MMIX"), "Dyaxis MacMix") {}

SoundFileTypeDescriptor CDyaxisMacMixFile::Descriptor()
{
    return {.type = FOUR_CHAR_CODE("MMIX"), .factory = &MakeSoundFile<CDyaxisMacMixFile>};
}
