// What turns the track's packets into sound: the libraries' decoder
// (LibraryFrameDecoder), or libFLAC with the libraries behind it for the
// frames it refuses (FlacFallbackDecoder).  Which one decodes is chosen
// where the track is opened and counted, by the object built.  Each takes
// the packet its track's PacketSource read last and gives its frames in the
// track's `frame`.
#pragma once

class FrameDecoder {
public:
    virtual ~FrameDecoder() = default;

    // Sends the packet read last; negative: refused whole.
    virtual int Send() = 0;

    // The next frame the decoder gives for the packets sent to it, into
    // the track's `frame`; false when it wants another packet, or refused
    // the rest of the one sent (*refused: true then).
    virtual bool Receive(bool* refused) = 0;

    // After a seek: what the decoder holds of the packets before is
    // dropped, and the index trims the decoded frames, as from the start.
    virtual void Flush() = 0;

    // The reading begun again: no frame pending.
    virtual void Reset() {}

    // Whether the track is read without the media libraries (a native FLAC
    // file libFLAC decodes whole, the libraries not yet needed).
    virtual bool WithoutLibraries() const { return false; }
};
