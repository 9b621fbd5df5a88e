// The length a movie file presents: its movie header's duration, its one
// track's header duration and the length of its edit list's last edit,
// set in place after the muxer has written the file.  The exporter gives a
// short sound a packet of silence after it (so that readers find the
// edit's start inside a packet that is not the track's last), which the
// muxer counts into those lengths; they are set back to the sound's.
//
// Internal to the media layer.
#pragma once

#include "MacTypes.h"

#include <string>

class MovieEditLength {
public:
    // Sets the lengths of the movie open as `refNum` (read and write) to
    // `frames` frames of `sampleRate` (in the movie's time scale, rounded
    // up).  paramErr when the file holds no movie box of one track with an
    // edit list; I/O codes otherwise.
    static OSErr Set(SInt16 refNum, UInt64 frames, double sampleRate);
};
