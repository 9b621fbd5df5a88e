#include "SndRsrcFileTypes.h"

#include "CSndRsrcFile.h"
#include "SoundFileFactories.h"
#include "SoundFileRegistry.h"

void RegisterSndRsrcFileTypes()
{
    RegisterSoundFileFactory(FOUR_CHAR_CODE("sfil"), &MakeSoundFile<CSndRsrcFile>);
}
