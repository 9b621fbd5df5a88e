#include "CNeXTALawFile.h"

CNeXTALawFile::CNeXTALawFile() : CNeXT_SUNFile(Coding::ALaw, FOUR_CHAR_CODE("NSAL"), "NeXT/Sun A-law") {}
