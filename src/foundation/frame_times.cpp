#include "frame_times.h"

#include <cmath>

UInt64 FramesFromSeconds(double seconds, double rate, UInt64 limit)
{
    const double product = seconds * rate;
    if (!(product > 0.0))
        return 0;
    // Four units in the last place: what representing a decimal time and
    // multiplying it may lose.
    const double nearest = std::floor(product + 0.5 + product * 4.0 * std::numeric_limits<double>::epsilon());
    // 2^64 and above (and infinity) lie past every limit.
    if (nearest >= 18446744073709551616.0 || nearest >= double(limit))
        return limit;
    return UInt64(nearest);
}
