#include "MPEGFileTypes.h"

#include "CBWFMPEGFile.h"
#include "CMPEG1File.h"
#include "CMPEG2File.h"
#include "SoundFileRegistry.h"

void RegisterMPEGFileTypes()
{
    RegisterSoundFileFactory(FOUR_CHAR_CODE("MPG1"), [] { return static_cast<CSoundFile*>(new CMPEG1File); });
    RegisterSoundFileFactory(FOUR_CHAR_CODE("MPG2"), [] { return static_cast<CSoundFile*>(new CMPEG2File); });
    RegisterSoundFileFactory(FOUR_CHAR_CODE("BWMP"), [] { return static_cast<CSoundFile*>(new CBWFMPEGFile); });
}
