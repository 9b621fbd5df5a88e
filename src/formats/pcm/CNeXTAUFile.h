// NeXT/Sun files of 8-bit G.711 mu-law samples (encoding 1), presented to
// the engine as 16-bit linear samples.  Type 'ulaw'.
#pragma once

#include "CNeXT_SUNFile.h"
#include "SoundFileTypeDescriptor.h"

class CNeXTAUFile : public CNeXT_SUNFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    CNeXTAUFile();
};
