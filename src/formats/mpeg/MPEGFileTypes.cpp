#include "MPEGFileTypes.h"

#include "CBWFMPEGFile.h"
#include "CMPEG1File.h"
#include "CMPEG2File.h"
#include "SoundFileTypeDescriptor.h"

void RegisterMPEGFileTypes()
{
    for (const SoundFileTypeDescriptor& type :
         {CMPEG1File::Descriptor(), CMPEG2File::Descriptor(), CBWFMPEGFile::Descriptor()})
        RegisterSoundFileType(type);
}
