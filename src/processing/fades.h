// Fades: a finished output gets a fade-in at its start and a fade-out at its
// end, in place.  The gain law is the square of a linear ramp: frame i of a
// fade-in of n frames is scaled by (i / n)^2, frame i of a fade-out by
// ((n - i) / n)^2; every channel of a frame gets the same gain.
//
// Each fade is at most 5 seconds; when the file is too short for both, the
// two lengths shrink together by 0.95 per step; fades that still do not fit
// leave the file untouched.  No progress is posted.
#pragma once

#include "MacTypes.h"

class CSoundFile;

// What the fades take from the conversion.
struct FadeSettings {
    bool needsFades = false;
    float fadeInTime = 20.0f;   // milliseconds; negative or not a number: 0
    float fadeOutTime = 20.0f;  // milliseconds; negative or not a number: 0
};

// The fade lengths in frames that ApplyFades would use on a file of
// `frames` frames at `sampleRate`; both 0 when no fade would be applied.
void FadeLengths(const FadeSettings& settings, double sampleRate, UInt32 frames, UInt32* fadeIn,
                 UInt32* fadeOut);

// Applies the fades to `file` (open, all its frames written), reading and
// writing interleaved doubles through the file.  Returns 0 (also when fades
// are off or do not fit), -21004 when the buffer cannot be allocated, or the
// code of a failing read or write (a failing fade-out leaves the fade-in
// written).
SInt32 ApplyFades(CSoundFile* file, const FadeSettings& settings);
