#include "FlacFrameWalk.h"

#include "ByteChecksum.h"
#include "ByteFields.h"
#include "FlacStreamCheck.h"
#include "PositionedFile.h"

#include <algorithm>
#include <cstring>

std::vector<FlacFrameWalk::Frame> FlacFrameWalk::Whole(const std::string& path, int64_t firstFrame)
{
    std::vector<Frame> frames;
    PositionedFile file(path);
    const int64_t size = file.Size();
    uint8_t head[4 + 4 + FlacStreamCheck::kStreamInfoBytes];
    if (file.Read(0, head, sizeof head) != sizeof head || std::memcmp(head, "fLaC", 4) != 0 || (head[4] & 0x7F) != 0 ||
        (ReadBE32(head + 4) & 0xFFFFFF) != FlacStreamCheck::kStreamInfoBytes)
        return frames;
    const FlacStreamCheck::StreamShape shape = FlacStreamCheck::Shape(head + 8);
    const UInt32 maxBlock = shape.maxBlock;
    const UInt32 channels = shape.channels;
    const UInt32 bits = shape.bits;
    const UInt64 total = shape.frames;
    if (total == 0 || maxBlock == 0)
        return frames;
    // The first frame follows the last metadata block.
    int64_t pos = firstFrame >= 0 ? firstFrame : 4;
    while (firstFrame < 0) {
        uint8_t block[4];
        if (file.Read(pos, block, 4) != 4)
            return frames;
        pos += 4 + int64_t(ReadBE32(block) & 0xFFFFFF);
        if (pos > size)
            return frames;
        if (block[0] & 0x80)
            break;
    }
    // No frame is longer than this (every sample stored verbatim).
    const std::size_t most = 16 + std::size_t(channels) * (bits + 1) * 65535 / 8 + 2;
    UInt64 samples = 0;
    bool variable = false;
    UInt32 blockSize = 0;
    while (pos < size) {
        const std::size_t got = std::size_t(std::min<int64_t>(int64_t(most + 32), size - pos));
        const uint8_t* p = file.View(pos, got);
        if (!p)
            return {};
        FlacStreamCheck::FrameHeader h;
        const UInt64 number = variable ? samples : UInt64(frames.size());
        if (FlacStreamCheck::ReadFrameHeader(p, got, bits, &h) != FlacStreamCheck::HeaderRead::Ok ||
            h.channels != channels || h.bits != bits || (h.rate != 0 && h.rate != shape.rate))
            return {};
        if (frames.empty()) {
            variable = h.variable;
            blockSize = h.blockSize;
        }
        if (h.variable != variable || h.number != (variable ? samples : number) ||
            (!variable && !frames.empty() && frames.back().samples != blockSize) || samples + h.blockSize > total)
            return {};
        const bool last = samples + h.blockSize == total;
        // The frame ends at the first header after it where its CRC-16
        // holds (a frame whole to there: a header inside its bytes fails
        // it): the next frame's, or, the last, at the file's end.
        const std::size_t limit = std::min(got, most + 16);
        std::size_t end = 0;
        for (std::size_t at = h.bytes; at + 1 < limit;) {
            const void* found = std::memchr(p + at, 0xFF, limit - 1 - at);
            if (!found)
                break;
            at = std::size_t(static_cast<const uint8_t*>(found) - p);
            FlacStreamCheck::FrameHeader n;
            if ((p[at + 1] & 0xFE) == 0xF8 &&
                FlacStreamCheck::ReadFrameHeader(p + at, got - at, bits, &n) == FlacStreamCheck::HeaderRead::Ok &&
                ByteChecksum::Crc16(p, at) == 0) {
                if (last || n.variable != variable || n.number != (variable ? samples + h.blockSize : number + 1))
                    return {};
                end = at;
                break;
            }
            ++at;
        }
        if (last) {
            if (int64_t(got) != size - pos || got > most || got < h.bytes + 2 || ByteChecksum::Crc16(p, got) != 0)
                return {};
            // Zero bytes keep a CRC that holds: where the frame's last bytes
            // are zeros and it holds before them too, the frame may end
            // there (zeros after it are no frame).
            std::size_t zeros = 0;
            while (zeros < got && p[got - 1 - zeros] == 0)
                ++zeros;
            if (zeros > 0 && ByteChecksum::Crc16(p, got - zeros) == 0)
                return {};
            end = got;
        }
        if (end == 0)
            return {};
        frames.push_back({pos, UInt32(end), samples, h.blockSize});
        samples += h.blockSize;
        pos += int64_t(end);
    }
    if (samples != total)
        return {};
    return frames;
}
