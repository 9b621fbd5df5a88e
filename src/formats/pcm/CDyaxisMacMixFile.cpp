#include "CDyaxisMacMixFile.h"

CDyaxisMacMixFile::CDyaxisMacMixFile() : CSDIIFile(FOUR_CHAR_CODE("MMIX"), "Dyaxis MacMix") {}
