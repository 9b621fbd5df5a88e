#include "Varispeed.h"

#include <algorithm>
#include <cmath>

namespace {
// Four-point, third-order Hermite interpolation between y0 and y1.
inline float Hermite(float ym1, float y0, float y1, float y2, float t)
{
    const float c1 = 0.5f * (y1 - ym1);
    const float c2 = ym1 - 2.5f * y0 + 2.0f * y1 - 0.5f * y2;
    const float c3 = 0.5f * (y2 - ym1) + 1.5f * (y0 - y1);
    return ((c3 * t + c2) * t + c1) * t + y0;
}
}

Varispeed::Varispeed() { Reset(); }

void Varispeed::SetStep(double step)
{
    if (!std::isfinite(step) || step <= 0)
        return;
    m_step.store(std::clamp(step, kMinStep, kMaxStep));
}

void Varispeed::Reset()
{
    for (auto& channel : m_buffer)
        channel.fill(0.0f);
    m_filled = kHistory;
    m_position = kHistory;
}

void Varispeed::Refill(const Source& source)
{
    // Keep the frames the interpolation still needs before the position;
    // source frames the position has jumped over are pulled and dropped.
    const UInt32 keepFrom = UInt32(m_position) - kHistory;
    const UInt32 size = UInt32(m_buffer[0].size());
    if (keepFrom >= m_filled) {
        for (UInt32 skip = keepFrom - m_filled; skip > 0;) {
            const UInt32 n = std::min(skip, size);
            source(m_buffer[0].data(), m_buffer[1].data(), n);
            skip -= n;
        }
        m_filled = 0;
    } else {
        const UInt32 keep = m_filled - keepFrom;
        for (auto& channel : m_buffer)
            std::copy(channel.begin() + keepFrom, channel.begin() + keepFrom + keep, channel.begin());
        m_filled = keep;
    }
    m_position -= keepFrom;
    const UInt32 room = size - m_filled;
    source(m_buffer[0].data() + m_filled, m_buffer[1].data() + m_filled, room);
    m_filled += room;
}

void Varispeed::Process(float* left, float* right, UInt32 frames, const Source& source)
{
    if (m_resetPending.exchange(false))
        Reset();
    const double step = m_step.load();
    for (UInt32 i = 0; i < frames; ++i) {
        if (UInt32(m_position) + kAhead >= m_filled)
            Refill(source);
        const UInt32 n = UInt32(m_position);
        const float t = float(m_position - n);
        if (t == 0.0f) {
            left[i] = m_buffer[0][n];
            right[i] = m_buffer[1][n];
        } else {
            left[i] = Hermite(m_buffer[0][n - 1], m_buffer[0][n], m_buffer[0][n + 1], m_buffer[0][n + 2], t);
            right[i] = Hermite(m_buffer[1][n - 1], m_buffer[1][n], m_buffer[1][n + 1], m_buffer[1][n + 2], t);
        }
        m_position += step;
    }
}
