// A native FLAC file's packets decoded by libFLAC where each is one whole
// frame (FlacFrameDecoder), and by the libraries' decoder where libFLAC
// refuses one, as it would had the file been opened through them.  A file
// opened without the libraries has them loaded then, where the reading
// stands (Attach); where they cannot be, the frame is refused.
#pragma once

#include "FrameDecoder.h"
#include "LibraryFrameDecoder.h"

class TrackDecoding;

class FlacFallbackDecoder : public FrameDecoder {
public:
    // `withoutLibraries`: the track was opened without them.
    FlacFallbackDecoder(TrackDecoding& track, bool withoutLibraries)
        : track_(track), libraries_(track), withoutLibraries_(withoutLibraries)
    {
    }

    int Send() override;
    bool Receive(bool* refused) override;
    void Flush() override { libraries_.Flush(); }
    void Reset() override { state_ = State::None; }
    bool WithoutLibraries() const override { return withoutLibraries_; }

    // Leaves the reading without the libraries for theirs, where it
    // stands.  False, and nothing changed, where they cannot be opened.
    bool Attach();

private:
    // The frame libFLAC decoded last, into the track's `frame` (its
    // samples stay libFLAC's until the next packet).
    void TakeFrame();

    TrackDecoding& track_;
    LibraryFrameDecoder libraries_;
    bool withoutLibraries_;
    // Where the packet sent last stands: its frame to give, given, or not
    // decoded by libFLAC.
    enum class State { None, Ready, Given } state_ = State::None;
};
