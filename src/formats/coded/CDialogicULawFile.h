// CDialogicULawFile ('DULW' and '711u', "Dialogic μ-law (no header)"):
// the A-law file's framing with G.711 mu-law bytes.
#pragma once

#include "CDialogicALawFile.h"
#include "SoundFileTypeDescriptor.h"

#include <vector>

class CDialogicULawFile : public CDialogicALawFile {
public:
    // The types this class makes, as its library registers them.
    static std::vector<SoundFileTypeDescriptor> Descriptors();

    CDialogicULawFile();
};
