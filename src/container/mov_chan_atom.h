// The channel layout a QuickTime movie or MPEG-4 file stores for a sound
// track: the 'chan' atom of the track's first sample description (directly
// or inside its 'wave' atom), read without the media libraries, every size
// checked against its parent atom and the file.
#pragma once

#include "MacTypes.h"

#include <string>
#include <vector>

// The layout of track `track` (its index among the movie's tracks) as the
// body of a CAF 'chan' chunk (tag, bitmap, description count,
// descriptions); empty when the file stores none for that track.
std::vector<UInt8> MovieTrackChannelLayout(const std::string& path, unsigned track);
