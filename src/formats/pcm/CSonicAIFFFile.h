// CSonicAIFFFile: the AIFF variant of Sonic workstations ('SAIF'): a
// 'FORM'/'AIFF' file with 'COMM', a 32-byte 'ZuSD' chunk, an 'APPL' chunk
// with the signature 'SSYS' holding the sub-chunks 'MCSF' (2132 bytes),
// 'OFFS' (start time in seconds, 28 or 32 bytes) and 'AFPR' (258 bytes, the
// packing mode), then 'SSND' whose samples start on a 256 KB boundary.
//
// Packing modes (file layout of one sample):
//    1  16-bit big-endian                     9  read as mode 1
//    2  24-bit b0 b1 b2 stored as b1 b0 0 b2  3  24-bit little-endian, packed:
//   10  24-bit little-endian                     of every 262144-byte block of
//   11  24-bit big-endian                        the file the first 245760 bytes
//                                                hold samples, the rest zeros
// Other modes carry no samples we can read: Open refuses them (-22202), as
// it refuses a 'COMM' word length that does not suit the mode.
//
// Writing: 16-bit outputs use mode 1; 24-bit outputs the packing choice
// given as the low byte of Create's `reserved` argument (2, 3, 10 or 11), or
// with choice 0 the mode of the Sonic file read most recently in the process
// when that is a 24-bit mode, else mode 11.  Other word lengths are refused
// (paramErr).  Close pads the file to a multiple of 262144 bytes (always
// adding at least one byte) and patches 'COMM', 'ZuSD', 'APPL', the 'SSND'
// size (to the end of the file) and the FORM size.  Markers, loops and
// regions are not written.
//
// Reading takes markers from 'MARK' (a name starting with '#' is a numbered
// marker: "#<number> <name>"), and loops and sampler data from 'INST' (a loop
// whose marker is missing gives -22202).  Reading limits the 'COMM' frame count to the frames the sample data
// holds; a file without an 'SSYS' 'APPL' chunk or without 'AFPR' is read as
// mode 1 (16-bit) or 11 (24-bit).
//
// Codes: -22200 no FORM at close, -22201 no SSND, -22202 no or unusable
// COMM, -23405 a rate that is not a positive finite number, -38 Close of a
// closed file, -108 no memory for the conversion buffer.
#pragma once

#include "CLinearPCMFile.h"
#include "ChunkReader.h"
#include "SoundFileTypeDescriptor.h"

#include <vector>

constexpr OSType kSonicAIFFFileType = FOUR_CHAR_CODE("SAIF");

class CSonicAIFFFile : public CLinearPCMFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    // Layout constants of the format.
    static constexpr SInt64 kBlockSize = 262144;     // sample data alignment
    static constexpr SInt64 kPackedRun = 245760;     // sample bytes per block in mode 3
    static constexpr std::size_t kMCSFSize = 2132;
    static constexpr std::size_t kAFPRSize = 258;

    CSonicAIFFFile();
    ~CSonicAIFFFile() override;

    // `reserved`: its low byte is the packing choice for 24-bit outputs.
    OSErr Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                 ConstStr255Param nameExtension, float sampleRate) override;
    OSErr ProbeHeader(SInt16* result) override;
    // Replaces the 'MCSF' block with one that names the member (`index`) and
    // its set (two 16-byte identifiers, either may be null).
    void SetSonicInfo(const UInt8* firstID, const UInt8* secondID, UInt32 index) override;
    OSErr SetBufferFrames(UInt32 frames) override;
    // The name of the packing mode (FormatNameForMode).
    QString GetFormatName() const override;

    SInt16 GetPackingMode() const { return m_packingMode; }

    // The display name of a packing mode.
    static QString FormatNameForMode(SInt16 mode);
    // The process-wide packing mode of the Sonic file read most recently (0
    // when none was read).
    static SInt16 GetLastPackingMode();
    static void SetLastPackingMode(SInt16 mode);
    // File bytes of one sample in a packing mode (0 for modes we cannot read).
    static SInt64 FileBytesPerSample(SInt16 mode);
    // Mode 3: the file position of sample byte `index`, counted from a data
    // offset `dataOffset`, leaving out the zero tail of every block.
    static SInt64 PackedPosition(SInt64 dataOffset, SInt64 index);
    // Mode 3: sample bytes between `dataOffset` and `end`.
    static SInt64 PackedBytesBetween(SInt64 dataOffset, SInt64 end);

protected:
    // Open: the FORM header, 'COMM', 'APPL' (the packing), the markers and
    // loops, 'SSND'.
    OSErr ReadHeader() override;
    // Pads the data, rounds the file up to whole blocks, patches the sizes.
    OSErr RewriteHeader() override;
    // Positions and counts in the file's packing.
    SInt64 FramePosition(UInt32 frame) const override;
    UInt32 FramesUpTo(SInt64 length) const override;
    OSErr CheckWriteExtent(UInt64 endFrame) const override;
    OSErr ExtendData(UInt32 frame) override;
    // The packings to and from the block layout.
    OSErr LoadFrames(UInt8* block, UInt32 frame, UInt32 frames, std::size_t* filled) override;
    OSErr StoreFrames(UInt32 frames, UInt32 frame) override;

private:
    OSErr ReadFormHeader();
    OSErr FindChunk(OSType id, ChunkInfo* info, UInt32 occurrence = 1);
    // FindChunk, then the chunk's body (at most maxBytes of it when >= 0);
    // *found false (and noErr) when the chunk is not there.
    OSErr ReadChunk(OSType id, ChunkInfo* info, ChunkView* body, bool* found, SInt64 maxBytes = -1,
                    UInt32 occurrence = 1);
    OSErr ReadCOMM();
    OSErr ReadAPPL();
    OSErr LocateSoundData();
    // Markers ('MARK'), then the loops and sampler data of 'INST'.
    OSErr ReadMARK();
    OSErr ReadINST();
    // 'ZuSD' and 'APPL' (at offset 38).
    OSErr WriteHeaderChunks();
    void FillFreshMCSF();
    std::vector<UInt8> BuildOFFS() const;
    std::vector<UInt8> BuildAFPR() const;
    // File position of sample byte `index` of the sample stream.
    SInt64 SamplePosition(SInt64 index) const;
    // Reads / writes `count` bytes of the sample stream from `index` on
    // (mode 3 in runs that skip the zero tails).  Reading stops at the end
    // of the file (*got); writing extends the file with zeros first.
    OSErr ReadSampleBytes(SInt64 index, UInt8* out, std::size_t count, std::size_t* got);
    OSErr WriteSampleBytes(SInt64 index, const UInt8* data, std::size_t count);
    UInt8* ConversionBuffer();

    std::vector<UInt8> m_afpr;
    std::vector<UInt8> m_mcsf;
    std::vector<UInt8> m_offs;
    std::vector<UInt8> m_conversion;
    SInt64 m_formEnd = 0;
    SInt16 m_packingMode = 0;
    bool m_freshHeader = true;
};
