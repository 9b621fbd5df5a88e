// The records through which the format classes hand markers, loops,
// regions and sampler data to CSoundFile and get them back.  They are plain
// in-memory structures (never written to disk as they stand); each format
// converts them from and to its own chunk or resource layout.
#pragma once

#include "MacTypes.h"

#include <algorithm>
#include <cstring>

// A marker: identifier, frame position, name (a Pascal string of at most 31
// Mac OS Roman characters in 32 bytes), type and number.
struct SFTMarker {
    SInt32 markerID = 0;
    UInt32 pos = 0;
    Str31 name = {0};
    SInt16 type = 0;
    SInt16 number = 0;
};

// A loop: identifier, first and end frame, type.
struct SFTLoop {
    SInt32 loopID = 0;
    UInt32 start = 0;
    UInt32 end = 0;
    SInt16 type = 0;
};

// A region: identifier, first frame, end frame, sync frame, time stamp and
// name (Pascal string, at most 31 characters in 32 bytes).
//
// The time stamp is carried as 64 bits.  A format that stores a 32-bit
// stamp widens it as a signed value (the stored 32 bits taken as SInt32)
// when reading, and stores the low 32 bits when writing.
struct SFTRegion {
    SInt32 regionID = 0;
    UInt32 start = 0;
    UInt32 end = 0;
    UInt32 syncFrame = 0;
    SInt64 timeStamp = 0;
    Str31 name = {0};
};

// Sampler data (AIFF 'INST', WAVE 'smpl' and the like).  `valid` is 0 until
// a format or a caller stores real values.
struct SFTSamplerInfo {
    UInt8 baseNote = 60;
    SInt8 detune = 0;
    UInt8 lowNote = 0;
    UInt8 highNote = 127;
    UInt8 lowVelocity = 0;
    UInt8 highVelocity = 127;
    SInt16 gain = 0;
    UInt8 valid = 0;
};

// What the decoder of a compressed input could not turn into sound, as far
// as the input has been read: the packets of its track, the packets the
// decoder refused, the frames of silence read in place of refused packets
// inside the track, and the frames the track lacks (refused packets at its
// end, sound its container states that could not be read), and whether
// the whole sound read differs from a checksum the stream stores for it.
// All zero for an input that decodes whole.
struct SFTDecodeLoss {
    UInt64 packets = 0;
    UInt64 refusedPackets = 0;
    UInt64 silencedFrames = 0;
    UInt64 missingFrames = 0;
    bool checksumMismatch = false;
    // Sound heard twice (a page or frame repeated), and sound heard out of
    // its place (one that came after a later one).
    UInt64 repeatedFrames = 0;
    UInt64 misplacedFrames = 0;
    // Places where sound was taken out of the stream that nothing states
    // the length of (one frame's data reaching back into another's).
    UInt64 gaps = 0;
    // A header whose length disagrees with a stream that is otherwise whole
    // (its own size and checksums hold): what it states and what the
    // stream holds, in frames (0 and 0: no such header).
    UInt64 headerFrames = 0;
    UInt64 heldFrames = 0;
    // Of a file cut short: the frames its header states beyond its end (0
    // when it states none); and, of a stream that ends without the mark its
    // format puts at its end (the file may have been cut between two of its
    // pages), where its last page says it stands, in frames (0: marked).
    UInt64 cutFrames = 0;
    UInt64 unmarkedEnd = 0;

    bool Any() const
    {
        return refusedPackets > 0 || silencedFrames > 0 || missingFrames > 0 || checksumMismatch || repeatedFrames > 0 ||
               misplacedFrames > 0 || gaps > 0 || headerFrames != heldFrames;
    }
    SFTDecodeLoss& operator+=(const SFTDecodeLoss& other)
    {
        packets += other.packets;
        refusedPackets += other.refusedPackets;
        silencedFrames += other.silencedFrames;
        missingFrames += other.missingFrames;
        checksumMismatch = checksumMismatch || other.checksumMismatch;
        repeatedFrames += other.repeatedFrames;
        misplacedFrames += other.misplacedFrames;
        gaps += other.gaps;
        headerFrames += other.headerFrames;
        heldFrames += other.heldFrames;
        cutFrames += other.cutFrames;
        unmarkedEnd = std::max(unmarkedEnd, other.unmarkedEnd);
        return *this;
    }
};

// Copies at most 31 bytes of the Pascal string `source` (its length byte
// clamped to 31) into the 32-byte name of a record.
inline void SFTSetName(Str31 name, ConstStr255Param source)
{
    UInt8 length = source ? source[0] : 0;
    if (length > 31)
        length = 31;
    name[0] = length;
    if (length)
        std::memcpy(name + 1, source + 1, length);
}
