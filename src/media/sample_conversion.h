// Decoded samples as signed 32-bit words.
#pragma once

#include "MacTypes.h"

#include "MediaLibraries.h"

namespace movie_input {

// `count` samples of one channel of a decoded frame, from sample `first`,
// as 32-bit integers.
// Float samples [countFrom, countTo) of them beyond full scale are counted
// as clipped.
void ConvertChannel(const AVFrame* frame, int channel, int channels, int first, UInt32 count, SInt32* out,
                    UInt32 countFrom, UInt32 countTo);

} // namespace movie_input
