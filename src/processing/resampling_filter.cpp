#include "resampling_filter.h"

#include "ZuFiles.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>

UInt16 gSRCFilterLength = 12;
double* gSincTable = nullptr;
UInt32 gSincTableCount = 0;
UInt8 gSincTableFreed = 1;

namespace {

constexpr double kPi = 3.141592653589793;
// Rates are taken to four decimals in 64-bit integers; a ratio whose reduced
// terms still pass 32 bits is taken to fewer decimals.
constexpr double kMaxRate = 4294967295.0;

// The table kept while a hold is on, and what it was built for.
bool gHeld = false;
UInt32 gHeldL = 0, gHeldM = 0, gHeldD = 0;
UInt16 gHeldN = 0;

void ReleaseTable()
{
    if (gSincTableFreed == 0) {
        std::free(gSincTable);
        gSincTable = nullptr;
        gSincTableCount = 0;
        gSincTableFreed = 1;
    }
    gHeldL = gHeldM = gHeldD = 0;
    gHeldN = 0;
}

UInt16 AutomaticFilterLength(double inputRate, SInt16 inputBits, double outputRate, SInt16 outputBits)
{
    if (outputBits < 9)
        return 12;
    if (outputRate > 96000.0 || inputRate > 96000.0 || outputBits > 24 || inputBits > 24)
        return 64;
    if (outputBits != 24 && inputBits != 24)
        return 32;
    if (outputRate > 48000.0)
        return 64;
    if (inputRate > 48000.0)
        return 64;
    return 32;
}

} // namespace

UInt16 GetSRCFilterLength(SInt16 quality, double inputRate, SInt16 inputBits, double outputRate,
                          SInt16 outputBits)
{
    switch (quality) {
    case 1:
        return AutomaticFilterLength(inputRate, inputBits, outputRate, outputBits);
    case 2:
        return 12;
    case 3:
        return 32;
    case 4:
        return 64;
    default:
        return 0;
    }
}

double SincWindowBessel(double z)
{
    const double h = z / 2.0;
    double sum = 1.0;
    double num = 1.0;
    double den = 1.0;
    for (int k = 1; k <= 14; ++k) {
        num = num * h;
        den = den * double(k);
        const double t = num / den;
        sum = sum + t * t;
        if (t <= 1e-8)
            break;
    }
    return sum;
}

OSErr ReduceRateRatio(double outputRate, double inputRate, UInt32* L, UInt32* M)
{
    if (!L || !M)
        return paramErr;
    if (!(outputRate > 0.0) || !(inputRate > 0.0) || outputRate > kMaxRate || inputRate > kMaxRate)
        return paramErr;
    // Removing every common factor by trial division ends at the reduced
    // fraction; the greatest common divisor gets there directly.
    UInt64 lu = 0, mu = 0;
    for (double scale = 10000.0; scale >= 1.0; scale /= 10.0) {
        const long long l = std::llround(outputRate * scale);
        const long long m = std::llround(inputRate * scale);
        if (l < 1 || m < 1)
            return paramErr;
        lu = UInt64(l);
        mu = UInt64(m);
        const UInt64 g = std::gcd(lu, mu);
        lu /= g;
        mu /= g;
        if (std::max(lu, mu) <= 0xFFFFFFFFull)
            break;
    }
    if (std::max(lu, mu) > 0xFFFFFFFFull)
        return paramErr;
    *L = UInt32(lu);
    *M = UInt32(mu);
    return noErr;
}

UInt64 ResampledFrames(UInt32 frames, UInt32 L, UInt32 M)
{
    if (M == 0)
        return 0;
    // Both factors are below 2^32: the product fits, and so does twice the
    // remainder.
    const UInt64 scaled = UInt64(frames) * UInt64(L);
    return scaled / M + (2 * (scaled % M) >= M ? 1 : 0);
}

OSErr InitSampleRateFilter(double outputRate, double inputRate, UInt32* L, UInt32* M, UInt32* d)
{
    if (!L || !M || !d || gSRCFilterLength == 0)
        return paramErr;
    if (const OSErr err = ReduceRateRatio(outputRate, inputRate, L, M))
        return err;
    if (gHeld && gSincTableFreed == 0 && gHeldL == *L && gHeldM == *M && gHeldN == gSRCFilterLength) {
        *d = gHeldD;
        return noErr;
    }
    const OSErr err = BuildSincTable(*L, *M, d);
    if (err == noErr) {
        gHeldL = *L;
        gHeldM = *M;
        gHeldN = gSRCFilterLength;
        gHeldD = *d;
    }
    return err;
}

OSErr BuildSincTable(UInt32 L, UInt32 M, UInt32* d)
{
    if (!d || L == 0 || M == 0)
        return paramErr;
    UInt32 thin = 1;
    const UInt32 P = std::max(L, M);
    const double g = L < M ? double(L) / double(M) : 1.0;
    const UInt32 N = gSRCFilterLength;
    // 64-bit before thinning: 2 * P * N can pass 32 bits for large terms.
    UInt64 count = 2ull * UInt64(P) * UInt64(N);
    while (count >= 65536) {
        count >>= 1;
        thin *= 2;
    }
    *d = thin;
    if (count == 0)
        return paramErr;

    ReleaseTable();
    double* table = static_cast<double*>(std::malloc(std::size_t(count) * sizeof(double)));
    if (const OSErr err = CheckMemError(table, 1))
        return err;
    table[0] = g;
    const double step = double(thin) * kPi / double(P);
    double x = step;
    for (UInt32 i = 1; i < count; ++i) {
        table[i] = g * std::sin(x) / x;
        x += step;
    }
    const double beta = N == 64 ? 12.0 : N == 32 ? 10.0 : 6.0;
    const double denominator = SincWindowBessel(beta);
    for (UInt32 i = 1; i < count; ++i) {
        const double r = double(i) / double(count);
        const double s = std::sqrt(1.0 - r * r);
        table[i] = table[i] * SincWindowBessel(beta * s) / denominator;
    }
    gSincTable = table;
    gSincTableCount = UInt32(count);
    gSincTableFreed = 0;
    return noErr;
}

void FreeSincTable()
{
    if (!gHeld)
        ReleaseTable();
}

void HoldSincTable(bool hold)
{
    gHeld = hold;
    if (!hold)
        ReleaseTable();
}
