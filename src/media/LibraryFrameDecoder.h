// The libraries' decoder: a Layer I frame whose checksum fails is refused
// before it; a decoded frame of another shape than the track's is none of
// its sound, nor, where the packets tell the frames, one at another rate.
#pragma once

#include "FrameDecoder.h"

class TrackDecoding;

class LibraryFrameDecoder : public FrameDecoder {
public:
    explicit LibraryFrameDecoder(TrackDecoding& track) : track_(track) {}

    int Send() override;
    bool Receive(bool* refused) override;
    void Flush() override;

private:
    TrackDecoding& track_;
};
