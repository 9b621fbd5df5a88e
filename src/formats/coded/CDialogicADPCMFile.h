// CDialogicADPCMFile ('DADP', "Dialogic ADPCM (no header)"): headerless
// mono 4-bit OKI ADPCM, two codes per byte, the first in the high nibble.
// The rate comes from the name's last character ('6' 6000 Hz, '8' 8000 Hz,
// '9' 32000 Hz), else from the raw-file settings.
//
// Reading decodes from the start of the data; a read at any frame gives
// what a read from the start gives there (the decoder restarts when asked
// for an earlier frame).  Writing collects linear audio in an inner
// temporary file and encodes it when the file is closed; an odd last sample
// is not written (the file holds whole bytes of two codes).  A failed or
// cancelled encode removes the output.
//
// The Pika and annotated-voice files derive from it: they change the
// nibble order and the framing through the protected hooks.
#pragma once

#include "CDescribedFile.h"
#include "CEncodeOnCloseFile.h"
#include "DialogicADPCMCodec.h"

#include <vector>

class CDialogicADPCMFile : public CDescribedFile<CEncodeOnCloseFile> {
public:
    CDialogicADPCMFile();
    ~CDialogicADPCMFile() override;

    OSErr Open() override;
    OSErr ReadBlock(UInt32 frame) override;
    OSErr SetFilePos(UInt32 frame) override;
    OSType GetFileType() const override;
    QString GetFormatName() const override;

protected:
    // Framing hooks.
    virtual bool FirstCodeInLowNibble() const;
    // Whether the file has a header that tells its type.
    virtual bool HasHeader() const;
    // Sets the rate and the data offset of an opened file.
    virtual OSErr ReadHeader();
    // Writes what precedes the codes and sets the data offset (at close,
    // before the encoding).
    virtual OSErr WriteHeader();
    const char* TempTag() const override;
    virtual const char* EncodeStepName() const;

    OSErr CheckShape(UInt16 channels, double rate) const override;
    OSErr CreateDataFile(UInt16 channels, double rate, const UInt8* options) override;
    OSErr EncodeOutput() override;

    UInt32 m_dataOffset = 0;     // bytes before the first code
    UInt32 m_codesToWrite = 0;   // frames of the inner audio (set before WriteHeader)

private:
    OSErr OpenAndDescribe() override;
    OSErr Decode(UInt32 frame, UInt32 frames, int16_t* out);
    OSErr EncodeCodes();

    DialogicADPCMCodec m_decoder;
    UInt32 m_decodedFrames = 0;  // codes the decoder has consumed
};
