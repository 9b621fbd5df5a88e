// CCITTFile: headerless packed G.726 ADPCM code streams (the G.721 and
// G.723 rates), mono at 8000 Hz when read.  One class for the seven types;
// the code width and type code are given at construction:
//   '21-4' and '26-4' 4 bits (32 kbit/s), '23-2' 2 bits (16 kbit/s),
//   '23-3' and '26-3' 3 bits (24 kbit/s), '23-5' and '26-5' 5 bits (40 kbit/s).
// Codes are packed least significant bit first; a code may straddle two
// bytes.  Reading decodes (the decoder restarts when an earlier frame is
// asked for).  Every code depends on all the samples before it, so writing
// collects linear audio in an inner temporary file, which may be read and
// rewritten anywhere (the fades do), and encodes it from frame 0 when the
// file is closed; the last partial byte is written, zero-padded.
#pragma once

#include "CDescribedFile.h"
#include "CEncodeOnCloseFile.h"
#include "SequentialDecoding.h"
#include "SoundFileTypeDescriptor.h"
#include "g72x.h"

#include <vector>

class CCITTFile : public CDescribedFile<CEncodeOnCloseFile> {
public:
    CCITTFile(OSType type, int codeBits, const char* formatName);
    ~CCITTFile() override;

    OSErr Open() override;
    // kFileNotOpenedErr when not open; else the encoding (of a file being
    // written) and the close.
    OSErr Close() override;
    OSErr SetFilePos(UInt32 frame) override;
    OSErr RecalcNumFrames() override;
    OSType GetFileType() const override;
    QString GetFormatName() const override;

    int CodeBits() const { return m_codeBits; }

    // The types this class makes, as its library registers them.
    static std::vector<SoundFileTypeDescriptor> Descriptors();

protected:
    OSErr ReadCodedBlock(UInt32 frame) override;
    OSErr CheckShape(UInt16 channels, double rate) const override;
    OSErr CreateDataFile(UInt16 channels, double rate, const UInt8* options) override;
    OSErr EncodeOutput() override;

private:
    OSErr OpenAndDescribe() override;
    // Decodes `codes` codes from code `first` (the next one the decoder
    // expects).
    OSErr DecodeCodes(UInt32 first, UInt32 codes, int16_t* out);

    OSType m_type;
    const char* m_formatName;
    int m_codeBits;
    G72xEncoder m_encode;
    G72xDecoder m_decode;

    g72x_state m_decoder{};
    SequentialDecoding m_sequence;
    std::vector<UInt8> m_bytes;  // the codes being decoded
};
