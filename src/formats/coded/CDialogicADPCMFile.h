// CDialogicADPCMFile ('DADP', "Dialogic ADPCM (no header)"): headerless
// mono 4-bit OKI ADPCM, two codes per byte, the first in the high nibble.
// The rate comes from the name's last character ('6' 6000 Hz, '8' 8000 Hz,
// '9' 32000 Hz), else from the raw-file settings.
//
// Reading decodes from the start of the data; a read at any frame gives
// what a read from the start gives there (the decoder restarts when asked
// for an earlier frame).  The first read judges from the codes which
// decoder arithmetic the stream was made for (DialogicArithmeticProbe: the
// format's own unless the stream clearly drifts in it and not in the
// other) and decodes the whole file with that one.  Writing collects linear
// audio in an inner temporary file and encodes it when the file is closed,
// with codes that every common decoder plays (DialogicADPCMEncoder); an odd
// last sample is not written (the file holds whole bytes of two codes).  A
// failed or cancelled encode removes the output.
//
// The Pika and annotated-voice files derive from it: they give their own
// framing (type, names, nibble order) and, with a header, its hooks.
#pragma once

#include "CDescribedFile.h"
#include "CEncodeOnCloseFile.h"
#include "DialogicADPCMCodec.h"
#include "SequentialDecoding.h"
#include "SoundFileTypeDescriptor.h"

#include <vector>

class CDialogicADPCMFile : public CDescribedFile<CEncodeOnCloseFile> {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    CDialogicADPCMFile();
    ~CDialogicADPCMFile() override;

    OSErr Open() override;
    OSErr SetFilePos(UInt32 frame) override;
    OSType GetFileType() const override;
    QString GetFormatName() const override;

protected:
    // What a member of the family is: its type code and format name, the
    // nibble of a byte's first code, whether a header tells the type, the
    // tag of the inner temporary file and the encoding's progress step.
    struct Framing {
        OSType type;
        const char* formatName;
        bool firstCodeInLowNibble;
        bool hasHeader;
        const char* tempTag;
        const char* encodeStep;
    };
    explicit CDialogicADPCMFile(const Framing& framing);

    // Sets the rate and the data offset of an opened file.
    virtual OSErr ReadHeader();
    // Writes what precedes the codes and sets the data offset (at close,
    // before the encoding).
    virtual OSErr WriteHeader();
    // Without a header, the name tells the rate.
    ConstStr255Param NameExtensionFor(ConstStr255Param given, double rate, Str255 chosen) const override;

    OSErr ReadCodedBlock(UInt32 frame) override;
    OSErr CheckShape(UInt16 channels, double rate) const override;
    OSErr CreateDataFile(UInt16 channels, double rate, const UInt8* options) override;
    OSErr EncodeOutput() override;

    UInt32 m_dataOffset = 0;     // bytes before the first code
    UInt32 m_codesToWrite = 0;   // frames of the inner audio (set before WriteHeader)

private:
    OSErr OpenAndDescribe() override;
    // Decodes `codes` codes from code `first` (the next one the decoder
    // expects).
    OSErr DecodeCodes(UInt32 first, UInt32 codes, int16_t* out);
    OSErr EncodeCodes();
    // Sets the decoder's arithmetic from the first codes of the data.
    OSErr ChooseArithmetic();

    Framing m_framing;
    DialogicADPCMCodec m_decoder;
    bool m_arithmeticChosen = false;
    SequentialDecoding m_sequence;
    std::vector<UInt8> m_bytes;  // the codes being decoded
};
