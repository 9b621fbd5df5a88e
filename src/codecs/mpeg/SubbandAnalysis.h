// SubbandAnalysis: the polyphase analysis filterbank of ISO/IEC 11172-3
// (Annex C.1.3) for up to two channels.  Every call takes the next 32
// samples of a channel and gives its 32 subband samples.  One object per
// encode; its history starts cleared.
#pragma once

#include <cstdint>

class SubbandAnalysis {
public:
    SubbandAnalysis();

    // Filters the next 32 samples of `channel` (0 or 1) into `out`.
    void Filter(const int16_t* samples, int channel, double out[32]);

    // The analysis matrix entry M[k][i] (cos((2k + 1)(16 - i) pi / 64)
    // rounded to nine decimals), for the tests.
    static double Matrix(int k, int i);

private:
    // The last 512 samples, each stored twice (at n and n + 512) so that a
    // window position never wraps.
    double x_[2][1024];
    int offset_[2];
};
