#include "CNeXTAUFile.h"

CNeXTAUFile::CNeXTAUFile() : CNeXT_SUNFile(Coding::MuLaw, FOUR_CHAR_CODE("ulaw"), "NeXT/Sun \xCE\xBC-law (.au)") {}
