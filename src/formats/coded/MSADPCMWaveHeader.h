// The RIFF side of Microsoft ADPCM WAVE files: reading the chunk list
// ('fmt ' or "fmt\r", 'fact', 'data', 'cue ', 'LIST'/'adtl') with every size,
// count and offset checked against its chunk and the file, and building
// the header and annotation chunks we write.  No sample data here.
#pragma once

#include "MSADPCMCodec.h"
#include "MacTypes.h"
#include "SoundFileRecords.h"

#include <functional>
#include <vector>

class MSADPCMWaveHeader {
public:
    // Reads `count` bytes at `position`; eofErr when the file ends first.
    using Reader = std::function<OSErr(UInt64 position, void* bytes, std::size_t count)>;

    // What a file holds.
    UInt16 channels = 0;
    UInt32 sampleRate = 0;
    UInt16 blockAlign = 0;
    UInt16 samplesPerBlock = 0;
    std::vector<MSADPCMCodec::Coefficients> coefficients;
    UInt32 factFrames = 0;     // from 'fact', or the data's when there is none
    UInt64 dataOffset = 0;
    UInt64 dataSize = 0;       // cut to what the file holds
    // Annotations in file order (cue identifiers resolved to positions).
    struct Label {
        bool isRegion;         // 'ltxt' (region) or 'labl'/'note' (marker)
        UInt32 position;
        UInt32 length;         // regions: frames
        Str31 name;            // markers: the text (at most 31 bytes)
    };
    std::vector<Label> labels;

    // Reads and checks the chunks.  Codes: -23201 no format chunk, -23204
    // not format tag 2 or an unusable block layout, -23207 channels not 1 or
    // 2, -23200 no 'data', -23202 a 'fact' too short.  A file without
    // 'fact' has the frames its data holds (FramesInData).
    // The annotations are best effort: damaged ones are skipped.
    OSErr Read(const Reader& read, UInt64 fileLength);

    MSADPCMCodec Codec() const;
    // Frames the data chunk holds (whole blocks and a short last one).
    UInt64 FramesInData() const;

    // The block layout we write for a channel count and rate, with blocks
    // of at most `maxFrames` frames.
    static void ChooseLayout(UInt16 channels, double rate, UInt32 maxFrames, UInt16* blockAlign,
                             UInt16* samplesPerBlock);
    // "RIFF" .. "data" size with the seven standard pairs (90 bytes); the
    // data offset is its size.
    static std::vector<UInt8> Build(UInt16 channels, UInt32 rate, UInt16 blockAlign, UInt16 samplesPerBlock,
                                    UInt32 frames, UInt32 dataSize, UInt32 riffSize);
    // Offsets of the fields that Build leaves for the close.
    static constexpr UInt32 kRiffSizeOffset = 4;
    static constexpr UInt32 kFactValueOffset = 78;
    static constexpr UInt32 kDataSizeOffset = 86;
    static constexpr UInt32 kHeaderBytes = 90;

    // The 'cue ' and 'LIST'/'adtl' chunks of markers and regions; empty
    // when there are none.
    static std::vector<UInt8> BuildAnnotations(const std::vector<SFTMarker>& markers,
                                               const std::vector<SFTRegion>& regions);
};
