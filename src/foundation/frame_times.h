// Times in seconds as frame positions.  Every place that turns a time into
// a frame (snip times, fade lengths, margins and gaps, start times a file
// stores in seconds) goes through this one rule, so that a range of decimal
// times starts and ends where its times say and has the length they give.
#pragma once

#include "MacTypes.h"

#include <limits>

// The frame nearest to `seconds` at `rate` frames per second; a half frame
// goes to the later frame.  A decimal time is held as the double nearest to
// it, a few units in the last place off, so a product that close below a
// half counts as the half.  0 for a product that is not positive or not a
// number; `limit` for one at or past it.
UInt64 FramesFromSeconds(double seconds, double rate, UInt64 limit = std::numeric_limits<UInt64>::max());
