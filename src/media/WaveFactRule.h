// A compressed WAVE stream ends where its 'fact' chunk says, not with the
// padding of its last block.  A Layer I or II stream gives its input back
// after the filterbanks' delay: the sound 'fact' counts starts there.
#pragma once

#include "CodecTraits.h"
#include "TrackVerdict.h"

#include <string>

class WaveFactRule {
public:
    // The finding for the compressed track (`codec`) of the WAVE file at
    // `path`, of which `counted` frames were counted; *startSkip gets the
    // decoded frames before the sound's first (the filterbanks' delay of
    // a lagged stream), where 'fact' counts from there.
    static TrackFinding Settle(const std::string& path, const CodecTraits& codec, UInt64 counted, UInt64* startSkip);
    // The sample frames that the 'fact' chunk of a RIFF/WAVE file gives,
    // or 0 when it has none (or gives 0, a placeholder some writers
    // leave).  The last block of a compressed stream holds whole blocks of
    // frames; 'fact' says how many of them belong to the sound.
    static UInt64 FactFrames(const std::string& path);
};
