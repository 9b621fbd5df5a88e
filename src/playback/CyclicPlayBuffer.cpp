#include "CyclicPlayBuffer.h"

#include <algorithm>
#include <cstring>

void CyclicPlayBuffer::Allocate(UInt32 capacity, UInt32 channels)
{
    m_capacity = capacity;
    m_channels.assign(channels, std::vector<float>(capacity, 0.0f));
    m_read = 0;
    m_write = 0;
    m_end = kNoEnd;
}

void CyclicPlayBuffer::Free()
{
    m_channels.clear();
    m_channels.shrink_to_fit();
    m_capacity = 0;
    m_read = 0;
    m_write = 0;
    m_end = kNoEnd;
}

void CyclicPlayBuffer::Clear()
{
    for (std::vector<float>& channel : m_channels)
        std::fill(channel.begin(), channel.end(), 0.0f);
    m_read = 0;
    m_write = 0;
    m_end = kNoEnd;
}

UInt32 CyclicPlayBuffer::ReadableFrames() const
{
    return UInt32(m_write.load(std::memory_order_acquire) - m_read.load(std::memory_order_acquire));
}

UInt32 CyclicPlayBuffer::WritableFrames() const
{
    return m_capacity - ReadableFrames();
}

void CyclicPlayBuffer::Write(const float* const* sources, UInt32* count)
{
    const UInt32 n = std::min(*count, WritableFrames());
    *count = n;
    if (n == 0 || m_capacity == 0)
        return;
    const std::uint64_t write = m_write.load(std::memory_order_relaxed);
    const UInt32 index = UInt32(write % m_capacity);
    const UInt32 first = std::min(n, m_capacity - index);
    for (std::size_t c = 0; c < m_channels.size(); ++c) {
        float* dest = m_channels[c].data();
        std::memcpy(dest + index, sources[c], first * sizeof(float));
        if (n > first)
            std::memcpy(dest, sources[c] + first, (n - first) * sizeof(float));
    }
    m_write.store(write + n, std::memory_order_release);
}

void CyclicPlayBuffer::MarkEnd(UInt32 frames)
{
    m_end.store(m_write.load(std::memory_order_relaxed) + frames, std::memory_order_release);
}

bool CyclicPlayBuffer::HasEndMark() const
{
    return m_end.load(std::memory_order_acquire) != kNoEnd;
}

void CyclicPlayBuffer::SilenceAhead(UInt32 frames)
{
    if (m_capacity == 0)
        return;
    frames = std::min(frames, m_capacity);
    const UInt32 index = UInt32(m_write.load(std::memory_order_relaxed) % m_capacity);
    const UInt32 first = std::min(frames, m_capacity - index);
    for (std::vector<float>& channel : m_channels) {
        std::fill_n(channel.data() + index, first, 0.0f);
        std::fill_n(channel.data(), frames - first, 0.0f);
    }
}

bool CyclicPlayBuffer::GetReadPointers(UInt32* count, const float** pointers)
{
    if (m_capacity == 0) {
        *count = 0;
        return false;
    }
    const std::uint64_t read = m_read.load(std::memory_order_relaxed);
    std::uint64_t available = m_write.load(std::memory_order_acquire) - read;
    const std::uint64_t end = m_end.load(std::memory_order_acquire);
    bool ended = false;
    if (end != kNoEnd && read <= end && read + *count >= end) {
        available = std::min<std::uint64_t>(available, end - read);
        // The end is reached only when every frame before it is handed out.
        ended = available == end - read;
    }
    const UInt32 index = UInt32(read % m_capacity);
    UInt32 n = UInt32(std::min<std::uint64_t>({*count, available, m_capacity - index}));
    if (ended && read + n != end)
        ended = false;  // the buffer's edge cut the frames short: the end comes with the next call
    for (std::size_t c = 0; c < m_channels.size(); ++c)
        pointers[c] = m_channels[c].data() + index;
    *count = n;
    return ended;
}

void CyclicPlayBuffer::FinishRead(UInt32 count)
{
    m_read.store(m_read.load(std::memory_order_relaxed) + count, std::memory_order_release);
}
