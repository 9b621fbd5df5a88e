// What turns a track's packets into sound: the libraries' decoder
// (LibraryFrameDecoder), or libFLAC with the libraries' decoder behind it
// for the frames it refuses (FlacFallbackDecoder).  A decoder takes a
// packet (a value) and gives the frames it decodes; it owns its decoding
// state.
#pragma once

#include "MacTypes.h"
#include "Packet.h"

struct AVFrame;

// What the count learned that a decoder of the libraries needs when it is
// opened: whether the index trims the decoded frames (the libraries' own
// trimming is then left off), and the first MPEG audio frame header (whose
// protection bit says whether the frames' checksums are checked).
struct DecoderPlan {
    bool indexTrims = false;
    UInt32 firstMpegHeader = 0;
};

class FrameDecoder {
public:
    virtual ~FrameDecoder() = default;

    // Sends a packet; negative: refused whole.
    virtual int Send(const Packet& packet) = 0;
    // No packet follows: what the decoder holds is drained.
    virtual void SendEnd() = 0;
    // The next decoded frame into *frame (valid, and the caller's to read
    // or take, until the decoder's next call): 0; or the libraries' code
    // AVERROR(EAGAIN) (another packet is wanted), AVERROR_EOF (drained), or
    // another error (the rest of the packet sent is refused).
    virtual int Receive(AVFrame** frame) = 0;
    // After a seek: what the decoder holds of the packets before is
    // dropped, and the index trims the decoded frames, as from the start.
    virtual void Flush() = 0;
    // The reading begun again: no frame pending.
    virtual void Reset() {}
    // The decoder as just opened (the libraries' decoder opened again,
    // after the plan last given); an error where it cannot be.
    virtual OSErr Restart() { return noErr; }
    virtual void PlanRestart(const DecoderPlan&) {}
    // From now on every frame is given whole, whatever skip its packet
    // states (the count decodes the first packets so).
    virtual void TrimNothing() {}
    // Whether the media libraries have not been needed (a native FLAC file
    // libFLAC decodes whole).
    virtual bool WithoutLibraries() const { return false; }
};
