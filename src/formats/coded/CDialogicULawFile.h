// CDialogicULawFile ('DULW' and '711u', "Dialogic μ-law (no header)"):
// the A-law file's framing with G.711 mu-law bytes.
#pragma once

#include "CDialogicALawFile.h"

class CDialogicULawFile : public CDialogicALawFile {
public:
    CDialogicULawFile();
};
