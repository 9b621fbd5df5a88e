// CWAVEFloatFile: WAVE files of 32-bit IEEE floats (type 'WVfl', "Wave 32
// bits float (Samplitude)").  In memory the samples are 32-bit integers
// (a float f reads as f x 2147483647 rounded to single precision, then
// truncated and clipped; an integer i writes as i x 2^-31 in single
// precision).  Written files have the plain 'fmt ' chunk with tag 3 for any
// channel count.  64-bit floats are refused (-22700).
#pragma once

#include "CWAVEFile.h"
#include "SoundFileTypeDescriptor.h"

class CWAVEFloatFile : public CWAVEFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    CWAVEFloatFile();
    ~CWAVEFloatFile() override;

    OSErr ReadFormat() override;

protected:
    Coding WrittenCoding() const override;
    OSErr WriteFormatChunks() override;
};
