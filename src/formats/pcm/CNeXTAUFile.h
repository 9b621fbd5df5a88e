// NeXT/Sun files of 8-bit G.711 mu-law samples (encoding 1), presented to
// the engine as 16-bit linear samples.  Type 'ulaw'.
#pragma once

#include "CNeXT_SUNFile.h"

class CNeXTAUFile : public CNeXT_SUNFile {
public:
    CNeXTAUFile();
};

// The 16-bit linear value of a mu-law byte (the standard G.711 expansion:
// 0x00 -> -32124, 0x7F -> 0, 0x80 -> 32124, 0xFF -> 0).
int ulaw2linear(unsigned char ulaw);
