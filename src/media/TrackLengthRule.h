// A container's rule for the length of its sound track: what the container
// states the track holds, set against what its packets and the decoder
// give, tells a file cut short from a damaged one and how much sound was
// lost.  The movie source counts a track's packets and frames and hands
// each rule what it found (TrackTally); the rule for the container (its
// row of ContainerTraits names it) reports what only the container can
// tell, as a finding for the track's verdict (TrackVerdict).  The base
// rule states nothing.
#pragma once

#include "MacTypes.h"
#include "Packet.h"
#include "SoundFileRecords.h"
#include "TrackVerdict.h"

#include <cstdint>
#include <memory>
#include <string>

struct AVFormatContext;

// What a rule is given: the track, what the count and the rules before it
// found (`sofar`), and facts of the count.
struct TrackTally {
    const std::string& path;
    const AVFormatContext* format;
    int stream;
    const TrackVerdict& sofar;
    // The bytes of the file (of its view) and the end of the last packet's.
    int64_t fileBytes = -1;
    int64_t packetsEnd = 0;
    // The frames the last packet stood for, and whether it was counted as
    // refused (the count by decoding tallies it: DecodedFrames).
    UInt64 lastPacketFrames = 0;
    bool lastPacketRefused = false;

    // The frames the track gives, as counted so far.
    UInt64 Counted() const { return sofar.Frames(); }
    // The sample rate of the track, and `ticks` of its time base as frames.
    int SampleRate() const;
    UInt64 Frames(int64_t ticks) const;
    // Takes back the refusal of the last packet in `finding`: it was
    // broken off by the file's end, which is said as a cut instead.
    void TakeBackLastRefusal(TrackFinding* finding) const;
};

class TrackLengthRule {
public:
    virtual ~TrackLengthRule();
    // Whether the file at `path`, which the libraries cannot open, is one
    // of the containers here cut before what they need to read it (an
    // MPEG-4 file's movie box, a CAF file's packet table, an Ogg stream's
    // header pages or its first sound page, a Matroska file's track list).
    static bool CutBeforeReadable(const std::string& path);

    // Each packet of the track as the counting pass reads it, in order;
    // `*frames` are those the packet gives the track, which a rule lowers
    // where the packet cannot hold them.  True when the packet tells the
    // rule something of the verdict (`*found`).
    virtual bool Packet(const ::Packet& packet, UInt64* frames, const TrackTally& tally, TrackFinding* found);
    // Once the frame count is known: what the container states, against
    // the frames counted.
    virtual TrackFinding Settle(const TrackTally& tally);
};
