// The RIFF side of Microsoft ADPCM WAVE files: what the family's chunks
// ('fmt ' or "fmt\r", 'fact', 'data', 'cue ', 'LIST'/'adtl', read by
// wave_chunks from one walk over the file) say of the coded data, and
// building the header and annotation chunks we write.  No sample data here.
#pragma once

#include "MSADPCMCodec.h"
#include "MacTypes.h"
#include "SoundFileRecords.h"
#include "wave_chunks.h"

#include <vector>

class MSADPCMWaveHeader {
public:
    // What a file holds.
    UInt16 channels = 0;
    UInt32 sampleRate = 0;
    UInt16 blockAlign = 0;
    UInt16 samplesPerBlock = 0;
    std::vector<MSADPCMCodec::Coefficients> coefficients;
    UInt32 factFrames = 0;     // from 'fact', or the data's when there is none
    UInt64 dataOffset = 0;
    UInt64 dataSize = 0;       // cut to what the file holds
    // Markers and regions of 'cue ' and 'adtl', in file order.
    std::vector<wave_chunks::CueAnnotation> labels;

    // Reads and checks the chunks of the file `source` reads.  Codes:
    // -23201 no format chunk, -23204 not format tag 2 or an unusable block
    // layout, -23207 channels not 1 or 2, -23200 no 'data', -23202 a 'fact'
    // too short; a failed read is the source's code.  A file without
    // 'fact' has the frames its data holds (FramesInData).  The
    // annotations are best effort: damaged ones are skipped.
    OSErr Read(ChunkSource& source);

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
