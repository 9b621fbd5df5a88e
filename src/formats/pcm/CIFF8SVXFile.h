// CIFF8SVXFile: Amiga IFF 8SVX ('FORM'/'8SVX'), mono signed 8-bit samples,
// read and written; its 16-bit form ('FORM'/'16SV': the same chunks, the
// samples big-endian signed 16-bit words) is read too.
//
// Written layout (big-endian):
//    0  'FORM', size (the characters "size" while writing), '8SVX'
//   12  'VHDR', 20, then: one-shot samples (the frame count), repeat samples
//       0, samples per cycle 0, u16 samples per second, octaves 0,
//       compression 0, volume 0x00010000
//   40  'BODY', size (the characters "size" while writing, then the frame
//       count), the samples; one uncounted pad byte after an odd count.
//
// Reading walks the chunks with ChunkReader (bounded to the FORM and the
// file).  The frame count is the 'BODY' size cut to what the file holds, so
// the repeat part of looped instruments is kept; behind a placeholder size
// it is the samples 'VHDR' counts, as far as the file holds them.  Only
// 8-bit files are written.  Delta-compressed bodies are
// refused (-23800), and so are stereo files ('CHAN' 6: -22803).
//
// Codes: -22800 no 'VHDR' (or one shorter than 20 bytes), -22802 no 'FORM' at
// close, -22803 create with more than one channel or a stereo file, -22804 create with a word
// length other than 8, -22004 chunk not found ('BODY' included), -22009
// corrupt chunk size, -38 close of a closed file; paramErr for a rate that
// the 16-bit rate field cannot hold.
#pragma once

#include "CLinearPCMFile.h"
#include "ChunkReader.h"
#include "error_codes.h"
#include "SoundFileTypeDescriptor.h"

constexpr OSType kIFF8SVXFileType = FOUR_CHAR_CODE("8SVX");
// The form type of the 16-bit files.
constexpr OSType kIFF16SVFormType = FOUR_CHAR_CODE("16SV");


class CIFF8SVXFile : public CLinearPCMFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    CIFF8SVXFile();
    ~CIFF8SVXFile() override;

    // Reads the voice header only.
    OSErr ProbeHeader(SInt16* result) override;

    // Finds a chunk: on success the mark stands after its ID and `info` (may
    // be null) describes it.  'FORM' checks the first four bytes.  -22004 when
    // it is not there, -22009 for a corrupt size.
    OSErr FindChunk(OSType id, ChunkInfo* info = nullptr);

protected:
    OSErr ReadHeader() override;
    OSErr CheckCreateShape(CreateStep step, UInt16 numChannels, SInt16 numBits, float sampleRate) const override;
    OSErr WriteHeader() override;
    OSErr RewriteHeader() override;
    OSErr CheckWriteExtent(UInt64 endFrame) const override;

private:
    // The body of chunk `id` (at most `maxBytes`); -22004 when it is missing.
    OSErr ReadChunkBody(OSType id, ChunkView* body, SInt64 maxBytes);
    // Writes `bytes` over chunk `id`, from its header or from its size field.
    OSErr OverwriteChunk(OSType id, bool fromHeader, const ChunkBuilder& bytes);
    // Reads 'VHDR': one channel, the form's word length, rate; -22800 when
    // it is missing.
    OSErr ReadVoiceHeader();
    // The bytes of a sample: 2 in a '16SV' form, else 1.
    UInt32 BytesPerSample();
    // -22803 when a 'CHAN' chunk declares both channels (stereo bodies hold
    // one channel after the other, which this class does not read).
    OSErr CheckMono();

    UInt64 m_voiceFrames = 0;  // one-shot and repeat samples of 'VHDR'
};
