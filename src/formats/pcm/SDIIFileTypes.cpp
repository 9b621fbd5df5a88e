#include "SDIIFileTypes.h"

#include "CDyaxisMacMixFile.h"
#include "CSDIIFile.h"
#include "SoundFileFactories.h"
#include "SoundFileRegistry.h"
#include "error_code_exception.h"

namespace {

SInt32 ProbeSDIIChannels(const QString& path)
{
    try {
        const SInt32 channels = GetSDIINumChannels(path.toStdString());
        return channels > 0 ? channels : 0;
    } catch (const error_code_exception& e) {
        return e.code() < 0 ? SInt32(e.code()) : SInt32(ioErr);
    } catch (...) {
        return ioErr;
    }
}

} // namespace

void RegisterSDIIFileTypes()
{
    RegisterSoundFileFactory(FOUR_CHAR_CODE("Sd2f"), &MakeSoundFile<CSDIIFile>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("MMIX"), &MakeSoundFile<CDyaxisMacMixFile>);
    RegisterHeaderProbe(FOUR_CHAR_CODE("Sd2f"), &ProbeSDIIChannels);
    RegisterSetMemberType(FOUR_CHAR_CODE("Sd2f"));
}
