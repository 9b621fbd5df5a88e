// 'QTIF' ("Integer/Float QuickTime Movie"): linear samples in a QuickTime
// movie: 8 bits (offset binary, 'raw '), 16 bits ('twos'), 24 and 32-bit
// integers ('in24', 'in32'), 32 and 64-bit floats ('fl32', 'fl64'), big- or
// little-endian as the conversion's specifics say (first byte 'B' or 'L',
// second 'I' or 'F').  The intermediate keeps the requested precision (its
// word length is the requested one, 32 for 64-bit floats), so no bits are
// lost on the way.
#pragma once

#include "CQTMovieFile.h"
#include "SoundFileTypeDescriptor.h"

class CQTIntFloatFile : public CQTMovieFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    CQTIntFloatFile();
    OSErr SetupForWriting(UInt16 channels, SInt16 wordLength, double sampleRate,
                          const UInt8* fileTypeSpecifics) override;
    OSErr GetExportSettings(MovieExportSettings* settings) override;

    SInt16 GetRequestedWordLength() const { return m_requestedBits; }

private:
    SInt16 m_requestedBits = 16;
    UInt8 m_variant[2] = {'B', 'I'};
};
