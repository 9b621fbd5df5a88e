// The length of a native FLAC stream: its header states the frames, and
// its frames are numbered.  A frame missing between two packets (damage
// the parser passed over) is sound lost; a frame stating another rate than
// the header's is damage.  Fewer frames than the header
// states: a stream whose packets all decode and run to the file's end was
// cut there; otherwise the rest was lost.  A frame met again is
// repeated, and given once.  Of a stream that states no length:
// one cut inside its metadata blocks is cut; damage seen is a place
// damaged where nothing else tells how much.
#pragma once

#include "FlacStreamCheck.h"
#include "PositionedFile.h"
#include "TrackLengthRule.h"

#include <optional>
#include <unordered_map>

class FlacLengthRule : public TrackLengthRule {
public:
    FlacLengthRule() = default;
    // The rule of a file whose frames the walk proved whole, holding the
    // `frames` its STREAMINFO states: no packet tells it more, and it
    // settles as Whole.
    explicit FlacLengthRule(UInt64 wholeFrames) : whole_(wholeFrames) {}

    // Whether the FLAC file at `path` ends inside its metadata blocks (cut
    // before its first frame).
    static bool CutInMetadata(PositionedFile& file);
    // What the first stream head ("fLaC" and STREAMINFO) after the file's
    // first byte states (frames 0: none found).
    static FlacStreamCheck::StreamShape HeadFurtherOn(PositionedFile& file);

    // The finding of a file whose frames hold the `frames` its STREAMINFO
    // states, as Settle gives it.
    static TrackFinding Whole(UInt64 frames);

    bool Packet(const ::Packet& packet, UInt64* frames, const TrackTally& tally, TrackFinding* found) override;
    TrackFinding Settle(const TrackTally& tally) override;

private:
    std::optional<UInt64> whole_;
    bool first_ = true;
    int64_t nextPts_ = INT64_MIN;  // where the packet before ended (INT64_MIN: unknown)
    // The frames met, by number (and blocking): their length and CRC-16.
    std::unordered_map<UInt64, UInt64> seen_;
};
