// CIntermediateCodedFile: the writing side of every coded output that
// collects linear audio in an intermediate sound file and encodes it when
// it is closed (the telephony ADPCM files, G.72x, G.729, Microsoft ADPCM,
// MPEG Layer I/II, MP3 through the outside encoder, the movie export).
// The format says what its intermediate is (Intermediate:
// its type and where its unique name goes) and how it encodes; the rules
// of creating, writing, reading back and closing are here, once:
//
//   - Create checks the shape, names the output, makes the output
//     (CreateDataFile) and then the intermediate; if a step fails after the
//     output was made, the output is closed and removed.  CreateLike takes
//     the shape from a finished source, which becomes the intermediate.
//   - Blocks are copied into the intermediate as they are written, and a
//     file being written reads back what its intermediate holds (the fades
//     read and rewrite the output's first and last frames).
//   - Close encodes (EncodeOutput, which posts its progress and stops on a
//     cancel) unless the file is closed after a failed write (a discard:
//     nothing is encoded) or, for a format that encodes only what it was
//     given, nothing was written.  An encode that failed
//     or was cancelled removes the output (unless the format keeps what its
//     encoder wrote for that error); a discarded output is removed where
//     the format says so, else the caller decides.  The intermediate always
//     goes.
#pragma once

#include "CCodedFile.h"
#include "InnerLinearFile.h"

class CIntermediateCodedFile : public CCodedFile {
public:
    OSErr Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                 ConstStr255Param nameExtension, float sampleRate) override;
    OSErr CreateLike(const CSoundFile* source, UInt16 numChannels, SInt16 numBits, UInt32 reserved,
                     const UInt8* fileTypeSpecifics, ConstStr255Param nameExtension, double sampleRate) override;
    OSErr Close() override;
    // A file being written: what the intermediate holds at `frame`; else
    // the format's own reading.
    OSErr ReadBlock(UInt32 frame) final;
    OSErr WriteBlock(UInt32 frames, UInt32 frame) override;

protected:
    // A file being written: what the intermediate holds at `frame`.
    OSErr LoadWrittenFrames(UInt32 frame, UInt32* held) override;
    // The block at `frame` of a file that is not being written (base:
    // nothing, for a format that is only written).
    virtual OSErr ReadCodedBlock(UInt32 frame);
    // The shape an output may have: noErr, or the format's refusal (base:
    // any; the format may check in CreateDataFile).
    virtual OSErr CheckShape(UInt16 channels, double rate) const;
    // Makes the output (exclusively) and marks the file open and being
    // written; sets the audio description and writes what must precede the
    // audio.
    virtual OSErr CreateDataFile(UInt16 channels, double rate, const UInt8* options) = 0;
    // The name extension of a new output at `rate`: `given`, unless the
    // format's name tells its rate (the extension may then be put in
    // `chosen`).
    virtual ConstStr255Param NameExtensionFor(ConstStr255Param given, double rate, Str255 chosen) const;
    // What the intermediate is and where it is made.
    virtual InnerLinearFile::Kind Intermediate() const = 0;
    // Encodes the intermediate's audio into the output and finishes it.
    virtual OSErr EncodeOutput() = 0;
    // Whether an output that was given no audio is encoded all the same
    // (base: yes).
    virtual bool EncodesWithoutAudio() const;
    // Whether an output whose encode failed with `err` keeps what was
    // written (base: never).
    virtual bool KeepsOutputAfter(OSErr err) const;
    // Whether an output closed after a failed write is removed even though
    // nothing was encoded (base: no, the caller decides).
    virtual bool RemovesUnencodedOutput() const;
    // Closes the output (the file is then no longer open); and removes it.
    virtual OSErr CloseDataFile();
    virtual void DeleteOutput();

    InnerLinearFile m_inner;
    bool m_writing = false;
    bool m_written = false;  // audio was given: blocks, or CreateLike's source

private:
    // Closes and removes an output whose creation failed once it was made.
    void AbandonOutput();
};
