// CSndRsrcFile: System 7 sound files (type 'sfil', "System 7 Sound"): one
// 'snd ' resource of sampled sound in the resource fork, an empty data fork.
//
// Reading goes through the Resource Manager: the first 'snd ' resource is
// found without loading it and its samples are read piece by piece
// (ReadPartialResource).  Accepted: format 1 with one data type (sampled
// sound, 5) and an extended (0xFF, 8- or 16-bit, any channel count) or
// standard (0x00, 8-bit mono) sound header after the command list; format
// 2 with a standard header.  8-bit samples are unsigned, 16-bit signed
// big-endian.  Sizes are checked against the resource: a header that
// promises more frames than the resource holds is clamped.
//
// Writing lays out the whole resource fork itself, through fork I/O on the
// fork the owned ZuResourceFile opened:
//   0    resource header (data 256, map 344 + A, data length 88 + A, map 306)
//   256  length of the resource's data (84 + A)
//   260  'snd ' format 1 header: one buffer command (data-offset flag) and
//        an extended sound header (rate as 16.16 fixed and 80-bit extended)
//   344  A bytes of interleaved samples
//   344 + A  resource map: one type 'snd ', ID 13456, purgeable, named
//        after the file.
// At most 48000 Hz and 0xFFFFFF bytes of samples; 8 or 16 bits.
#pragma once

#include "CSoundFile.h"
#include "MemoryManager.h"

#include <memory>

class ZuResourceFile;

constexpr OSErr kSndTooBigErr = -23400;          // "System 7 sound bigger than 16 MB"
constexpr OSErr kSndNotSampledErr = -23402;      // "System 7 sounds other than sampled ones are not supported"
constexpr OSErr kSndUndocumentedErr = -23403;    // "undocumented System 7 sound format"
constexpr OSErr kSndMultipleTypesErr = -23404;   // "System 7 sounds with multiple data types are not supported"
constexpr OSErr kSndSampleRateErr = -23405;      // "has incompatible samplerate (must be under 48000Hz)"
constexpr OSErr kSndWordSizeErr = -23406;        // "has incompatible wordSize (must be 8 or 16 bit)"
constexpr OSErr kSndUnsupportedDataErr = -22700; // "has unsupported data"

// The resource ID of the sound we write.
constexpr SInt16 kSndResourceID = 13456;

class CSndRsrcFile : public CSoundFile {
public:
    CSndRsrcFile();
    ~CSndRsrcFile() override;

    OSErr Open() override;
    OSErr Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                 ConstStr255Param nameExtension, float sampleRate) override;
    OSErr Close() override;
    OSErr ReadBlock(UInt32 frame) override;
    OSErr PrepareWriteBlock(UInt32 frame) override;
    OSErr WriteBlock(UInt32 frames, UInt32 frame) override;
    OSErr SetFilePos(UInt32 frame) override;
    OSErr RecalcNumFrames() override;
    OSErr ProbeHeader(SInt16* result) override;
    OSType GetFileType() const override;
    QString GetFormatName() const override;

    // Offset of the first sample: inside the resource's data when reading,
    // inside the fork when writing.
    SInt64 GetDataStart() const { return m_dataStart; }

private:
    OSErr ReadSndHeader();
    OSErr WriteInitialHeader();
    OSErr WriteFinalHeader();
    OSErr ExtendFork(UInt32 frame);
    // The 84-byte 'snd ' header of a written file.
    void BuildSndHeader(UInt8* out) const;
    // Bytes of the resource's data (found by partial reads; never loads it).
    SInt64 ResourceSize(SInt64 upperBound) const;
    UInt32 FrameBytes() const;
    // 8-bit samples are unsigned in the file, signed in the block: flips
    // their sign bit (either way); wider samples stay as they are.
    void FlipSign(UInt8* bytes, std::size_t count) const;
    // The open check and the block allocated.
    OSErr PrepareBuffer(bool forWriting);
    // Zero-fills a block past its first `filled` bytes (read from the file)
    // and turns those into the block layout.
    void FinishBlock(UInt8* block, std::size_t filled) const;
    void ReleaseResourceFile() noexcept;

    SInt16 m_forkRefNum = 0;
    Handle m_sndHandle = nullptr;
    SInt64 m_dataStart = 0;
    SInt64 m_currentPos = 0;
    std::unique_ptr<ZuResourceFile> m_resourceFile;
    bool m_writing = false;
};
