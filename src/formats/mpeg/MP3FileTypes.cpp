#include "MP3FileTypes.h"

#include "CDropMP3File.h"
#include "SoundFileTypeDescriptor.h"

void RegisterMP3FileTypes()
{
    RegisterSoundFileType(CDropMP3File::Descriptor());
}
