#include "CDialogicULawFile.h"

#include "SoundFileFactories.h"
#include "g72x.h"

CDialogicULawFile::CDialogicULawFile()
    : CDialogicALawFile({FOUR_CHAR_CODE("DULW"), "Dialogic \xCE\xBC-law (no header)", kSampleFormatMuLaw,
                         &g711_ulaw2linear, &g711_linear2ulaw})
{
}

std::vector<SoundFileTypeDescriptor> CDialogicULawFile::Descriptors()
{
    // Both codes name the one class.
    return {{.type = FOUR_CHAR_CODE("DULW"), .factory = &MakeSoundFileNoThrow<CDialogicULawFile>},
            {.type = FOUR_CHAR_CODE("711u"), .factory = &MakeSoundFileNoThrow<CDialogicULawFile>}};
}
