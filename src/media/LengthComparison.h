// Every length a container or a stream states of a track, held against the
// frames the track delivers, in the one place where both are known (the
// count's last step, once every rule has spoken): a difference of more than
// a packet is said once, as sound lost (cut off, "unexpected end of file",
// only where the rules found the bytes end early) or repeated, or, where
// nothing was found damaged, as a header that misstates the length; a
// statement that cannot be true (more than the file's bytes can hold) is
// said as such, never as an amount.  What the rules said already is kept
// where it agrees, made up where it falls short, and capped where it says
// more than the difference (a refused packet counted at what its header
// states).  Where no rule states a length, what the rules found the track
// is to hold (or the demuxer's duration) caps what is said lost beyond the
// packets refused.
#pragma once

#include "CountResult.h"
#include "TrackVerdict.h"

class LengthComparison {
public:
    // The finding for a track of `lengths`, of a file of `fileBytes` (-1:
    // unknown), after what the rules found (`sofar`).
    static TrackFinding Settle(const TrackLengths& lengths, const TrackVerdict& sofar, int64_t fileBytes);
};
