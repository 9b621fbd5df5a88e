// CDialogicALawFile ('DALW' and '711a', "Dialogic A-law (no header)"):
// headerless mono G.711 A-law bytes.  The rate comes from the name's last
// character ('6' 6000 Hz, '8' 8000 Hz), else from the raw-file settings.
#pragma once

#include "CHeaderlessTelephonyFile.h"

class CDialogicALawFile : public CHeaderlessTelephonyFile {
public:
    OSType GetFileType() const override;
    QString GetFormatName() const override;

protected:
    OSErr ReadShape() override;
    OSErr CheckCreate(UInt16 channels, SInt16 bits, ConstStr255Param* nameExtension) const override;
    void SetShape(UInt16 channels, SInt16 bits) override;
    UInt32 FileBytesPerSample() const override;
    void DecodeSamples(const UInt8* file, UInt8* block, std::size_t samples) const override;
    void EncodeSamples(const UInt8* block, UInt8* file, std::size_t samples) const override;
    // The companding of the subclass (mu-law overrides these four).
    virtual SInt16 FormatCode() const;
    virtual int Expand(UInt8 byte) const;
    virtual UInt8 Compress(int sample) const;
};
