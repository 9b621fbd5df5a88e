#include "DialogicADPCMEncoder.h"

#include <algorithm>

namespace {

// The weights of the gap between the two decoders, and the gap (in 16-bit
// units) beyond which it weighs steeply.
constexpr int64_t kGapWeight = 256;
constexpr int64_t kWideGapWeight = 4096;
constexpr int64_t kGapTolerance = 64;

} // namespace

void DialogicADPCMEncoder::Reset()
{
    m_stepSum.Reset();
    m_scaled.Reset();
}

int DialogicADPCMEncoder::Encode(int16_t sample)
{
    int best = 0;
    int64_t bestCost = -1;
    for (int code = 0; code < 16; ++code) {
        const int64_t a = int64_t(m_stepSum.PredictorAfter(code)) * 16;
        const int64_t b = int64_t(m_scaled.PredictorAfter(code)) * 16;
        const int64_t gap = a - b;
        const int64_t wide = std::max<int64_t>(0, (gap < 0 ? -gap : gap) - kGapTolerance);
        const int64_t cost = (sample - a) * (sample - a) + (sample - b) * (sample - b) + kGapWeight * gap * gap +
                             kWideGapWeight * wide * wide;
        if (bestCost < 0 || cost < bestCost) {
            bestCost = cost;
            best = code;
        }
    }
    m_stepSum.Decode(best);
    m_scaled.Decode(best);
    return best;
}
