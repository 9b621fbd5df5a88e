// The length of the sound of a WAVE file the media libraries read (RF64
// and BW64, whose 'ds64' chunk states the sizes past 4 GB, Wave64, whose
// chunks have 64-bit sizes, and WAVE itself): its data chunk's size, which
// of a track of samples (linear PCM, A-law, mu-law) states the frames.  A
// data chunk that runs past the file's end was cut there.  The byte that
// pads an odd chunk (Wave64: up to seven, to a multiple of eight) is no
// sound, also where a writer counts it in the chunk's size.
#pragma once

#include "CodecTraits.h"
#include "PositionedFile.h"
#include "TrackLengthRule.h"

class WaveDataRule : public TrackLengthRule {
public:
    // Where the data chunk's body begins, the bytes its size states (or
    // the 'ds64' chunk's for it), and how many bytes may pad it.
    struct Data {
        int64_t body = -1;
        UInt64 bytes = 0;
        int padding = 1;
    };
    // False where the file is no such file, has no data chunk, or states
    // no size for it (a placeholder: to the end of the file).
    static bool FindData(PositionedFile& file, Data* out);

    explicit WaveDataRule(const CodecTraits& codec) : sampleFrames_(codec.sampleFrames) {}
    TrackFinding Settle(const TrackTally& tally) override;

private:
    bool sampleFrames_;
};
