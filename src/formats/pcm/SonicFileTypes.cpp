#include "SonicFileTypes.h"

#include "CAIFFFile.h"
#include "CSonicAIFFFile.h"
#include "CSonicSplitFile.h"
#include "CreateSoundFile.h"
#include "SoundFileRegistry.h"
#include "SoundFileTypeDescriptor.h"
#include "header_sniffing.h"

#include <cstring>

// An AIFF made by a Sonic system: its creator, or a first "APPL" chunk
// with the signature "SSYS".
OSErr SniffSonicAIFF(const UInt8* header, std::istream& in, OSType creator, OSType* type)
{
    if (!header_sniffing::HeaderIs(header, 8, "AIFF"))
        return kUnknownFileFormatErr;
    if (creator != FOUR_CHAR_CODE("SSYS") && !IsSonicAIFF(in))
        return kUnknownFileFormatErr;
    *type = kSonicAIFFFileType;
    return noErr;
}

bool IsSonicAIFF(std::istream& in)
{
    if (FindAIFFChunk("APPL", in) != noErr)
        return false;
    UInt8 signature[4];
    if (!header_sniffing::SeekBy(in, 4) || !header_sniffing::ReadExactly(in, signature, 4))
        return false;
    return std::memcmp(signature, "SSYS", 4) == 0;
}

void RegisterSonicFileTypes()
{
    for (const SoundFileTypeDescriptor& type : {CSonicAIFFFile::Descriptor(), CSonicSplitFile::Descriptor()})
        RegisterSoundFileType(type);
}
