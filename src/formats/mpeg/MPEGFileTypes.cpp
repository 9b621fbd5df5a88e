#include "MPEGFileTypes.h"

#include "CBWFMPEGFile.h"
#include "CMPEG1File.h"
#include "CMPEG2File.h"
#include "SoundFileFactories.h"
#include "SoundFileRegistry.h"

void RegisterMPEGFileTypes()
{
    RegisterSoundFileFactory(FOUR_CHAR_CODE("MPG1"), &MakeSoundFile<CMPEG1File>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("MPG2"), &MakeSoundFile<CMPEG2File>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("BWMP"), &MakeSoundFile<CBWFMPEGFile>);
}
