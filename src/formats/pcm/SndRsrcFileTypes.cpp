#include "SndRsrcFileTypes.h"

#include "CSndRsrcFile.h"
#include "SoundFileRegistry.h"

namespace {

CSoundFile* MakeSndRsrcFile()
{
    return new CSndRsrcFile();
}

} // namespace

void RegisterSndRsrcFileTypes()
{
    RegisterSoundFileFactory(FOUR_CHAR_CODE("sfil"), &MakeSndRsrcFile);
}
