// CPikaADPCMFile ('PADP', "Pika ADPCM (no header)"): the Dialogic ADPCM
// file with the first code of each byte in the LOW nibble.  The rate comes
// from the name's last character as for Dialogic files, else from the
// raw-file settings.
#pragma once

#include "CDialogicADPCMFile.h"

class CPikaADPCMFile : public CDialogicADPCMFile {
public:
    // Closes (and so encodes) an output still open, with this class's framing.
    ~CPikaADPCMFile() override;
    OSType GetFileType() const override;
    QString GetFormatName() const override;

protected:
    bool FirstCodeInLowNibble() const override;
    const char* TempTag() const override;
    const char* EncodeStepName() const override;
};
