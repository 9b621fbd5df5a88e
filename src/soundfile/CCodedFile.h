// CCodedFile: the branch of CSoundFile that formats with codecs of their own
// derive from (ADPCM, G.711/G.72x, G.729, MPEG, the external-encoder MP3 and
// the movie classes).  Such an output is encoded when it is closed: while it
// is written, the linear audio goes to an intermediate sound file, encoded
// into the real file in Close (CIntermediateCodedFile holds those rules).
// A format that cannot make that temporary file reports kCreateSoundFileErr.
//
// The pipelines recognise a coded output by its class (dynamic_cast) and
// create it with CreateLike, which takes the audio shape from the input.
#pragma once

#include "CSoundFile.h"
#include "error_codes.h"

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
};
