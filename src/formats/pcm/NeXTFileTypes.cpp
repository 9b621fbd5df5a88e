#include "NeXTFileTypes.h"

#include "CNeXTALawFile.h"
#include "CNeXTAUFile.h"
#include "CNeXT_SUNFile.h"
#include "SoundFileRegistry.h"

namespace {

template <typename T>
CSoundFile* Make()
{
    return new T();
}

} // namespace

void RegisterNeXTFileTypes()
{
    RegisterSoundFileFactory(FOUR_CHAR_CODE("NxTS"), &Make<CNeXT_SUNFile>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("NSAL"), &Make<CNeXTALawFile>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("ulaw"), &Make<CNeXTAUFile>);
}
