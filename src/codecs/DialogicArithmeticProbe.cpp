#include "DialogicArithmeticProbe.h"

#include <algorithm>

namespace {

// The decodings' difference at reset, in 16-bit samples: predictors -2 and 0.
constexpr int64_t kResetGap = 32;
// Fewer codes than this cannot tell the arithmetics apart (nor part them
// by more than a few steps: either reads such a stream alike).
constexpr std::size_t kFewestCodes = 128;
// The shortest low-pass window: three of them fill within a stream of the
// fewest codes judged.
constexpr std::size_t kShortestWindow = 32;
// The gap's low end, as a fraction of the signal, that our encoder never
// reaches (1/32), and the one above which a drift carried by one decoding
// alone (2.5 times the other's low end) decides (1/80).
constexpr double kForeignGap = 1.0 / 32.0;
constexpr double kLoneDriftGap = 1.0 / 80.0;
constexpr double kLoneDriftRatio = 2.5;
// Below this many codes the low ends are too short to judge by: a gap
// (beyond the reset difference, RMS) of 1/64 of the signal, which our
// encoder never leaves (it keeps below 1/100), marks a stream made for the
// common decoders, the arithmetic of the writers that make such streams.
constexpr std::size_t kShortCodes = 2048;
constexpr double kShortStreamGap = 1.0 / 64.0;

} // namespace

DialogicArithmeticProbe::LowPass::LowPass(std::size_t length) : m_length(length)
{
    for (auto& ring : m_ring)
        ring.assign(length, 0);
}

void DialogicArithmeticProbe::LowPass::Add(int64_t sample)
{
    // |sample| < 2^17 and the length is at most 2^15: the third sum stays
    // below 2^62.
    int64_t in = sample;
    for (int stage = 0; stage < 3; ++stage) {
        int64_t& oldest = m_ring[stage][m_position];
        m_sum[stage] += in - oldest;
        oldest = in;
        in = m_sum[stage];
    }
    m_position = m_position + 1 == m_length ? 0 : m_position + 1;
    if (++m_added >= 3 * m_length) {
        const double out = double(in);
        m_energy += out * out;
        ++m_outputs;
    }
}

double DialogicArithmeticProbe::LowPass::MeanSquare() const
{
    if (m_outputs == 0)
        return 0.0;
    const double cube = double(m_length) * double(m_length) * double(m_length);
    return m_energy / (cube * cube) / double(m_outputs);
}

std::size_t DialogicArithmeticProbe::LowPassLength(std::size_t codes)
{
    std::size_t length = kShortestWindow;
    while (length < 32768 && length * 2 <= codes / 8)
        length *= 2;
    return length;
}

DialogicArithmeticProbe::DialogicArithmeticProbe(std::size_t codes)
    : m_stepSumLow(LowPassLength(codes)),
      m_scaledLow(LowPassLength(codes)),
      m_gapLow(LowPassLength(codes))
{
}

void DialogicArithmeticProbe::Add(int code)
{
    const int64_t a = m_stepSum.Decode(code);
    const int64_t b = m_scaled.Decode(code);
    const int64_t gap = a - b;
    const int64_t beyondReset = gap > kResetGap ? gap - kResetGap : gap < -kResetGap ? gap + kResetGap : 0;
    m_stepSumLow.Add(a);
    m_scaledLow.Add(b);
    m_gapLow.Add(beyondReset);
    m_stepSumSquares += double(a * a);
    m_scaledSquares += double(b * b);
    m_gapSquares += double(beyondReset * beyondReset);
    ++m_added;
}

DialogicADPCMCodec::Arithmetic DialogicArithmeticProbe::Choice() const
{
    using A = DialogicADPCMCodec::Arithmetic;
    if (m_added < kFewestCodes)
        return A::StepSum;
    const double signal = std::min(m_stepSumSquares, m_scaledSquares) / double(m_added);
    const double gap = m_gapLow.MeanSquare();
    const double ours = m_stepSumLow.MeanSquare();
    const double scaled = m_scaledLow.MeanSquare();
    if (m_added < kShortCodes && m_gapSquares / double(m_added) >= kShortStreamGap * kShortStreamGap * signal)
        return A::Scaled;
    if (gap > 0.0 && gap >= kForeignGap * kForeignGap * signal)
        return ours > scaled ? A::Scaled : A::StepSum;
    if (gap > 0.0 && gap >= kLoneDriftGap * kLoneDriftGap * signal)
        return ours >= kLoneDriftRatio * kLoneDriftRatio * scaled ? A::Scaled : A::StepSum;
    return A::StepSum;
}
