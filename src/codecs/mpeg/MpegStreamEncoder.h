// MpegStreamEncoder: encodes a stream of interleaved 16-bit big-endian PCM
// (the data of a linear intermediate file) into MPEG-1 Layer I or II
// frames written to an output stream.  A decoder gives every input sample
// back DecoderLag samples late, so the stream runs on, the frames filled
// with silence, until a decoder has given the last input sample.
#pragma once

#include "error_codes.h"
#include "MpegFrameEncoder.h"

#include <cstdint>
#include <cstdio>
#include <functional>

class MpegStreamEncoder {
public:
    struct Result {
        uint64_t frames = 0;           // frames written
        uint64_t bytes = 0;            // bytes of frames written
        uint64_t lastFrameOffset = 0;  // offset of the last frame from the first
        int lastPadding = 0;           // padding bit of the last frame
    };

    // How late a decoder gives back each input sample: the analysis and
    // synthesis filterbanks make 481 samples (a reader of a stream whose
    // length is known skips them); Layer I analyses each frame 64 samples
    // later still.
    static constexpr int DecoderLag(int layer) { return layer == 1 ? 481 + 64 : 481; }

    // `progress` gets the input frames done after every MPEG frame; a
    // non-zero result (the stop code) ends the encode with that code.
    using Progress = std::function<int(uint64_t framesDone)>;

    // Encodes `inputFrames` sample frames of `settings.mode == single
    // channel ? 1 : 2` channels read from `in` (at its current position)
    // into `out` (at its current position).  0 or an error code.
    int Encode(const MpegFrameEncoder::Settings& settings, std::FILE* in, uint64_t inputFrames, std::FILE* out,
               const Progress& progress, Result* result);
};
