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
// The lifecycle and block I/O are CLinearPCMFile's, on the resource fork:
// m_refNum is the fork the owned ZuResourceFile opened, and only the
// samples of a sound read come from the resource instead.
//
// Writing lays out the whole resource fork itself, through fork I/O:
//   0    resource header (data 256, map 344 + A, data length 88 + A, map 306)
//   256  length of the resource's data (84 + A)
//   260  'snd ' format 1 header: one buffer command (data-offset flag) and
//        an extended sound header (rate as 16.16 fixed and 80-bit extended)
//   344  A bytes of interleaved samples
//   344 + A  resource map: one type 'snd ', ID 13456, purgeable, named
//        after the file.
// At most 48000 Hz and 0xFFFFFF bytes of samples; 8 or 16 bits.
#pragma once

#include "CLinearPCMFile.h"
#include "error_codes.h"
#include "MemoryManager.h"

#include <memory>

class ZuResourceFile;


// The resource ID of the sound we write.
constexpr SInt16 kSndResourceID = 13456;

class CSndRsrcFile : public CLinearPCMFile {
public:
    CSndRsrcFile();
    ~CSndRsrcFile() override;

    OSErr SetFilePos(UInt32 frame) override;
    OSErr RecalcNumFrames() override;

    // Offset of the first sample: inside the resource's data when reading,
    // inside the fork when writing.
    SInt64 GetDataStart() const { return GetDataOffset(); }

protected:
    OSErr OpenFileFork() override;
    OSErr CloseFileFork() override;
    OSErr MakeDataFork() override;
    void DropFinderInfoTheFileTells(bool complete) override;
    OSErr ReadHeader() override;
    OSErr CheckCreateShape(CreateStep step, UInt16 numChannels, SInt16 numBits, float sampleRate) const override;
    OSErr SetUpNewFile(const UInt8* fileTypeSpecifics) override;
    // The fork as it stands while samples are written: resource header and
    // 'snd ' header, no map yet.
    OSErr WriteHeader() override;
    // The whole fork: headers with the final sizes, then the map.
    OSErr RewriteHeader() override;
    OSErr CheckWriteExtent(UInt64 endFrame) const override;
    // A sound read is read from the resource (ReadPartialResource).
    OSErr ReadFileFrames(UInt8* data, UInt32 frame, UInt32 frames, std::size_t* bytes) override;

private:
    // The 84-byte 'snd ' header of a written file.
    void BuildSndHeader(UInt8* out) const;
    // Bytes of the resource's data (found by partial reads; never loads it).
    SInt64 ResourceSize(SInt64 upperBound) const;
    void ReleaseResourceFile() noexcept;

    Handle m_sndHandle = nullptr;
    std::unique_ptr<ZuResourceFile> m_resourceFile;
};
