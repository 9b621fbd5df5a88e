#include "SonicFileTypes.h"

#include "CAIFFFile.h"
#include "CSonicAIFFFile.h"
#include "CSonicSplitFile.h"
#include "SoundFileRegistry.h"

namespace {

CSoundFile* MakeSonicAIFFFile()
{
    return new CSonicAIFFFile();
}

CSoundFile* MakeSonicSplitFile()
{
    return new CSonicSplitFile();
}

SInt32 SonicHeaderProbe(const QString& path)
{
    return ProbeFORMFile(path, kAIFFFileType, nullptr, nullptr);
}

} // namespace

void RegisterSonicFileTypes()
{
    RegisterSoundFileFactory(kSonicAIFFFileType, &MakeSonicAIFFFile);
    RegisterSoundFileFactory(kSonicSplitFileType, &MakeSonicSplitFile);
    RegisterHeaderProbe(kSonicAIFFFileType, &SonicHeaderProbe);
}
