#include "SetFileTypes.h"

#include "CSplitFile.h"
#include "CSurroundFile.h"
#include "SoundFileRegistry.h"

namespace {

CSoundFile* MakeSplitFile(OSType memberType)
{
    return new CSplitFile(memberType);
}

CSoundFile* MakeSurroundFile(OSType memberType)
{
    return new CSurroundFile(memberType);
}

} // namespace

void RegisterSetFileTypes()
{
    RegisterSetFileFactory(FOUR_CHAR_CODE("Splt"), &MakeSplitFile);
    RegisterSetFileFactory(FOUR_CHAR_CODE("Srnd"), &MakeSurroundFile);
}
