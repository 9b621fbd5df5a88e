#include "ParisFileTypes.h"

#include "CParisLinearFile.h"
#include "CreateSoundFile.h"
#include "ForkInputStream.h"
#include "SoundFileFactories.h"
#include "SoundFileRegistry.h"
#include "header_sniffing.h"

#include <cstring>
#include <fstream>

namespace {

// The channel count of a Paris file; 0 for a file of another kind.
SInt32 ProbeParisChannels(const QString& path)
{
    const std::string name = path.toStdString();
    ForkInputStream in(name);
    char magic[4];
    if (!in || !in.read(magic, sizeof magic))
        return 0;
    if (std::memcmp(magic, " paf", 4) != 0 && std::memcmp(magic, "fap ", 4) != 0)
        return 0;
    const UInt32 channels = GetParisNumChannels(name);
    return channels > 0x7FFFFFFFu ? 0 : SInt32(channels);
}

OSErr SniffParis(const UInt8* header, std::istream&, OSType, OSType* type)
{
    if (!header_sniffing::HeaderIs(header, 0, " paf") && !header_sniffing::HeaderIs(header, 0, "fap "))
        return kUnknownFileFormatErr;
    *type = FOUR_CHAR_CODE(" paf");
    return noErr;
}

} // namespace

void RegisterParisFileTypes()
{
    RegisterSoundFileFactory(FOUR_CHAR_CODE(" paf"), &MakeSoundFile<CParisLinearFile>);
    RegisterHeaderProbe(FOUR_CHAR_CODE(" paf"), &ProbeParisChannels);
    RegisterHeaderSniffer(FOUR_CHAR_CODE(" paf"), &SniffParis);
    RegisterSetMemberType(FOUR_CHAR_CODE(" paf"));
}
