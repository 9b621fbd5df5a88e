#include "MP3FileTypes.h"

#include "CDropMP3File.h"
#include "SoundFileRegistry.h"

namespace {
CSoundFile* MakeDropMP3File()
{
    return new CDropMP3File;
}
}  // namespace

void RegisterMP3FileTypes()
{
    RegisterSoundFileFactory(CDropMP3File::kType, &MakeDropMP3File);
}
