// The ring of float frames between the feeding thread and the render side
// of the preview engine: one buffer per channel, one writer (the fill pass)
// and one reader (the render call), neither locking against the other.
//
// Positions are kept as 64-bit running totals of the frames written and
// read (the index into the buffers is the total modulo the capacity), so a
// full ring and an empty one never look alike and the end mark can never be
// mistaken for a position one lap earlier.  A ring whose read and write
// positions are equal is empty: the reader gets no frames and no end.
//
// Allocate, Free and Clear need both sides to be idle (the engine calls
// them with both of its locks held).
#pragma once

#include "MacTypes.h"

#include <atomic>
#include <cstdint>
#include <vector>

class CyclicPlayBuffer {
public:
    CyclicPlayBuffer() = default;
    ~CyclicPlayBuffer() = default;
    CyclicPlayBuffer(const CyclicPlayBuffer&) = delete;
    CyclicPlayBuffer& operator=(const CyclicPlayBuffer&) = delete;

    // `channels` zeroed buffers of `capacity` frames; empty, no end mark.
    void Allocate(UInt32 capacity, UInt32 channels);
    void Free();
    // Zeroes every buffer; empty, no end mark.
    void Clear();

    UInt32 Capacity() const { return m_capacity; }
    UInt32 Channels() const { return UInt32(m_channels.size()); }

    // Frames the writer may add now (the capacity when the ring is empty).
    UInt32 WritableFrames() const;
    // Frames the reader may take now (0 when the ring is empty).
    UInt32 ReadableFrames() const;

    // Copies up to *count frames of every channel from sources[channel];
    // *count returns the frames taken (at most WritableFrames()).
    void Write(const float* const* sources, UInt32* count);
    // The end lies `frames` frames after the frames written so far.
    void MarkEnd(UInt32 frames);
    bool HasEndMark() const;
    // Zeroes `frames` frames from the write position on (wrapping), in
    // every channel; the positions do not move.
    void SilenceAhead(UInt32 frames);

    // Hands out up to *count contiguous frames from the read position
    // (pointers[channel] at the read index; *count returns how many, never
    // past the end mark or the buffer's end).  True when the frames handed
    // out reach the end mark.  The frames stay the reader's until
    // FinishRead gives them back to the writer.
    bool GetReadPointers(UInt32* count, const float** pointers);
    // Moves the read position past `count` frames handed out.
    void FinishRead(UInt32 count);

private:
    static constexpr std::uint64_t kNoEnd = ~std::uint64_t(0);

    std::vector<std::vector<float>> m_channels;
    UInt32 m_capacity = 0;
    std::atomic<std::uint64_t> m_read{0};
    std::atomic<std::uint64_t> m_write{0};
    std::atomic<std::uint64_t> m_end{kNoEnd};
};
