#include "CPikaADPCMFile.h"

#include "SoundFileFactories.h"

CPikaADPCMFile::CPikaADPCMFile()
    : CDialogicADPCMFile({FOUR_CHAR_CODE("PADP"), "Pika ADPCM (no header)", true, false, "pika",
                          "encoding to Pika ADPCM file"})
{
}

SoundFileTypeDescriptor CPikaADPCMFile::Descriptor()
{
    return {.type = FOUR_CHAR_CODE("PADP"), .factory = &MakeSoundFileNoThrow<CPikaADPCMFile>};
}
