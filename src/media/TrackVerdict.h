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
    // What the container or the stream states the track holds, in frames,
    // where the rule read it: kept with what the count delivered
    // (TrackLengths), not combined into the verdict.
    std::optional<UInt64> statedFrames;
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

    // Sets the line, formatted as printf does.
    void Say(const char* format, ...) __attribute__((format(printf, 2, 3)));
};

class TrackVerdict {
public:
    // Whose track (for the trace).
    explicit TrackVerdict(const std::string& path = std::string()) : path_(path) {}

    // Combines `finding` with what the rules before it found.
    void Take(const TrackFinding& finding);
    // The last word, once every rule has spoken: no amount said lost
    // beyond the packets refused exceeds what the file holds or states
    // (`stated`, where no rule found what is expected); then the verdict's
    // own line.
    void Bound(UInt64 stated);

    UInt64 Frames() const { return frames_; }
    bool Cut() const { return cut_; }
    bool Damaged() const { return damaged_; }
    const SFTDecodeLoss& Loss() const { return loss_; }
    UInt64 RefusedFrames() const { return refusedFrames_; }
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
