// A container's rule for the length of its sound track: what the container
// states the track holds, set against what its packets and the decoder
// give, tells a file cut short from a damaged one and how much sound was
// lost.  The movie source counts a track's packets and frames and hands
// each rule what it found (TrackTally); the rule for the container
// (TrackLengthRule::For) adds what only the container can tell.  The base
// rule states nothing.
#pragma once

#include "MacTypes.h"
#include "SoundFileRecords.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVPacket;

// What the count of one track found, and what the rules make of it (the
// movie source's own fields, by reference).
struct TrackTally {
    const std::string& path;
    const AVFormatContext* format;
    int stream;
    UInt64& frames;       // the frames the track gives
    bool& cutShort;       // the file ends before the track does
    bool& damageSeen;     // bytes of the track that are no sound were met
    SFTDecodeLoss& loss;  // what the decoder could not turn into sound
    // The bytes of the file (of its view) and the end of the last packet's.
    int64_t fileBytes = -1;
    int64_t packetsEnd = 0;
    // The frames the last packet stood for, and whether it was counted as
    // refused (the counting pass tallies it: TallyRefused).
    UInt64 lastPacketFrames = 0;
    bool lastPacketRefused = false;
    // What the container states the track holds, or its bytes hold where
    // it states nothing (0: neither is known), as the rule finds it: no
    // amount said lost may go beyond it (MovieSource bounds it).
    UInt64 expected = 0;

    // Where each rule's line goes (what it counted, what it expected, what
    // it found), for the debug trace and the input's description.
    std::vector<std::string>* lines = nullptr;

    // Adds the line of `rule`, formatted as printf does.
    void Note(const char* rule, const char* format, ...) const __attribute__((format(printf, 3, 4)));
    // The sample rate of the track, and `ticks` of its time base as frames.
    int SampleRate() const;
    UInt64 Frames(int64_t ticks) const;
    // Takes back the refusal of the last packet: it was broken off by the
    // file's end, which is said as a cut instead.
    void UncountLastRefusal();
};

class TrackLengthRule {
public:
    virtual ~TrackLengthRule();
    // The rule of the container the track `stream` of `format` is in.
    static std::unique_ptr<TrackLengthRule> For(const AVFormatContext* format, int stream);
    // Whether the file at `path`, which the libraries cannot open, is one
    // of the containers here cut before what they need to read it (an
    // MPEG-4 file's movie box, a CAF file's packet table, an Ogg stream's
    // header pages, a Matroska file's track list).
    static bool CutBeforeReadable(const std::string& path);

    // Each packet of the track as the counting pass reads it, in order;
    // `*frames` are those the packet gives the track, which a rule lowers
    // where the packet cannot hold them.
    virtual void Packet(const AVPacket& packet, UInt64* frames, TrackTally& tally);
    // Once the frame count is known: what the container states, against
    // the frames counted.
    virtual void Settle(TrackTally& tally);
};
