#include "FlacEndRule.h"

#include "FlacStreamCheck.h"

#include <algorithm>

bool FlacEndRule::Packet(bool walked, const uint8_t* data, int size, TrackFinding* found)
{
    const bool damage = oddPacket_;
    oddPacket_ = !walked && !FlacStreamCheck::IsOneFrame(data, std::size_t(std::max(size, 0)));
    if (damage) {
        *found = TrackFinding("FLAC frames");
        found->damaged = true;
    }
    return damage;
}

bool FlacEndRule::Settle(const FlacStreamCheck& flac, const std::string& path, int64_t lastPos, TrackFinding* found)
{
    if (flac.EndsCleanly(path, lastPos))
        return false;
    *found = TrackFinding("FLAC frames");
    found->damaged = true;
    found->Say("the last frame is neither whole nor broken off by the file's end: damaged");
    return true;
}
