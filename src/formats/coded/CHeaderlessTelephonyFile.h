// CHeaderlessTelephonyFile: the headerless Dialogic A-law, mu-law and PCM
// files: samples from byte 0 to the end, read and written at any frame (a
// write past the end first fills the gap with zero bytes) through the
// linear-PCM lifecycle.  Create makes the data file exclusively, with its
// Finder information where the name does not tell the type, once the
// subclass accepts the shape.  The subclasses describe the file
// (ReadShape, CheckCreate, SetShape: the shape, sample format and sample
// transform); their type code and format name are given to the
// constructor.
#pragma once

#include "CLinearPCMFile.h"

class CHeaderlessTelephonyFile : public CLinearPCMFile {
public:
    OSErr Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                 ConstStr255Param nameExtension, float sampleRate) override;

protected:
    // `formatName` is UTF-8 text with static storage.
    CHeaderlessTelephonyFile(OSType fileType, const char* formatName);

    // Fills rate, channels, word length, sample-format code and sample
    // transform of an opened file (from its name or the raw-file settings).
    virtual OSErr ReadShape() = 0;

    // The shape an output may have: noErr or the refusal; may give the
    // output a name extension of its own (kept in `chosen` where it is
    // made for the rate).
    virtual OSErr CheckCreate(UInt16 channels, SInt16 bits, double rate, ConstStr255Param* nameExtension,
                              Str255 chosen) const = 0;
    // Sets the channels, word length, sample-format code and sample
    // transform for the shape asked of a created output (the rate is set
    // already).
    virtual void SetShape(UInt16 channels, SInt16 bits) = 0;

    OSErr ReadHeader() override;
    OSErr SetUpNewFile(const UInt8* fileTypeSpecifics) override;
    OSErr CheckWriteExtent(UInt64 endFrame) const override;
    OSErr MakeDataFork() override;
    void DropFinderInfoTheFileTells(bool complete) override;
};
