// CBWFMPEGFile: Broadcast Wave with MPEG-1 Layer II audio ('BWMP',
// "Compressed Broadcast Wave").  A RIFF/WAVE file of 966 header bytes
// ('bext' with the conversion's annotation as description, 'mext', the
// MPEG 'fmt ', 'fact') and the 'data' chunk with the frames:
//
//   0 "RIFF" size form type | 12 'bext' 858: description (256), originator
//   (32), originator reference (32), date "yyyy-mm-dd", time "hh:mm:ss"
//   (the last four as bext_origin.h gives them),
//   time reference (8), version (2), UMID (64), reserved (190), coding
//   history (256) | 878 'mext' 12 | 898 'fmt ' 40: MPEG format 0x0050 |
//   946 'fact' 4: sample frames | 958 'data' size | 966 frames
//
// The header is written before the frames and rewritten with the final
// sizes after them; an odd data chunk is followed by RIFF's pad byte.
// Frames are always padded to the exact average rate.  An output that was
// given no audio still gets the header (an empty data chunk).
#pragma once

#include "CMPEG2File.h"
#include "SoundFileTypeDescriptor.h"
#include "bext_origin.h"

#include <QByteArray>

class CBWFMPEGFile : public CMPEG2File {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    static constexpr int kHeaderBytes = 966;
    static constexpr int kMaxAnnotationBytes = 234;

    // A file still open is closed as a Broadcast Wave file (with its
    // header), never as a bare MPEG stream.
    ~CBWFMPEGFile() override;

    OSErr Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                 ConstStr255Param nameExtension, float sampleRate) override;
    OSErr CreateLike(const CSoundFile* source, UInt16 numChannels, SInt16 numBits, UInt32 reserved,
                     const UInt8* fileTypeSpecifics, ConstStr255Param nameExtension, double sampleRate) override;
    OSErr Close() override;
    OSType GetFileType() const override;
    QString GetFormatName() const override;
    OSErr RunEncoder() override;

    // The 966 header bytes for a file of `fileLength` bytes (frames and pad
    // byte included).
    QByteArray HeaderBytes(UInt64 fileLength) const;

protected:
    bool FramePadding() const override { return true; }
    bool ChecksRatesAtCreate() const override { return false; }
    const char* EncodeStepName() const override;
    bool EncodesWithoutAudio() const override;

private:
    void TakeAnnotation(const UInt8* fileTypeSpecifics);

    QByteArray m_annotation;   // UTF-8, at most 234 bytes
    BextOrigin m_origin = BextOrigin::Now();  // fixed at Create
};
