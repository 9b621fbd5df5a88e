// CVOCFile: Creative Voice files of 8-bit unsigned mono samples in one
// sound-data block (type 'VOC ', "Voc").
//
// File layout: the 26-byte header ("Creative Voice File", 0x1A, header size,
// version, check value), then blocks of a type byte and a 24-bit
// little-endian body length, ended by a single terminator byte 0.  Written
// files hold one sound-data block (type 1: time-constant byte, pack 0, the
// unsigned samples).  The data length field has 24 bits, so a file holds at
// most 0xFFFFFF - 2 sample bytes; a write beyond that is refused.
//
// The class is also the base of CVOC_SBFile ('VOC2'), which differs in the
// blocks it reads and writes (ReadHeader, WriteHeader, UpdateBlockHeaders)
// and in its sample form; the block walk, the block I/O and the lifecycle
// are shared.
#pragma once

#include "CLinearPCMFile.h"
#include "error_codes.h"
#include "SoundFileTypeDescriptor.h"

#include <istream>

// The largest body of one block (24-bit length field).
constexpr UInt32 kVOCMaxBlockLength = 0xFFFFFF;

// The block walk on a stream: from the header size at offset 20, block by
// block, until a block of `blockType`.  0 leaves the stream just after that
// block's 4-byte header; -22004 when the terminator, the end of the file or
// a failed read comes first.
OSErr FindVOCBlock(UInt8 blockType, std::istream& stream);

class CVOCFile : public CLinearPCMFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    CVOCFile();
    ~CVOCFile() override;

    OSErr RecalcNumFrames() override;

    // The body length of a block from its 4-byte header (24 bits).
    static UInt32 BlockLength(const UInt8* header);

protected:
    CVOCFile(OSType fileType, const char* formatName);

    // Updates the block lengths and ends the file with a terminator block.
    OSErr RewriteHeader() override;
    OSErr CheckWriteExtent(UInt64 endFrame) const override;
    // Unsigned 8-bit or little-endian 16-bit samples, by the word length.
    void SetTransform();
    // Reads the blocks that describe the sound: shape, rate, frame count,
    // sample-format code; leaves the mark on the first sample byte.
    OSErr ReadHeader() override;
    OSErr AfterOpen() override;
    // Checks the shape asked of Create (the class's error codes).
    OSErr CheckCreateShape(CreateStep step, UInt16 numChannels, SInt16 numBits, float sampleRate) const override;
    OSErr SetUpNewFile(const UInt8* fileTypeSpecifics) override;
    // Writes the file header and the blocks after it, up to the first
    // sample byte, with placeholder lengths.
    OSErr WriteHeader() override;
    // Rewrites those blocks with the real lengths (on close).
    virtual OSErr UpdateBlockHeaders();
    // Header bytes in front of the samples inside the sound-data block body
    // (counted by its length field).
    virtual UInt32 DataBlockOverhead() const { return 2; }

    OSErr WriteFileHeader(UInt16 version);
    OSErr UpdateHeader();
    // On the open file: the position of the first block (from the header
    // size at offset 20).
    OSErr FirstBlock(SInt64* position);
    // Walks the blocks from the block header at `position` to the first
    // block of type `a` or `b`; its type and the position of its body.
    // -22004 when the terminator or the end of the file comes first.
    OSErr FindBlockFrom(SInt64 position, UInt8 a, UInt8 b, UInt8* type, SInt64* body);
    UInt32 FrameBytes() const;
    // Sets the frame count from the sample bytes the data block declares,
    // clamped to the file; a length that leaves the rest of the file
    // unparsable is taken as a streaming writer's placeholder, and the sound
    // then runs to the end of the file (less a final terminator byte).
    OSErr SettleSampleBytes(UInt64 declared);
    // True when the blocks from `position` on end at the end of the file
    // (or in a terminator that is the file's last byte).
    bool EndsCleanly(SInt64 position, SInt64 eof);

    UInt64 m_declaredBytes = 0;   // sample bytes the data block declares (reading)
};
