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
#include "SoundFileFactories.h"
#include "SoundFileRegistry.h"

void RegisterCodedFileTypes()
{
    RegisterSoundFileFactory(FOUR_CHAR_CODE("DADP"), &MakeSoundFileNoThrow<CDialogicADPCMFile>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("PADP"), &MakeSoundFileNoThrow<CPikaADPCMFile>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("DVAP"), &MakeSoundFileNoThrow<CDialogicVAPFile>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("DALW"), &MakeSoundFileNoThrow<CDialogicALawFile>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("711a"), &MakeSoundFileNoThrow<CDialogicALawFile>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("DULW"), &MakeSoundFileNoThrow<CDialogicULawFile>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("711u"), &MakeSoundFileNoThrow<CDialogicULawFile>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("DPCM"), &MakeSoundFileNoThrow<CDialogicPCMFile>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("MSAP"), &MakeSoundFileNoThrow<CMSADPCMFile>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("G729"), &MakeSoundFileNoThrow<CG729File>);
    CCITTFile::RegisterTypes();
}
