// CDialogicVAPFile ('DVAP', "Annotated Voice (vap)"): Dialogic ADPCM codes
// behind a small little-endian header that holds the rate (offset 4), the
// data offset (24), the data length (28) and the file's own name (from 36,
// zero-terminated; a batch's temporary name is stored without its random
// tag).  The name gives no rate.
//
// A header shorter than 28 bytes, a rate below 1 Hz or a data offset past
// the end of the file is refused; every header read and write is checked.
#pragma once

#include "CDialogicADPCMFile.h"
#include "SoundFileTypeDescriptor.h"

class CDialogicVAPFile : public CDialogicADPCMFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    CDialogicVAPFile();
    // Closes (and so encodes) an output still open, with this class's header.
    ~CDialogicVAPFile() override;

protected:
    OSErr ReadHeader() override;
    OSErr WriteHeader() override;
};
