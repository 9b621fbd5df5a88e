#include "CNeXTAUFile.h"

CNeXTAUFile::CNeXTAUFile() : CNeXT_SUNFile(Coding::MuLaw, FOUR_CHAR_CODE("ulaw"), "NeXT/Sun \xCE\xBC-law (.au)") {}

int ulaw2linear(unsigned char ulaw)
{
    const int u = ~ulaw & 0xFF;
    int t = ((u & 0x0F) << 3) + 0x84;
    t <<= (u & 0x70) >> 4;
    return (u & 0x80) ? (0x84 - t) : (t - 0x84);
}
