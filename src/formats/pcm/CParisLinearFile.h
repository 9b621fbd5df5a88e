// Paris audio files (".paf"): a 2048-byte header (magic " paf" with
// big-endian words, or "fap " with little-endian words) and linear samples
// of 8, 16 or packed 24 bits.
//
// 24-bit data is stored in groups of ten frames: for each channel in turn a
// 32-byte block holding that channel's ten samples as 3-byte values (least
// significant byte first, when the block is read as little-endian 32-bit
// words) and two zero bytes.  In a big-endian file each 32-bit word of the
// block is byte-reversed.  A file holds whole groups only: a last,
// incomplete group is written padded with silence.
//
// The byte order of a written file comes from the first byte of the
// conversion's file-type block: 'L' little-endian, anything else big-endian.
#pragma once

#include "CLinearPCMFile.h"
#include "error_codes.h"

#include <string>
#include <vector>


class CParisLinearFile : public CLinearPCMFile {
public:
    CParisLinearFile();
    ~CParisLinearFile() override;

    Boolean IsLittleEndian() const { return m_byteOrder == 1; }
    UInt32 GetHeaderWord24() const { return m_headerWord24; }

protected:
    OSErr ReadHeader() override;
    // The file region; its result is not the open's.
    OSErr AfterOpen() override;
    OSErr CheckCreateShape(CreateStep step, UInt16 numChannels, SInt16 numBits, float sampleRate) const override;
    // The byte order comes from the first byte of the specifics.
    OSErr SetUpNewFile(const UInt8* fileTypeSpecifics) override;
    OSErr WriteHeader() override;
    // File position of `frame` (for 24 bits: of the group holding it).
    SInt64 FramePosition(UInt32 frame) const override;
    UInt32 FramesUpTo(SInt64 length) const override;
    // 24-bit samples are packed in groups of ten frames a channel.
    OSErr LoadFrames(UInt8* block, UInt32 frame, UInt32 frames, std::size_t* filled) override;
    OSErr StoreFrames(UInt32 frames, UInt32 frame) override;

private:
    void SetTransform();
    // Groups [first, first + count) as stored (zeros past the end of file).
    OSErr ReadGroups(UInt64 first, UInt64 count, std::vector<UInt8>* groups);
    // Reads the groups holding frames [frame, frame + frames) into the
    // scratch block and copies every sample between them and `block`: into
    // the block when `toBlock`, into the groups otherwise.
    OSErr ExchangeGroups(UInt32 frame, UInt32 frames, UInt8* block, bool toBlock);

    UInt32 m_headerWord24 = 0;
    UInt32 m_formatCode = 0;
    UInt32 m_byteOrder = 0;          // 0 big-endian, 1 little-endian
};

// The channel count of the Paris file at `path` (the word at offset 20,
// little-endian after "fap "); 0 when the file cannot be read.
UInt32 GetParisNumChannels(const std::string& path);
