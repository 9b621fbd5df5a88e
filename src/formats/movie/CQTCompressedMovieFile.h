// The QuickTime movie outputs of one sound compression each, exported from
// the linear intermediate through the movie layer into a movie ('MooV',
// ".mov") with that compression:
//
//   'QTAL'  "A-law QuickTime Movie"    media_codes::kALaw  sample-format code 32
//   'QTUL'  "μ-law QuickTime Movie"    media_codes::kULaw  sample-format code 4
//   'QTIM'  "IMA 4:1 QuickTime Movie"  media_codes::kIMA4  sample-format code 63
//
// Their stored settings are the entry 'ULAT' 0; the class sets the
// compression, rate and channel count.  The intermediate is 16-bit.
#pragma once

#include "CQTMovieFile.h"
#include "SoundFileTypeDescriptor.h"

#include <vector>

class CQTCompressedMovieFile : public CQTMovieFile {
public:
    // The types this class makes, as its library registers them.
    static std::vector<SoundFileTypeDescriptor> Descriptors();

    // `type` is one of the three codes above.
    explicit CQTCompressedMovieFile(OSType type);

    OSErr SetupForWriting(UInt16 channels, SInt16 wordLength, double sampleRate,
                          const UInt8* fileTypeSpecifics) override;
    OSErr GetExportSettings(MovieExportSettings* settings) override;
    OSType GetExportCompression() const override;

    // The table row of a type.
    struct Kind;

private:
    const Kind* m_kind;
};
