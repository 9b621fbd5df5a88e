#include "DialogicADPCMCodec.h"

#include <algorithm>

namespace {

const int16_t kSteps[49] = {16,  17,  19,  21,  23,  25,  28,  31,  34,  37,  41,  45,   50,   55,   60,   66,  73,
                            80,  88,  97,  107, 118, 130, 143, 157, 173, 190, 209, 230,  253,  279,  307,  337,
                            371, 408, 449, 494, 544, 598, 658, 724, 796, 876, 963, 1060, 1166, 1282, 1411, 1552};
const int kIndexAdjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

} // namespace

void DialogicADPCMCodec::Reset()
{
    m_stepIndex = 0;
    m_predictor = m_arithmetic == Arithmetic::StepSum ? -2 : 0;
}

int DialogicADPCMCodec::StepSize(int index)
{
    return kSteps[std::clamp(index, 0, 48)];
}

int DialogicADPCMCodec::PredictorAfter(int code) const
{
    const int s = kSteps[m_stepIndex];
    const int magnitude = code & 7;
    int delta = m_arithmetic == Arithmetic::StepSum
                    ? ((code & 4) ? s : 0) + ((code & 2) ? s / 2 : 0) + ((code & 1) ? s / 4 : 0) + s / 8
                    : ((2 * magnitude + 1) * s) >> 3;
    if (code & 8)
        delta = -delta;
    return std::clamp(m_predictor + delta, -2048, 2047);
}

int16_t DialogicADPCMCodec::Decode(int code)
{
    code &= 15;
    m_predictor = int16_t(PredictorAfter(code));
    m_stepIndex = std::clamp(m_stepIndex + kIndexAdjust[code & 7], 0, 48);
    return int16_t(m_predictor * 16);
}
