// CDialogicALawFile ('DALW' and '711a', "Dialogic A-law (no header)"):
// headerless mono G.711 A-law bytes.  The rate comes from the name's last
// character ('6' 6000 Hz, '8' 8000 Hz), else from the raw-file settings.
#pragma once

#include "CHeaderlessTelephonyFile.h"
#include "SoundFileTypeDescriptor.h"

#include <vector>

class CDialogicALawFile : public CHeaderlessTelephonyFile {
public:
    // The types this class makes, as its library registers them.
    static std::vector<SoundFileTypeDescriptor> Descriptors();

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
    // One byte a sample, coded through the companding.
    SInt64 FileBytesPerFrame() const override;
    OSErr LoadFrames(UInt8* block, UInt32 frame, UInt32 frames, std::size_t* filled) override;
    OSErr StoreFrames(UInt32 frames, UInt32 frame) override;
    // A gap is the coding of zero (0xD5 for A-law, 0xFF for mu-law).
    UInt8 FileSilenceByte() const override;

private:
    Companding m_companding;
};
