// CHeaderlessTelephonyFile: the headerless Dialogic A-law, mu-law and PCM
// files: samples from byte 0 to the end, read and written at any frame (a
// write past the end first fills the gap with zero bytes) through the
// linear-PCM lifecycle.  Create makes the data file exclusively, with its
// Finder information where the name does not tell the type, once the
// subclass accepts the shape.  The subclasses describe the file
// (ReadShape, CheckCreate, SetShape) and code the samples (Decode /
// Encode); their type code and format name are given to the constructor.
#pragma once

#include "CLinearPCMFile.h"

class CHeaderlessTelephonyFile : public CLinearPCMFile {
public:
    OSErr Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                 ConstStr255Param nameExtension, float sampleRate) override;

protected:
    // `formatName` is UTF-8 text with static storage.
    CHeaderlessTelephonyFile(OSType fileType, const char* formatName);

    // Fills rate, channels, word length and sample-format code of an opened
    // file (from its name or the raw-file settings).
    virtual OSErr ReadShape() = 0;
    // Bytes of one sample in the file.
    virtual UInt32 FileBytesPerSample() const = 0;
    // File bytes of `samples` samples into the block layout, and back.
    virtual void DecodeSamples(const UInt8* file, UInt8* block, std::size_t samples) const = 0;
    virtual void EncodeSamples(const UInt8* block, UInt8* file, std::size_t samples) const = 0;

    // The shape an output may have: noErr or the refusal; may give the
    // output a name extension of its own (kept in `chosen` where it is
    // made for the rate).
    virtual OSErr CheckCreate(UInt16 channels, SInt16 bits, double rate, ConstStr255Param* nameExtension,
                              Str255 chosen) const = 0;
    // Sets the channels, word length and sample-format code for the shape
    // asked of a created output (the rate is set already).
    virtual void SetShape(UInt16 channels, SInt16 bits) = 0;

    OSErr ReadHeader() override;
    OSErr SetUpNewFile(const UInt8* fileTypeSpecifics) override;
    SInt64 FileBytesPerFrame() const override;
    OSErr CheckWriteExtent(UInt64 endFrame) const override;
    OSErr LoadFrames(UInt8* block, UInt32 frame, UInt32 frames, std::size_t* filled) override;
    OSErr StoreFrames(UInt32 frames, UInt32 frame) override;
    OSErr MakeDataFork() override;
    void DropFinderInfoTheFileTells(bool complete) override;
};
