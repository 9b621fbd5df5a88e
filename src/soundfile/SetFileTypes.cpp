#include "SetFileTypes.h"

#include "CSplitFile.h"
#include "CSurroundFile.h"
#include "format_type_codes.h"
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
    RegisterSetFileFactory(format_type_codes::kSplitSet, &MakeSplitFile);
    RegisterSetFileFactory(format_type_codes::kSurroundSet, &MakeSurroundFile);
}
