// A decimator by two with a half-band filter: the taps are symmetric about
// the centre and every second one is zero but the centre, so an output
// frame costs one multiply-add per pair of non-zero taps, and only the
// frames kept are computed.
//
// Output frame k stands on input frame 2k:
//   y[k] = c x[2k] + sum over i < K of a[i] (x[2k - 1 - 2i] + x[2k + 1 + 2i]).
// The input comes split by parity, even[m] = x[2m] and odd[m] = x[2m + 1],
// so that y[k] = c even[k] + sum a[i] (odd[k + i] + odd[k - 1 - i]) runs over
// contiguous frames.  The sums run in vector instructions (wide_kernels.h).
#pragma once

#include "MacTypes.h"

#include <cstddef>
#include <memory>

class HalfBandDecimator {
public:
    // The centre c and the K odd taps a[0..K).  Returns 0, paramErr when K
    // is 0, or the memory error.
    OSErr Build(double centre, const double* odd, UInt32 K);

    // Frames of the odd plane a run reads on either side of the frames it
    // computes: outputs [k0, k0 + n) read odd[k0 - Reach(), k0 + n + Reach()).
    UInt64 Reach() const { return reach_; }

    // Output frames k0 .. k0 + n - 1 for `channels` (1 or 2) channels: even[c]
    // and odd[c] point at the frames of index k0 of each channel's planes;
    // out is interleaved.
    void Run(int channels, const double* const* even, const double* const* odd, std::size_t n, double* out) const;

private:
    struct FreeDeleter {
        void operator()(double* p) const;
    };
    std::unique_ptr<double[], FreeDeleter> taps_;  // K rounded up to 4, zero-padded
    double centre_ = 0.0;
    UInt64 count_ = 0, reach_ = 0;
};
