// What the movie source knows of each codec of the media libraries.
#pragma once

#include "MacTypes.h"

#include <libavcodec/codec_id.h>

namespace movie_input {

// Codecs whose decoder gives every packet's sound as soon as it has it
// (no packet of theirs gives nothing unless it is refused).
bool SoundPerPacket(AVCodecID id);

bool Trusted(AVCodecID id);

OSType DataFormatFor(AVCodecID id);

} // namespace movie_input
