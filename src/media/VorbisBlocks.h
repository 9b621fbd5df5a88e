#pragma once

#include "MacTypes.h"

#include <cstdint>
#include <vector>

// What a Vorbis decoder gives of each audio packet, read off the packets'
// modes: the window centres of two blocks in a row lie a quarter of each
// block apart, and the first packet gives nothing.
class VorbisBlocks {
public:
    // From the stream's three headers (the codec's extradata, Xiph-laced);
    // false where they cannot be read.
    bool Open(const uint8_t* extradata, int size);
    // The frames the decoder gives of the next packet; -1 for one that is
    // no audio packet of the stream.
    int64_t Next(const uint8_t* data, int size);

private:
    int blocksize_[2] = {};
    std::vector<uint8_t> blockflags_;  // by mode
    int modeBits_ = 0;
    int previous_ = -1;  // the block size of the packet before (-1: none)
};
