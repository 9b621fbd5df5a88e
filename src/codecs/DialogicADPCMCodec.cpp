#include "DialogicADPCMCodec.h"

namespace {

const int16_t kSteps[49] = {16,  17,  19,  21,  23,  25,  28,  31,  34,  37,  41,  45,   50,   55,   60,   66,  73,
                            80,  88,  97,  107, 118, 130, 143, 157, 173, 190, 209, 230,  253,  279,  307,  337,
                            371, 408, 449, 494, 544, 598, 658, 724, 796, 876, 963, 1060, 1166, 1282, 1411, 1552};
const int kIndexAdjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

} // namespace

void DialogicADPCMCodec::Reset()
{
    m_stepIndex = 0;
    m_predictor = -2;
}

int DialogicADPCMCodec::Step(int code)
{
    const int s = kSteps[m_stepIndex];
    int delta = ((code & 4) ? s : 0) + ((code & 2) ? s / 2 : 0) + ((code & 1) ? s / 4 : 0) + s / 8;
    if (code & 8)
        delta = -delta;
    m_stepIndex += kIndexAdjust[code & 7];
    if (m_stepIndex < 0)
        m_stepIndex = 0;
    else if (m_stepIndex > 48)
        m_stepIndex = 48;
    return delta;
}

int16_t DialogicADPCMCodec::Decode(int code)
{
    int p = m_predictor + Step(code & 15);
    if (p > 2047)
        p = 2047;
    else if (p < -2048)
        p = -2048;
    m_predictor = int16_t(p);
    return int16_t(p * 16);
}

int DialogicADPCMCodec::Encode(int16_t sample)
{
    const int v = sample >> 4;
    int d = int16_t(v - m_predictor);
    const int s = kSteps[m_stepIndex];
    int code = 0;
    if (d < 0) {
        code = 8;
        d = -d;
    }
    if (d >= s) {
        code |= 4;
        d -= s;
    }
    const int h = s / 2;
    if (d >= h) {
        code |= 2;
        d -= h;
    }
    if (d >= h / 2)
        code |= 1;
    m_predictor = int16_t(m_predictor + Step(code));
    return code;
}
