#include "PCMFileTypes.h"

#include "CAIFCFile.h"
#include "CAIFFFile.h"
#include "CTempFile.h"
#include "WAVEFileTypes.h"

void RegisterPCMFileTypes()
{
    RegisterAIFFFileTypes();
    RegisterAIFCFileTypes();
    RegisterTempFileTypes();
    RegisterWAVEFileTypes();
}
