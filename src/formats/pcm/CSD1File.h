// CSD1File: Sound Designer I files ('Sd1f'): a fixed 1336-byte big-endian
// header, then mono 8- or 16-bit signed big-endian samples.
//
// The header fields used: data size in bytes at 188, the sample rate as an
// integer at 1030, the sample period in microseconds at 1034 and the word
// length at 1038.  Reading uses the same offsets as writing, so a file we
// write reads back as written.  The data size read is cut to what the file
// holds.
//
// Codes: -22100 more than one channel, -22101 a word length other than 8
// or 16 (on create, and on open for a header that states one), -22005 Close
// of a closed file.
#pragma once

#include "CLinearPCMFile.h"
#include "error_codes.h"

constexpr OSType kSD1FileType = FOUR_CHAR_CODE("Sd1f");
constexpr SInt64 kSD1HeaderSize = 1336;

class CSD1File : public CLinearPCMFile {
public:
    CSD1File();
    ~CSD1File() override;

    // Fills a zeroed 1336-byte header with the constant fields.
    static void InitHeader(UInt8* header);

protected:
    // Reads rate, word length and data size of the open file (frame count
    // cut to the samples the file holds).
    OSErr ReadHeader() override;
    OSErr CheckCreateShape(CreateStep step, UInt16 numChannels, SInt16 numBits, float sampleRate) const override;
    OSErr WriteHeader() override;
    OSErr RewriteHeader() override;
    OSErr CheckWriteExtent(UInt64 endFrame) const override;

private:
    // Stores data size, rate, period and word length into a header.
    void PutShape(UInt8* header) const;
};

void RegisterSD1FileTypes();
