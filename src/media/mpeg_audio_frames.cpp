#include "mpeg_audio_frames.h"

#include "ByteChecksum.h"
#include "PositionedFile.h"
#include "mpeg_tables.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace movie_input {

std::size_t MPEGFrameBytes(const uint8_t* p)
{
    return std::size_t(std::max(mpeg::FrameBytes(p), 0));
}

bool LayerOneChecksumHolds(const uint8_t* frame, int size)
{
    if (size < 4 || (frame[1] & 0x01) != 0)
        return true;
    const int mode = frame[3] >> 6;
    const int channels = mode == 3 ? 1 : 2;
    const int bound = mode == 1 ? 4 * (((frame[3] >> 4) & 3) + 1) : 32;
    const int allocationBytes = (bound * channels + (32 - bound)) * 4 / 8;
    if (size < 6 + allocationBytes)
        return false;
    uint16_t crc = ByteChecksum::Crc16(frame + 2, 2, 0xFFFF);
    crc = ByteChecksum::Crc16(frame + 6, std::size_t(allocationBytes), crc);
    return crc == ((UInt32(frame[4]) << 8) | frame[5]);
}

int ShortMPEGStreamFrames(const std::string& path, bool* cut, uint8_t* header)
{
    constexpr std::size_t kMostBytes = 1 << 16;
    PositionedFile file(path);
    if (!file.IsOpen() || file.Size() > int64_t(kMostBytes))
        return -1;
    std::vector<uint8_t> bytes(std::size_t(file.Size()));
    const std::size_t size = file.Read(0, bytes.data(), bytes.size());
    std::size_t at = 0;
    int frames = 0;
    *cut = false;
    while (at + 4 <= size) {
        const std::size_t length = MPEGFrameBytes(&bytes[at]);
        // The same sync, version, layer and rate as the first frame.
        if (length == 0 || bytes[at + 1] != bytes[1] || ((bytes[at + 2] ^ bytes[2]) & 0x0C))
            return -1;
        if (at + length > size) {
            at = size;
            *cut = true;
            break;
        }
        at += length;
        ++frames;
    }
    if (at != size || frames == 0)
        return -1;
    if (header)
        std::memcpy(header, bytes.data(), 4);
    return frames;
}

bool IsShortMPEGStream(const std::string& path)
{
    bool cut = false;
    return ShortMPEGStreamFrames(path, &cut, nullptr) >= 2;
}

} // namespace movie_input
