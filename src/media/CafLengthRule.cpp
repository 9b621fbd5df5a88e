#include "CafLengthRule.h"

#include "caf_chunks.h"

#include "ByteOrder.h"

#include <algorithm>
#include <cstring>
#include <fstream>

bool CafLengthRule::CutInsideChunk(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return false;
    const int64_t size = int64_t(in.tellg());
    uint8_t head[12];
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(head), 8) || std::memcmp(head, "caff", 4) != 0)
        return false;
    for (int64_t at = 8; at < size;) {
        in.seekg(at);
        if (!in.read(reinterpret_cast<char*>(head), 12))
            return true;  // a chunk header broken off
        const int64_t length = int64_t(UInt64(ReadBE32(head + 4)) << 32 | ReadBE32(head + 8));
        if (length == -1 && std::memcmp(head, "data", 4) == 0)
            return false;  // the data runs to the end
        // A chunk running past the end is a cut when its header is one
        // (damage leaves no type of four characters).
        if (length < 0 || length > size - at - 12)
            return std::all_of(head, head + 4, [](uint8_t c) { return c >= 0x20 && c < 0x7F; });
        at += 12 + length;
    }
    return false;
}

void CafLengthRule::Settle(TrackTally& tally)
{
    CafLayout caf;
    if (WalkCaf(tally.path, &caf) != noErr)
        return;
    tally.frames = std::min(tally.frames, caf.WholePacketFrames());
    tally.cutShort = caf.CutShort();
}
