#include "NeXTFileTypes.h"

#include "ByteOrder.h"
#include "CNeXTALawFile.h"
#include "CNeXTAUFile.h"
#include "CNeXT_SUNFile.h"
#include "CreateSoundFile.h"
#include "SoundFileRegistry.h"
#include "SoundFileTypeDescriptor.h"
#include "header_sniffing.h"

// ".snd": the encoding at offset 12.  25 is G.723 ADPCM, which is not
// A-law and cannot be read.
OSErr SniffNeXT(const UInt8* header, std::istream&, OSType, OSType* type)
{
    if (!header_sniffing::HeaderIs(header, 0, ".snd"))
        return kUnknownFileFormatErr;
    switch (ReadBE32(header + 12)) {
    case 1: *type = FOUR_CHAR_CODE("ulaw"); return noErr;
    case 2: case 3: case 4: case 5: *type = FOUR_CHAR_CODE("NxTS"); return noErr;
    case 27: *type = FOUR_CHAR_CODE("NSAL"); return noErr;
    default: return kNeXTUnsupportedDataErr;
    }
}

void RegisterNeXTFileTypes()
{
    for (const SoundFileTypeDescriptor& type :
         {CNeXT_SUNFile::Descriptor(), CNeXTALawFile::Descriptor(), CNeXTAUFile::Descriptor()})
        RegisterSoundFileType(type);
}
