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
#include "SoundFileTypeDescriptor.h"

#include <vector>

void RegisterCodedFileTypes()
{
    std::vector<SoundFileTypeDescriptor> types = {CDialogicADPCMFile::Descriptor(), CPikaADPCMFile::Descriptor(),
                                                  CDialogicVAPFile::Descriptor()};
    for (const auto& more : {CDialogicALawFile::Descriptors(), CDialogicULawFile::Descriptors()})
        types.insert(types.end(), more.begin(), more.end());
    types.insert(types.end(), {CDialogicPCMFile::Descriptor(), CMSADPCMFile::Descriptor(), CG729File::Descriptor()});
    const std::vector<SoundFileTypeDescriptor> ccitt = CCITTFile::Descriptors();
    types.insert(types.end(), ccitt.begin(), ccitt.end());
    for (const SoundFileTypeDescriptor& type : types)
        RegisterSoundFileType(type);
}
