// What the count of a track's packets gives (TrackCount): the packet
// index, the verdict its rules reached, and what it learned of the track
// beyond what its description says.  What each container or stream states
// of the length and what the count delivered meet here (`lengths`).
#pragma once

#include "IndexEntry.h"
#include "MacTypes.h"
#include "TrackVerdict.h"

#include <cstdint>
#include <optional>
#include <vector>

// What the count learned of the track.
struct LearnedShape {
    // An MPEG audio stream of one channel whose frames turn stereo is a
    // stereo track (its single-channel frames given in both).
    std::optional<UInt32> channels;
    UInt32 firstMpegHeader = 0;  // of an MPEG audio track (0: none)
    // Decoded frames before the sound's first (a lagged stream in a WAVE
    // file: the filterbanks' delay).
    UInt64 startSkip = 0;
    UInt64 dataBytes = 0;   // the bytes of the track's packets
    int64_t packetsEnd = 0; // where the last packet's bytes end
    // Packets that decode, all of whose frames the stream's delay and
    // padding take (an encoder's whole output for no sound).
    bool trimmedToNothing = false;
};

// Each length a container or a stream states, where a rule read it
// (`source`: the rule's name), and what was delivered: held against each
// other in one place (LengthComparison).
struct TrackLengths {
    struct Stated {
        const char* source;
        StatedLength length;
    };
    std::vector<Stated> stated;
    // The frames the demuxer gives the stream (0: none), which no amount
    // said lost goes beyond where no rule found what the track is to hold.
    UInt64 streamDuration = 0;
    UInt64 delivered = 0;  // the frames the track gives
    UInt64 packets = 0;
    UInt64 packetFrames = 0;  // of the longest packet
    // Frames the packets decode to that the decoder's trim takes (an
    // encoder's delay and padding, a packet that only primes it).
    UInt64 trimmed = 0;
    // Frames of another rate than the first's follow (joined MPEG audio or
    // ADTS streams): what a header of the first part states is not what
    // the track, at one rate, delivers.
    bool otherRates = false;
};

struct CountResult {
    std::vector<IndexEntry> index;
    TrackVerdict verdict;
    // Whether the packets tell the frames (the index trims each decoded
    // frame; else the frames were counted by decoding), and whether a seek
    // may start a few packets before its frame (the decoder settles).
    bool indexed = false;
    bool seekExact = false;
    LearnedShape learned;
    TrackLengths lengths;
};
