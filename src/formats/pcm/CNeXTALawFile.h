// NeXT/Sun files of 8-bit G.711 A-law samples (encoding 27), presented to
// the engine as 16-bit linear samples.  Type 'NSAL'.
#pragma once

#include "CNeXT_SUNFile.h"
#include "SoundFileTypeDescriptor.h"

class CNeXTALawFile : public CNeXT_SUNFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    CNeXTALawFile();
};
