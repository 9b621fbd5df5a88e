// CCodedFile: the branch of CSoundFile that formats with codecs of their own
// derive from (ADPCM, G.711/G.72x, G.729, MPEG, the external-encoder MP3 and
// the movie classes).  Such an output is encoded when it is closed: while it
// is written, each format keeps the linear audio in an inner temporary sound
// file of its own (CreateSoundFileObject('Temp')) and encodes it into the
// real file in Close.  A format that cannot make that temporary file reports
// kCodedTempFileErr.
//
// The pipelines recognise a coded output by its class (dynamic_cast) and
// create it with CreateLike, which takes the audio shape from the input.
#pragma once

#include "CSoundFile.h"

// "CreateSoundfile failed (-22017)": no (temporary) sound file could be made.
constexpr OSErr kCodedTempFileErr = -22017;

class CCodedFile : public CSoundFile {
public:
    CCodedFile() = default;
    ~CCodedFile() override;

    // True: the output is encoded when it is closed.  Classes that encode
    // block by block override it again.
    Boolean NeedsEncodingOnClose() const override;

    // Runs the base step of Create (CSoundFile::Create: naming and recording
    // the output, never the format's own creation) with the channel count,
    // word length and sample rate of `source` (the rate as a 32-bit float),
    // and `reserved`, `fileTypeSpecifics` and `nameExtension` as given.
    // `numChannels`, `numBits` and `sampleRate` are not used: the output
    // takes the source's shape.  paramErr without a source.
    virtual OSErr CreateLike(const CSoundFile* source, UInt16 numChannels, SInt16 numBits, UInt32 reserved,
                             const UInt8* fileTypeSpecifics, ConstStr255Param nameExtension, double sampleRate);

protected:
    // One block step of an output whose blocks go to an intermediate sound
    // file: `missing` without one; else `step(*intermediate)`'s code, once
    // BorrowBuffers has taken the intermediate's block pointers.
    template <class Step>
    OSErr ForwardToIntermediate(CSoundFile* intermediate, OSErr missing, Step step)
    {
        if (!intermediate)
            return missing;
        const OSErr err = step(*intermediate);
        BorrowBuffers();
        return err;
    }
    // Takes the intermediate's block pointers (never owned).  Base: nothing.
    virtual void BorrowBuffers();
    // A BorrowBuffers: the block pointers of `intermediate` (none without one).
    void BorrowBuffersOf(const CSoundFile* intermediate);
    // The read side of such an output: without an intermediate, the file's
    // own block and nothing to read; else the intermediate's block, read at
    // `frame` (what the base knows of the block is then stale).
    OSErr AllocateIntermediateReadBuffer(CSoundFile* intermediate);
    OSErr ReadIntermediateBlock(CSoundFile* intermediate, UInt32 frame);
};
