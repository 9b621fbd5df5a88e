// CEncodeOnCloseFile: the writing side shared by the coded files that
// collect linear audio in an inner temporary file and encode it when they
// are closed (Dialogic ADPCM and its kin, G.729, Microsoft ADPCM).
//
// Create checks the shape, names the output, makes the data file
// (CreateDataFile) and the inner temporary file; if a step fails after the
// data file was opened, the output is closed and removed.  CreateLike takes
// the shape from a finished source, which becomes the inner audio.  Blocks
// are copied into the inner file as they are written, and a file being
// written reads back what its inner file holds (the fades read and rewrite
// the output's first and last frames); Close runs EncodeOutput unless the
// write failed, and a failed or cancelled encode removes the output.  Each
// subclass keeps its own reading of a finished file (ReadCodedBlock) and its
// format code.
#pragma once

#include "CCodedFile.h"
#include "InnerLinearFile.h"

#include <cstddef>

class CEncodeOnCloseFile : public CCodedFile {
public:
    OSErr Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                 ConstStr255Param nameExtension, float sampleRate) override;
    OSErr CreateLike(const CSoundFile* source, UInt16 numChannels, SInt16 numBits, UInt32 reserved,
                     const UInt8* fileTypeSpecifics, ConstStr255Param nameExtension, double sampleRate) override;
    OSErr Close() override;
    // A file being written: what the inner file holds at `frame`; else the
    // format's own decoding.
    OSErr ReadBlock(UInt32 frame) final;
    OSErr PrepareWriteBlock(UInt32 frame) override;
    OSErr WriteBlock(UInt32 frames, UInt32 frame) override;

protected:
    // The block at `frame` of an opened file, decoded into the read buffer.
    virtual OSErr ReadCodedBlock(UInt32 frame) = 0;
    // The shape an output may have: noErr, or the format's refusal.
    virtual OSErr CheckShape(UInt16 channels, double rate) const = 0;
    // Makes and opens the data file (exclusively) for writing, sets the
    // audio description and writes what must precede the audio.
    virtual OSErr CreateDataFile(UInt16 channels, double rate, const UInt8* options) = 0;
    // The name extension of a new output at `rate`: `given`, unless the
    // format's name tells its rate (the extension may then be put in
    // `chosen`).
    virtual ConstStr255Param NameExtensionFor(ConstStr255Param given, double rate, Str255 chosen) const;
    // The tag of the inner temporary file's name.
    virtual const char* TempTag() const = 0;
    // Encodes the inner audio into the data file and finishes it.
    virtual OSErr EncodeOutput() = 0;
    // Whether an output closed after a failed write is removed even though
    // nothing was encoded (the caller otherwise decides).
    virtual bool RemovesUnencodedOutput() const;

    // Opens the data file to read (not writing from here on) and, unless
    // `eof` is null, gives its length.
    OSErr OpenToRead(SInt64* eof);
    // The data file of CreateDataFile, made exclusively (a sidecar with the
    // type unless `headerTellsType`), with the output's shape: 16-bit
    // samples of `sampleFormat`, no frames yet.
    OSErr CreateToWrite(bool headerTellsType, UInt16 channels, double rate, SInt16 sampleFormat);

    // Exact reads and writes of the data file at a position (eofErr for a
    // short read, ioErr for a short write).
    OSErr ReadAt(UInt64 position, void* bytes, std::size_t count);
    OSErr WriteAt(UInt64 position, const void* bytes, std::size_t count);

    InnerLinearFile m_inner;
    bool m_writing = false;
};
