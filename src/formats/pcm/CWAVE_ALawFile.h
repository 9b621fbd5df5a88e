// CWAVE_ALawFile: WAVE files of G.711 A-law bytes (type 'WVal', "Wave
// A-law"); the mu-law class with format tag 6.
#pragma once

#include "CWAVE_AuFile.h"

class CWAVE_ALawFile : public CWAVE_AuFile {
public:
    CWAVE_ALawFile();
    ~CWAVE_ALawFile() override;

protected:
    UInt16 WrittenFormatTag() const override;
};
