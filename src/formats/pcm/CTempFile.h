// CTempFile: an AIFF file that is removed from the disk when the object is
// destroyed (parked linear audio of coded outputs and of pipelines).  Made
// through the type code kTempFileType; it reports the type 'AIFF' and the display
// name "Temp".  Only a file this object created or opened is removed.
#pragma once

#include "CAIFFFile.h"
#include "format_type_codes.h"

constexpr OSType kTempFileType = format_type_codes::kTemp;

class CTempFile : public CAIFFFile {
public:
    CTempFile();
    // Closes the file when open (writing its pending chunks), then deletes it.
    ~CTempFile() override;

    OSErr Open() override;
    OSErr Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                 ConstStr255Param nameExtension, float sampleRate) override;

private:
    bool m_ownsFile = false;  // a file was created or opened at the object's path
};

// Registers the 'Temp' factory.
void RegisterTempFileTypes();
