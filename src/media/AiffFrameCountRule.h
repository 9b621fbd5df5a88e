// AIFF-C files of IMA 4:1 say how long their track is (the frame count of
// 'COMM'): fewer frames in the packets mean the file was cut short.
#pragma once

#include "TrackVerdict.h"

struct AVStream;

class AiffFrameCountRule {
public:
    // The track `st` (of IMA 4:1 in an AIFF-C file), whose packets hold
    // `counted` frames: true with the finding where it states a length
    // (cut where it states more).
    static bool Settle(const AVStream* st, UInt64 counted, TrackFinding* found);
};
