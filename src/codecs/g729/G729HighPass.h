// The second-order high-pass filter of the encoder's input and of the
// decoder's output: y[n] = b0 x[n] + b1 x[n-1] + b2 x[n-2] + a1 y[n-1]
// + a2 y[n-2], the past outputs kept in double precision.  The coefficient
// tables are scaled down; the sum is shifted up by `stateShift` before it is
// kept, and by `outputShift` more for the sample written out.
#pragma once

#include "G729Math.h"

namespace qm::g729 {

class G729HighPass {
public:
    G729HighPass(const Word16 (&b)[3], const Word16 (&a)[3], int stateShift, int outputShift);

    void reset();
    // Filters `count` samples in place.
    void filter(Word16 signal[], int count);

private:
    const Word16 (&b_)[3];
    const Word16 (&a_)[3];
    int stateShift_;
    int outputShift_;
    Word16 y1Hi_ = 0, y1Lo_ = 0, y2Hi_ = 0, y2Lo_ = 0, x0_ = 0, x1_ = 0;
};

}  // namespace qm::g729
