#include "MP3FileTypes.h"

#include "CDropMP3File.h"
#include "SoundFileFactories.h"
#include "SoundFileRegistry.h"

void RegisterMP3FileTypes()
{
    RegisterSoundFileFactory(CDropMP3File::kType, &MakeSoundFile<CDropMP3File>);
}
