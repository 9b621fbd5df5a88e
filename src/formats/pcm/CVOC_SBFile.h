// CVOC_SBFile: Creative Voice files whose format is declared in a block of
// its own (type 'VOC2', "Voc Pro").
//
// Reading takes either form of the published format:
//   - block 9 (rate u32, bits u8, channels u8, codec u16, 4 reserved bytes,
//     then the samples): codec 4 with 16 bits is signed little-endian PCM,
//     codec 0 with 8 bits unsigned PCM; any channel count;
//   - block 8 (extended time constant u16, pack u8, mode u8) ahead of a
//     sound-data block 1: pack 0 is 8-bit unsigned PCM, mode + 1 channels,
//     rate = 256000000 / (65536 - time constant) / channels.
// Only the first such block is read.  Writing makes 16-bit files with one
// block 9 (header version 1.20), any channel count up to 255 and any whole
// rate; the 24-bit length limits the samples to 0xFFFFFF - 12 bytes.
#pragma once

#include "CVOCFile.h"
#include "error_codes.h"
#include "SoundFileTypeDescriptor.h"


class CVOC_SBFile : public CVOCFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    CVOC_SBFile();
    ~CVOC_SBFile() override;

protected:
    OSErr ReadHeader() override;
    OSErr CheckCreateShape(CreateStep step, UInt16 numChannels, SInt16 numBits, float sampleRate) const override;
    OSErr WriteHeader() override;
    OSErr UpdateBlockHeaders() override;
    UInt32 DataBlockOverhead() const override { return 12; }

private:
    OSErr ReadBlock9(SInt64 body);
    OSErr ReadBlock8(SInt64 body);
};
