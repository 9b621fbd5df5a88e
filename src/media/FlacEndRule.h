// The frames of a native FLAC file as the demuxer gives them: a packet of
// more or less than one whole frame before the last is damage
// (FlacStreamCheck::IsOneFrame); a file whose end is neither its last
// frame whole nor one broken off by a cut is damaged there
// (FlacStreamCheck::EndsCleanly).
#pragma once

#include "TrackVerdict.h"

#include <cstddef>
#include <cstdint>
#include <string>

class FlacStreamCheck;

class FlacEndRule {
public:
    // One packet (`walked`: a frame the walk proved whole, which is one);
    // true with a finding of damage where the packet before it was no
    // whole frame.
    bool Packet(bool walked, const uint8_t* data, int size, TrackFinding* found);
    // Once every packet is seen, the last beginning at `lastPos`: true
    // with a finding of damage where the file does not end cleanly.
    static bool Settle(const FlacStreamCheck& flac, const std::string& path, int64_t lastPos, TrackFinding* found);

private:
    bool oddPacket_ = false;
};
