// The sinc table rearranged for the converters' filter: one row of taps per
// phase, each row covering the same window of input frames in reading
// order, so that one output frame is a single dot product of a row with a
// contiguous run of input (zero taps pad the rows to a common, vector-sized
// length).  Built from the process-wide table for one converter call.
//
// With d = 1 the phase is q in [0, L): the row holds h[q + kL] for frames
// j - k and h[(L - q) + kL] for frames j + 1 + k.  With d > 1 the phase is the
// integer part p of the running fractional phase, the stride s = round(L/d),
// and the forward taps start at trunc(L/d - p).  The tap counts per side are
// (count - first index) / stride, as the plain loop takes them.
//
// The dot products run in vector instructions: SSE2 everywhere on x86-64,
// AVX2 with FMA where the processor has them (wide_kernels.h).
#pragma once

#include "MacTypes.h"

#include <cstddef>
#include <memory>

class PolyphaseBank {
public:
    // Rows for the table h of `count` entries and the ratio terms L and d.
    // Returns 0, or the memory error when the rows cannot be allocated.
    OSErr Build(const double* h, UInt64 count, UInt32 L, UInt32 d);

    UInt64 Phases() const { return phases_; }
    // Taps per row (a multiple of 16), and how many of them lie before the
    // frame the output stands on: a row's window starts at j - Before().
    UInt64 Taps() const { return taps_; }
    UInt64 Before() const { return before_; }
    const double* Row(UInt64 phase) const { return rows_.get() + phase * taps_; }

    // Output frame f is the dot product of row phase[f] with the input run
    // starting at x[c] + start[f], for each of `channels` (1 or 2) planar
    // channels; out is interleaved.  `period`: frames that far apart stand
    // on the same phase (L with an integer phase), so they can share the
    // reading of their row; 0 when there is no such period.
    void Run(int channels, const double* const* x, const UInt32* start, const UInt32* phase, std::size_t n,
             std::size_t period, double* out) const;

private:
    struct FreeDeleter {
        void operator()(double* p) const;
    };
    std::unique_ptr<double[], FreeDeleter> rows_;
    UInt64 phases_ = 0, taps_ = 0, before_ = 0;
};
