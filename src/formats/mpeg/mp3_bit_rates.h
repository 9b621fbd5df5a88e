// The bit rates an MP3 file was written at, read back from the file: what
// the encoder made of the rate it was asked for (at a low sample rate it
// writes less than asked).
#pragma once

#include <string>

struct MP3BitRates {
    // The highest bit rate, in kbit/s, among the MPEG audio Layer III
    // frames, walked frame by frame from the first one (after an ID3v2 tag
    // at the start) to the first bytes that are not a frame (an ID3v1 tag,
    // the end); 0 when there is none.
    int highestFrame = 0;
    // The rate the encoder aimed at, as its own tag in the first frame
    // records it (the constant rate, or the average one); 0 when the file
    // has no such tag or the tag gives 255 kbit/s or more (it holds no
    // higher figure).
    int encoderTarget = 0;
};

// Both rates of the file at `path`; zeros when it cannot be read.
MP3BitRates ReadMP3BitRates(const std::string& path);
