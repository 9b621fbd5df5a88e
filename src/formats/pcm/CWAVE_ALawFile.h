// CWAVE_ALawFile: WAVE files of G.711 A-law bytes (type 'WVal', "Wave
// A-law"); the mu-law class with format tag 6.
#pragma once

#include "CWAVE_AuFile.h"
#include "SoundFileTypeDescriptor.h"

class CWAVE_ALawFile : public CWAVE_AuFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    CWAVE_ALawFile();
    ~CWAVE_ALawFile() override;

protected:
    UInt16 WrittenFormatTag() const override;
};
