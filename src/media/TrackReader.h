// Reading the track: the pieces of sound (decoded frames, trimmed as the
// index says, or silence for what the decoder refused) handed out from the
// position on, seeking, and the clip count and FLAC signature fed on the way.
#pragma once

#include "TrackDecoding.h"

class TrackReader : public TrackDecoding {
public:
    OSErr OpenStreams(bool forCounting);

    // Back to the track's first frame: the streams opened again, or, read
    // without the libraries, the decoding begun again.
    OSErr Rewind();

    void ResetDecoding();

    // While counting by decoding: the packet sent last gave no frame and
    // no error.  The first packet of an AAC stream may only prime the
    // decoder (FirstPacketGivesSound).
    bool PrimesOnly() const { return codecTraits.firstPacketMayPrime && packetOrdinal == 0 && !gaveFrame; }

    // While counting by decoding: the packet sent last gave no frame and
    // no error.  The decoder's skip may have taken its whole sound (it
    // drops a frame that the skip covers, and takes the skip down by it);
    // so may the end trim the packet carries (an Opus stream's may reach
    // over several packets), or the container's word that the packet is
    // to be dropped (a fragment met again).
    bool SkipTookPacket();

    // Gets the next piece of sound (see the decoding state); false at the
    // end of the track.
    bool NextPiece();

    // Where the index tells the frames: each packet gives its frames of
    // the track, decoded (one frame or several) and trimmed, or silence
    // when the decoder refuses it or gives it fewer; a packet of the track
    // the count did not see ends it.
    bool NextIndexedPiece();

    // The frame in `frame` is the next piece, whole.
    bool Pending();

    // Gets the next decoded frame into `frame` (all its samples the
    // track's); false at the end.  A packet the decoder refuses is passed
    // over, as the reference decoder does, and tallied while counting.
    bool NextFrame();

    // Positions the decoder so that the next decoded sample is `target`.
    OSErr SeekTo(UInt64 target);

    // Positions the demuxer at the packet `k` of the index, held for the
    // next NextPacket, with the decoder flushed.
    OSErr SeekToPacket(std::size_t k);

    // Moves the position on by up to `frames` frames, storing them into
    // `out` (one array per delivered channel) when it is given; the frames
    // moved, fewer only at the end of what decodes.
    UInt64 Advance(SInt32* const* out, UInt64 frames);

    OSErr Skip(UInt64 frames);

    OSErr Read(SInt32* const* out, UInt32 frames, UInt32* delivered);
};
