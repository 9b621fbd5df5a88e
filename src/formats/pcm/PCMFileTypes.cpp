#include "PCMFileTypes.h"

#include "CAIFCFile.h"
#include "CAIFFFile.h"
#include "CDawnAIFFFile.h"
#include "CSD1File.h"
#include "CTempFile.h"
#include "IFF8SVXAVRCDFileTypes.h"
#include "NeXTFileTypes.h"
#include "ParisFileTypes.h"
#include "SDIIFileTypes.h"
#include "SndRsrcFileTypes.h"
#include "SonicFileTypes.h"
#include "VOCFileTypes.h"
#include "WAVEFileTypes.h"

void RegisterPCMFileTypes()
{
    RegisterAIFFFileTypes();
    RegisterAIFCFileTypes();
    RegisterTempFileTypes();
    RegisterWAVEFileTypes();
    RegisterSDIIFileTypes();
    RegisterSD1FileTypes();
    RegisterSonicFileTypes();
    RegisterDawnFileTypes();
    RegisterIFF8SVXAVRCDFileTypes();
    RegisterNeXTFileTypes();
    RegisterParisFileTypes();
    RegisterVOCFileTypes();
    RegisterSndRsrcFileTypes();
}
