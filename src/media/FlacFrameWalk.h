// Proves a native FLAC file whole from its bytes alone: after its metadata
// blocks, frame after frame to the file's last byte, each frame's header
// CRC-8 and frame CRC-16 holding, numbered in order from the first (by
// frames, or with variable blocking by the samples before it), of the
// stream's channels and bits, every frame but the last of the first one's
// block size (fixed blocking), and the samples summing to what STREAMINFO
// states.  Such a file's frames are the packets the demuxer finds in it, one
// frame each; they are found here at a small part of the cost.
#pragma once

#include "MacTypes.h"

#include <cstdint>
#include <string>
#include <vector>

class FlacFrameWalk {
public:
    struct Frame {
        int64_t pos;     // the frame's first byte
        UInt32 bytes;    // its length
        UInt64 start;    // the samples of the frames before it
        UInt32 samples;  // its block size
    };

    // The frames of the native FLAC file at `path`; empty unless the file
    // is whole as above.  `firstFrame`: where its first frame begins, where
    // the caller has walked the metadata blocks (-1: they are walked here).
    static std::vector<Frame> Whole(const std::string& path, int64_t firstFrame = -1);
};
