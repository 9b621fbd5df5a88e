// CDialogicALawFile ('DALW' and '711a', "Dialogic A-law (no header)"):
// headerless mono G.711 A-law bytes.  The rate comes from the name's last
// character ('6' 6000 Hz, '8' 8000 Hz), else from the raw-file settings.
#pragma once

#include "CHeaderlessTelephonyFile.h"

class CDialogicALawFile : public CHeaderlessTelephonyFile {
public:
    CDialogicALawFile();

protected:
    // The companding of a member of the family: its type code and format
    // name (UTF-8), the sample-format code and the coding of one byte.
    struct Companding {
        OSType fileType;
        const char* formatName;
        SInt16 formatCode;
        int (*expand)(unsigned char byte);
        unsigned char (*compress)(int sample);
    };
    explicit CDialogicALawFile(const Companding& companding);

    OSErr ReadShape() override;
    // Mono; the name tells the rate.
    OSErr CheckCreate(UInt16 channels, SInt16 bits, double rate, ConstStr255Param* nameExtension,
                      Str255 chosen) const override;
    void SetShape(UInt16 channels, SInt16 bits) override;
    UInt32 FileBytesPerSample() const override;
    void DecodeSamples(const UInt8* file, UInt8* block, std::size_t samples) const override;
    void EncodeSamples(const UInt8* block, UInt8* file, std::size_t samples) const override;

private:
    Companding m_companding;
};
