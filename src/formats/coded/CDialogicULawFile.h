// CDialogicULawFile ('DULW' and '711u', "Dialogic μ-law (no header)"):
// the A-law file's framing with G.711 mu-law bytes.
#pragma once

#include "CDialogicALawFile.h"

class CDialogicULawFile : public CDialogicALawFile {
public:
    OSType GetFileType() const override;
    QString GetFormatName() const override;

protected:
    SInt16 FormatCode() const override;
    int Expand(UInt8 byte) const override;
    UInt8 Compress(int sample) const override;
};
