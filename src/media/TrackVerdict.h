// The verdict on a sound track of the media libraries: the frames it
// gives, whether the file was cut short, whether damage was seen, and what
// the decoder could not turn into sound.  Each rule (the decoder's own
// count, the checks the movie source makes of frame sizes, the end and a
// WAVE 'fact' chunk, and each container's length rule) reports what it
// found as a TrackFinding; TrackVerdict::Take is the one place findings
// are combined, in the order the rules run, and each finding's line goes
// to the debug trace and the input's description.
#pragma once

#include "MacTypes.h"
#include "SoundFileRecords.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A length a container or a stream states of a track, as a rule read it:
// held against the frames the track delivers (LengthComparison).
struct StatedLength {
    UInt64 frames = 0;
    // How far the frames delivered may stray from it without anything
    // lost or repeated, as the statement is rounded or counts what the
    // codec itself takes off (an encoder's priming and padding): beyond
    // one packet (the end of a last frame), or, of a statement to the
    // frame (`exact`: a last granule, a FLAC stream's, a 'fact' chunk's or
    // a data size), alone.
    UInt64 tolerance = 0;
    bool exact = false;
    // The parts it is the sum of (the links of a chain), each of which may
    // give a packet more than it states (a decoder that gives its last
    // packet whole, the end trim of each part not applied).
    UInt64 parts = 1;
    // It counts the frames before the decoder's trim (an MP3 stream's
    // Info frame counts the encoder's delay and padding).
    bool untrimmed = false;
};

struct TrackFinding {
    explicit TrackFinding(const char* rule = "") : rule(rule) {}

    const char* rule;
    // What the rule counted, what it expected, what it found (empty: the
    // finding says nothing of its own, as the decoder's running counts).
    std::string line;
    // Whether the file ends before the track does, where the rule can tell.
    std::optional<bool> cut;
    // Bytes of the track that are no sound were met.
    bool damaged = false;
    // The packet last counted as refused (its frames) was broken off by
    // the file's end: the cut says it, not the refusal.
    std::optional<UInt64> refusalTakenBack;
    // The frames the track gives, where the rule knows them better.
    std::optional<UInt64> frames;
    // What the container states the track holds (or its bytes hold where it
    // states nothing): no amount said lost goes beyond it.
    std::optional<UInt64> expected;
    // The packets of the track, where the rule counted them.
    std::optional<UInt64> packets;
    // What the container or the stream states the track holds, where the
    // rule read it: kept with what the count delivered (TrackLengths) and
    // held against it there (LengthComparison), not combined here.
    std::optional<StatedLength> stated;
    // Counts added: refused packets (and their frames, said as
    // missing or silenced), frames missing, repeated, out of order, places
    // taken out.
    SFTDecodeLoss added;
    UInt64 refusedFrames = 0;  // of added.missingFrames, the frames of refused packets
    // Least amounts: the frames lost, and of a cut file those its header
    // states beyond its end and where an unmarked end stands.
    UInt64 missingAtLeast = 0;
    UInt64 cutFramesAtLeast = 0;
    UInt64 unmarkedEndAtLeast = 0;
    // A header whose length alone is wrong: what it states and what the
    // stream holds, in frames.
    std::optional<std::pair<UInt64, UInt64>> headerAndHeld;
    // Whether the stream's checksum fails (a FLAC stream's signature).
    std::optional<bool> checksumMismatch;
    // The most the amounts said before may come to, where what is stated
    // and what is delivered tell it: the frames lost (missing, and then
    // those a cut took), and the frames repeated.
    std::optional<UInt64> lostAtMost;
    std::optional<UInt64> repeatedAtMost;

    // Sets the line, formatted as printf does.
    void Say(const char* format, ...) __attribute__((format(printf, 2, 3)));
};

class TrackVerdict {
public:
    // Whose track (for the trace).
    explicit TrackVerdict(const std::string& path = std::string()) : path_(path) {}

    // Combines `finding` with what the rules before it found.
    void Take(const TrackFinding& finding);
    // The last word, once every rule has spoken and the lengths were held
    // against each other: the verdict's own line.
    void Close();

    UInt64 Frames() const { return frames_; }
    bool Cut() const { return cut_; }
    bool Damaged() const { return damaged_; }
    const SFTDecodeLoss& Loss() const { return loss_; }
    UInt64 RefusedFrames() const { return refusedFrames_; }
    // What the rules found the track is to hold (0: none found).
    UInt64 Expected() const { return expected_.value_or(0); }
    const std::vector<std::string>& Lines() const { return lines_; }

private:
    std::string path_;
    UInt64 frames_ = 0;
    bool cut_ = false;
    bool damaged_ = false;
    SFTDecodeLoss loss_;
    UInt64 refusedFrames_ = 0;
    std::optional<UInt64> expected_;
    std::vector<std::string> lines_;
};
