#include "ParisFileTypes.h"

#include "CParisLinearFile.h"
#include "SoundFileRegistry.h"

#include <cstring>
#include <fstream>

namespace {

CSoundFile* MakeParis()
{
    return new CParisLinearFile();
}

// The channel count of a Paris file; 0 for a file of another kind.
SInt32 ProbeParisChannels(const QString& path)
{
    const std::string name = path.toStdString();
    std::ifstream in(name, std::ios::binary);
    char magic[4];
    if (!in || !in.read(magic, sizeof magic))
        return 0;
    if (std::memcmp(magic, " paf", 4) != 0 && std::memcmp(magic, "fap ", 4) != 0)
        return 0;
    const UInt32 channels = GetParisNumChannels(name);
    return channels > 0x7FFFFFFFu ? 0 : SInt32(channels);
}

} // namespace

void RegisterParisFileTypes()
{
    RegisterSoundFileFactory(FOUR_CHAR_CODE(" paf"), &MakeParis);
    RegisterHeaderProbe(FOUR_CHAR_CODE(" paf"), &ProbeParisChannels);
}
