// CCITTFile: headerless packed G.726 ADPCM code streams (the G.721 and
// G.723 rates), mono at 8000 Hz when read.  One class for the seven types;
// the code width and type code are given at construction:
//   '21-4' and '26-4' 4 bits (32 kbit/s), '23-2' 2 bits (16 kbit/s),
//   '23-3' and '26-3' 3 bits (24 kbit/s), '23-5' and '26-5' 5 bits (40 kbit/s).
// Codes are packed least significant bit first; a code may straddle two
// bytes.  Reading decodes (the decoder restarts when an earlier frame is
// asked for); writing encodes block by block as the blocks arrive, in
// order from frame 0, and the last partial byte is written, zero-padded,
// at close.
#pragma once

#include "CDescribedFile.h"
#include "CTypedSoundFile.h"
#include "g72x.h"

#include <vector>

class CCITTFile : public CDescribedFile<CTypedSoundFile> {
public:
    CCITTFile(OSType type, int codeBits, const char* formatName);
    ~CCITTFile() override;

    OSErr Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                 ConstStr255Param nameExtension, float sampleRate) override;
    OSErr Close() override;
    OSErr ReadBlock(UInt32 frame) override;
    OSErr PrepareWriteBlock(UInt32 frame) override;
    OSErr WriteBlock(UInt32 frames, UInt32 frame) override;
    OSErr SetFilePos(UInt32 frame) override;
    OSErr RecalcNumFrames() override;

    int CodeBits() const { return m_codeBits; }

    // The types, for registration.
    static void RegisterTypes();

private:
    OSErr OpenAndDescribe() override;
    OSErr Decode(UInt32 frame, UInt32 frames, int16_t* out);
    OSErr Flush();

    int m_codeBits;
    G72xEncoder m_encode;
    G72xDecoder m_decode;

    g72x_state m_decoder{};
    UInt32 m_decodedFrames = 0;   // codes the decoder has consumed
    g72x_state m_encoder{};
    UInt32 m_encodedFrames = 0;   // frames written so far
    UInt32 m_accumulator = 0;     // codes not yet written, lowest bits first
    int m_accumulatedBits = 0;
    SInt64 m_writePosition = 0;
    bool m_writing = false;
};
