#include "SonicFileTypes.h"

#include "CAIFFFile.h"
#include "CSonicAIFFFile.h"
#include "CSonicSplitFile.h"
#include "CreateSoundFile.h"
#include "SoundFileFactories.h"
#include "SoundFileRegistry.h"
#include "header_sniffing.h"

#include <cstring>

namespace {

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

} // namespace

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
    RegisterSoundFileFactory(kSonicAIFFFileType, &MakeSoundFile<CSonicAIFFFile>);
    RegisterSoundFileFactory(kSonicSplitFileType, &MakeSoundFile<CSonicSplitFile>);
    RegisterHeaderProbe(kSonicAIFFFileType, &ProbeAIFFHeader);
    RegisterHeaderSniffer(kSonicAIFFFileType, &SniffSonicAIFF, 1);
    RegisterSetMemberType(kSonicAIFFFileType);
}
