// CPikaADPCMFile ('PADP', "Pika ADPCM (no header)"): the Dialogic ADPCM
// file with the first code of each byte in the LOW nibble.  The rate comes
// from the name's last character as for Dialogic files, else from the
// raw-file settings.
#pragma once

#include "CDialogicADPCMFile.h"
#include "SoundFileTypeDescriptor.h"

class CPikaADPCMFile : public CDialogicADPCMFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    CPikaADPCMFile();
};
