// CHeaderlessTelephonyFile: the block I/O shared by the headerless
// Dialogic A-law, mu-law and PCM files: samples from byte 0 to the end,
// read and written at any frame (a write past the end first fills the gap
// with zero bytes).  The subclasses describe the file (ReadShape) and code
// one sample (Decode / Encode).
#pragma once

#include "CDescribedFile.h"
#include "CSoundFile.h"

#include <vector>

class CHeaderlessTelephonyFile : public CDescribedFile<CSoundFile> {
public:
    ~CHeaderlessTelephonyFile() override;

    OSErr Close() override;
    OSErr ReadBlock(UInt32 frame) override;
    OSErr PrepareWriteBlock(UInt32 frame) override;
    OSErr WriteBlock(UInt32 frames, UInt32 frame) override;
    OSErr SetFilePos(UInt32 frame) override;
    OSErr RecalcNumFrames() override;

protected:
    // Fills rate, channels, word length and sample-format code of an opened
    // file (from its name or the raw-file settings).
    virtual OSErr ReadShape() = 0;
    // Bytes of one sample in the file.
    virtual UInt32 FileBytesPerSample() const = 0;
    // File bytes of `samples` samples into the block layout, and back.
    virtual void DecodeSamples(const UInt8* file, UInt8* block, std::size_t samples) const = 0;
    virtual void EncodeSamples(const UInt8* block, UInt8* file, std::size_t samples) const = 0;

    // The shared create step: the data file made exclusively and opened.
    OSErr CreateDataFile();
    UInt32 FileBytesPerFrame() const;

private:
    OSErr OpenAndDescribe() override;
    OSErr ReadInto(UInt8* block, UInt32 frame);

    std::vector<UInt8> m_scratch;
};
