#include "CodedFileTypes.h"

#include "CCITTFile.h"
#include "CDialogicADPCMFile.h"
#include "CDialogicALawFile.h"
#include "CDialogicPCMFile.h"
#include "CDialogicULawFile.h"
#include "CDialogicVAPFile.h"
#include "CG729File.h"
#include "CMSADPCMFile.h"
#include "CPikaADPCMFile.h"
#include "SoundFileRegistry.h"

#include <new>

namespace {

template <typename T>
CSoundFile* Make()
{
    return new (std::nothrow) T();
}

} // namespace

void RegisterCodedFileTypes()
{
    RegisterSoundFileFactory(FOUR_CHAR_CODE("DADP"), &Make<CDialogicADPCMFile>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("PADP"), &Make<CPikaADPCMFile>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("DVAP"), &Make<CDialogicVAPFile>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("DALW"), &Make<CDialogicALawFile>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("711a"), &Make<CDialogicALawFile>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("DULW"), &Make<CDialogicULawFile>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("711u"), &Make<CDialogicULawFile>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("DPCM"), &Make<CDialogicPCMFile>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("MSAP"), &Make<CMSADPCMFile>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("G729"), &Make<CG729File>);
    CCITTFile::RegisterTypes();
}
