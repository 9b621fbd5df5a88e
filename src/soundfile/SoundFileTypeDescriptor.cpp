#include "SoundFileTypeDescriptor.h"

void RegisterSoundFileType(const SoundFileTypeDescriptor& descriptor)
{
    RegisterSoundFileFactory(descriptor.type, descriptor.factory);
    if (descriptor.probe)
        RegisterHeaderProbe(descriptor.type, descriptor.probe);
    if (descriptor.sniffer)
        RegisterHeaderSniffer(descriptor.type, descriptor.sniffer, descriptor.sniffPriority);
    if (descriptor.setMember)
        RegisterSetMemberType(descriptor.type);
}
