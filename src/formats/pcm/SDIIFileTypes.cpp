#include "SDIIFileTypes.h"

#include "CDyaxisMacMixFile.h"
#include "CSDIIFile.h"
#include "SoundFileRegistry.h"
#include "SoundFileTypeDescriptor.h"
#include "error_code_exception.h"

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

void RegisterSDIIFileTypes()
{
    for (const SoundFileTypeDescriptor& type : {CSDIIFile::Descriptor(), CDyaxisMacMixFile::Descriptor()})
        RegisterSoundFileType(type);
}
