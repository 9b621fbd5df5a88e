#include "CDialogicULawFile.h"

#include "g72x.h"

CDialogicULawFile::CDialogicULawFile()
    : CDialogicALawFile({FOUR_CHAR_CODE("DULW"), "Dialogic \xCE\xBC-law (no header)", kSampleFormatMuLaw,
                         &g711_ulaw2linear, &g711_linear2ulaw})
{
}
