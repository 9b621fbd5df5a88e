#include "G729HighPass.h"

namespace qm::g729 {

G729HighPass::G729HighPass(const Word16 (&b)[3], const Word16 (&a)[3], int stateShift, int outputShift)
    : b_(b)
    , a_(a)
    , stateShift_(stateShift)
    , outputShift_(outputShift)
{
}

void G729HighPass::reset()
{
    y1Hi_ = y1Lo_ = y2Hi_ = y2Lo_ = x0_ = x1_ = 0;
}

void G729HighPass::filter(Word16 signal[], int count)
{
    for (int i = 0; i < count; ++i) {
        const Word16 x2 = x1_;
        x1_ = x0_;
        x0_ = signal[i];
        Word32 t = Mpy_32_16(y1Hi_, y1Lo_, a_[1]);
        t = L_add(t, Mpy_32_16(y2Hi_, y2Lo_, a_[2]));
        t = L_mac(t, x0_, b_[0]);
        t = L_mac(t, x1_, b_[1]);
        t = L_mac(t, x2, b_[2]);
        t = L_shl(t, Word16(stateShift_));
        signal[i] = round16(outputShift_ != 0 ? L_shl(t, Word16(outputShift_)) : t);
        y2Hi_ = y1Hi_;
        y2Lo_ = y1Lo_;
        L_Extract(t, y1Hi_, y1Lo_);
    }
}

}  // namespace qm::g729
