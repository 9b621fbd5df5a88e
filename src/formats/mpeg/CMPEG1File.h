// CMPEG1File: MPEG-1 Layer I output ('MPG1', "MPEG-1 Layer I ('MPG')"),
// written with the built-in encoder, on the encode-on-close rules of
// CIntermediateCodedFile.  While a conversion writes, the audio goes into
// an intermediate Sound Designer II file (interleaved 16-bit big-endian
// samples from byte 0 of its data fork) made exclusively under a unique
// name beside the output; Close encodes that file into the output (an
// output given no audio is left as it was made, empty).  An encode that
// fails removes the output, except for a full disk or a stop.  The class
// is for output only: Open and ProbeHeader do nothing.
//
// The conversion's word length is the bit rate in kbit/s; byte 6 of its
// format-specifics block chooses the stereo mode ('j' joint stereo, 'd'
// dual channel, else stereo).  A bit rate the layer's table does not hold
// for the channel count is refused when the file is created.
#pragma once

#include "CIntermediateCodedFile.h"
#include "error_codes.h"
#include "MpegStreamEncoder.h"
#include "SoundFileTypeDescriptor.h"

#include <cstdio>


class CMPEG1File : public CIntermediateCodedFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    CMPEG1File();
    ~CMPEG1File() override;

    OSErr Open() override { return noErr; }
    OSErr Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                 ConstStr255Param nameExtension, float sampleRate) override;
    OSErr CreateLike(const CSoundFile* source, UInt16 numChannels, SInt16 numBits, UInt32 reserved,
                     const UInt8* fileTypeSpecifics, ConstStr255Param nameExtension, double sampleRate) override;
    OSErr SetFilePos(UInt32) override { return noErr; }
    OSErr RecalcNumFrames() override { return noErr; }
    OSErr ProbeHeader(SInt16* result) override;
    OSType GetFileType() const override;
    QString GetFormatName() const override;

    // Encodes the intermediate file into the output.
    virtual OSErr RunEncoder();
    // The encoder settings of this output; 0 or the refusal's code.
    virtual OSErr SetEncoderParams(MpegFrameEncoder::Settings* settings) const;

    SInt16 BitRate() const { return m_bitRate; }

protected:
    virtual int Layer() const { return 1; }
    // Whether the frame-padding setting of the conversion applies (the
    // Broadcast Wave variant always pads).
    virtual bool FramePadding() const;
    // Whether Create refuses bit rates the layer cannot carry for the
    // channel count (the Broadcast Wave variant checks when encoding).
    virtual bool ChecksRatesAtCreate() const { return true; }
    // The progress step of the encode.
    virtual const char* EncodeStepName() const;
    // Runs the encoder from the intermediate's samples into `out`.
    OSErr EncodeInto(std::FILE* out, MpegStreamEncoder::Result* result);

    // The encode-on-close steps: the channel count and rate are checked
    // once the output is named; the output is made empty and exclusively,
    // the encoder writes it.
    OSErr CreateDataFile(UInt16 channels, double rate, const UInt8* options) override;
    InnerLinearFile::Kind Intermediate() const override;
    OSErr EncodeOutput() override;
    bool EncodesWithoutAudio() const override;
    bool KeepsOutputAfter(OSErr err) const override;

    UInt8 m_format[21] = {};
    SInt16 m_bitRate = 0;
    UInt32 m_lastFrameOffset = 0;
    UInt64 m_bytesWritten = 0;
    int m_lastPadding = 0;
};
