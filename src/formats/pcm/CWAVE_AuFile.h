// CWAVE_AuFile: WAVE files of G.711 mu-law bytes (type 'WVau', "Wave μ-law").
// In memory the samples are 16-bit linear words; the file holds one byte
// per sample.  Written files carry the 18-byte 'fmt ' chunk (tag 7) and a
// 'fact' chunk with the frame count; an odd number of sample bytes is
// followed by one uncounted pad byte.  Reading takes mu-law and A-law
// files alike, each decoded by its own law.
#pragma once

#include "CWAVEFile.h"
#include "SoundFileTypeDescriptor.h"

class CWAVE_AuFile : public CWAVEFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    CWAVE_AuFile();
    ~CWAVE_AuFile() override;

    OSErr ReadFormat() override;

    // Writes the companded 'fmt ' chunk with `formatTag` and the 'fact'
    // chunk at the end of the header.
    virtual OSErr WriteFmtFactChunks(UInt16 formatTag);

protected:
    // The A-law class: its type code and format name.
    CWAVE_AuFile(OSType fileType, const char* formatName);

    Coding WrittenCoding() const override;
    OSErr WriteFormatChunks() override;
    OSErr PatchFactChunk() override;
    // The format tag written: 7 (mu-law) here, 6 (A-law) in the A-law class.
    virtual UInt16 WrittenFormatTag() const;
};
