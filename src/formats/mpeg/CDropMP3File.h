// 'DMP3' ("LAME encoded mp3"): MP3 output through the outside LAME encoder
// (lame_encoder.h), on the encode-on-close rules of CIntermediateCodedFile.
// While the conversion writes, the audio goes to a temporary 16-bit WAVE
// file with a unique temporary name beside the output (".QuillOutFile-"
// and six characters, made exclusively); Close runs the encoder from it
// into the output and deletes it.  An output that is discarded
// (CloseAndDelete with failure) is not encoded, and goes if it is still
// empty; an encode stopped by a cancel removes what the encoder wrote;
// what a failed encoder left is the caller's to remove.  The
// output's name is reserved (created empty, exclusively) at Create, so the
// encoder writes only into a file of ours.  Both files hold a lock of ours
// until the encoder is done with them, as every file of ours does while it
// is written; the run's ledger records both.
//
// The word length a conversion gives this type is the bit rate in kbit/s;
// the samples themselves are always 16 bits.  The class writes only: Open
// and ProbeHeader do nothing.
#pragma once

#include "CIntermediateCodedFile.h"
#include "error_codes.h"
#include "FileOperations.h"
#include "SoundFileTypeDescriptor.h"

#include <array>
#include <string>

class CDropMP3File : public CIntermediateCodedFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    static constexpr OSType kType = FOUR_CHAR_CODE("DMP3");
    // Bytes of the conversion's settings block kept (byte 6: 'j' = joint stereo).
    static constexpr int kFormatRecordSize = 21;

    CDropMP3File();
    ~CDropMP3File() override;

    OSErr Open() override;
    OSErr Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                 ConstStr255Param nameExtension, float sampleRate) override;
    // The shape of `source`, the bit rate of `numBits`; the audio still goes
    // to a temporary file of this object's own.
    OSErr CreateLike(const CSoundFile* source, UInt16 numChannels, SInt16 numBits, UInt32 reserved,
                     const UInt8* fileTypeSpecifics, ConstStr255Param nameExtension, double sampleRate) override;
    OSErr SetFilePos(UInt32 frame) override;
    OSErr ProbeHeader(SInt16* result) override;
    OSType GetFileType() const override { return kType; }
    QString GetFormatName() const override;

    // For the encoder.
    const std::string& GetTempPath() const { return m_inner.Path(); }
    SInt16 GetBitRateSetting() const { return bitRate_; }
    const UInt8* GetFormatRecord() const { return formatRecord_.data(); }

protected:
    OSErr CheckShape(UInt16 channels, double rate) const override;
    OSErr CreateDataFile(UInt16 channels, double rate, const UInt8* options) override;
    InnerLinearFile::Kind Intermediate() const override;
    OSErr EncodeOutput() override;
    bool KeepsOutputAfter(OSErr err) const override;
    bool RemovesUnencodedOutput() const override;
    OSErr CloseDataFile() override;
    void DeleteOutput() override;

private:
    // A warning on the file's line when the encoder wrote a lower bit rate
    // than asked (it does at low sample rates), with both figures.
    void SayLoweredBitRate() const;
    OSErr CreateShaped(UInt16 numChannels, SInt16 bitRate, UInt32 reserved, const UInt8* fileTypeSpecifics,
                       ConstStr255Param nameExtension, double sampleRate);

    SInt16 bitRate_ = 0;
    bool stopped_ = false;  // the encode was ended by a stop
    std::array<UInt8, kFormatRecordSize> formatRecord_{};
    FileLockHolder outputLock_;  // from the reservation to the encoder's end
    FileLockHolder tempLock_;    // while the encoder reads the temporary file
};
