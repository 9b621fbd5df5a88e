#include "resampling_filter.h"

#include "ZuFiles.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <new>

UInt16 gSRCFilterLength = 12;
double* gSincTable = nullptr;
UInt32 gSincTableCount = 0;
UInt8 gSincTableFreed = 1;

namespace {

constexpr double kPi = 3.141592653589793;
// The table is thinned below this many entries (2 MB).  Thinning drops the
// fractional part of the phase, which puts images and aliases near -53 dB
// at length 64, so it is kept to ratios with large terms: common rates (up
// to 2N x 2048 entries, 22.05 kHz to 96 kHz among them) are never thinned.
constexpr UInt64 kSincTableLimit = UInt64(1) << 18;
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

// I0(z), the modified Bessel function of order 0, as the series of terms
// t^2, t = (z / 2)^k / k!: the leading 1 and at most maxTerms more, ending
// after the first term with t at most rootFloor or t^2 at most
// relativeFloor times the sum.
double BesselSeries(double z, int maxTerms, double rootFloor, double relativeFloor)
{
    const double h = z / 2.0;
    double sum = 1.0;
    double num = 1.0;
    double den = 1.0;
    for (int k = 1; k <= maxTerms; ++k) {
        num = num * h;
        den = den * double(k);
        const double t = num / den;
        sum = sum + t * t;
        if (t <= rootFloor || t * t <= relativeFloor * sum)
            break;
    }
    return sum;
}

// The window's parameter for filter length N.
double TableBeta(UInt32 N) { return N == 64 ? 12.0 : N == 32 ? 10.0 : 6.0; }

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

// The table's entries for P = max(L, M), gain g, thinning d and length N:
// entry 0 is g, entry i the sinc g sin(x) / x at x = i d pi / P (x a running
// sum) under the window of the truncated series.
void FillSincTable(double* table, UInt64 count, UInt32 P, double g, UInt32 thin, UInt32 N)
{
    table[0] = g;
    const double step = double(thin) * kPi / double(P);
    double x = step;
    for (UInt64 i = 1; i < count; ++i) {
        table[i] = g * std::sin(x) / x;
        x += step;
    }
    const double beta = TableBeta(N);
    const double denominator = SincWindowBessel(beta);
    for (UInt64 i = 1; i < count; ++i) {
        const double r = double(i) / double(count);
        const double s = std::sqrt(1.0 - r * r);
        table[i] = table[i] * SincWindowBessel(beta * s) / denominator;
    }
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

double SincWindowBessel(double z) { return BesselSeries(z, 14, 1e-8, 0.0); }

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
    while (count >= kSincTableLimit) {
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
    FillSincTable(table, count, P, g, thin, N);
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

// ------------------------------------------------------------ stage chains
namespace {

// A chain's stages before the last one keep this much more attenuation than
// the last one's window promises, and their pass band reaches this many
// times the last one's transition half-width beyond the output's Nyquist
// frequency.
constexpr double kLeadingMarginDb = 30.0;
constexpr double kPassBeyondEdge = 1.5;
// The most phases a chain's polyphase stage may have, and the narrowest
// transition band (a fraction of its input rate) a stage before the last
// may have: beyond them one stage runs.
constexpr UInt32 kMaxChainPhases = 4096;
constexpr double kNarrowestWidth = 0.05;
// A half-band tap costs about this many polyphase taps (two loads and an add
// beside the multiply-add).
constexpr double kHalfBandTapCost = 1.2;

// The attenuation (dB) a Kaiser window of parameter beta gives, and the
// parameter for an attenuation (both by Kaiser's formulas).
double KaiserAttenuation(double beta) { return beta / 0.1102 + 8.7; }
double KaiserBeta(double attenuationDb) { return 0.1102 * (attenuationDb - 8.7); }

// The window length (taps) for an attenuation and a transition width given
// as a fraction of the sampling rate.
double KaiserLength(double attenuationDb, double width) { return (attenuationDb - 7.95) / (14.36 * width) + 1.0; }

double Sinc(double x)
{
    if (x == 0.0)
        return 1.0;
    const double y = kPi * x;
    return std::sin(y) / y;
}

// The Kaiser window of parameter beta, at distance r (a fraction of its
// half-length) from the centre.
class KaiserWindow {
public:
    explicit KaiserWindow(double beta) : beta_(beta), scale_(1.0 / I0(beta)) {}
    double operator()(double r) const { return r >= 1.0 ? 0.0 : I0(beta_ * std::sqrt(1.0 - r * r)) * scale_; }

private:
    static double I0(double z) { return BesselSeries(z, 500, 0.0, 1e-17); }
    double beta_, scale_;
};

UInt64 RoundUp(UInt64 v, UInt64 multiple) { return (v + multiple - 1) / multiple * multiple; }

} // namespace

std::vector<ResampleStageDesign> DesignResampleChain(UInt32 L, UInt32 M, UInt16 N)
{
    std::vector<ResampleStageDesign> chain;
    if (L == 0 || M <= L || N == 0)
        return chain;
    // Rates below are in units of the output rate.  The last stage's
    // transition half-width (from Kaiser's width for its window of 8N taps)
    // sets the pass band every stage before it keeps flat.
    const double finalDb = KaiserAttenuation(TableBeta(N));
    const double halfWidth = (finalDb - 7.95) / (14.36 * 8.0 * double(N));
    const double pass = 0.5 + kPassBeyondEdge * halfWidth;
    const double leadDb = finalDb + kLeadingMarginDb;
    const KaiserWindow window(KaiserBeta(leadDb));

    try {
        double cost = 0.0;
        UInt32 halvings = 0;
        // Half-bands while the rate stays at least four times the output's:
        // pass band [0, pass], stop band from rate / 2 - pass.
        while (UInt64(M) >= 4 * (UInt64(L) << halvings)) {
            const double rate = double(M) / double(UInt64(L) << halvings);
            const double width = (rate / 2.0 - 2.0 * pass) / rate;
            if (!(width > kNarrowestWidth))
                return {};
            const UInt64 K = RoundUp(UInt64(std::ceil(KaiserLength(leadDb, width) / 4.0)), 4);
            ResampleStageDesign stage;
            stage.halfBand = true;
            stage.L = 1;
            stage.M = 2;
            stage.taps.resize(std::size_t(K + 1));
            stage.taps[0] = 0.5;
            for (UInt64 i = 0; i < K; ++i) {
                const double t = double(2 * i + 1);
                stage.taps[std::size_t(i + 1)] = 0.5 * Sinc(t / 2.0) * window(t / double(2 * K));
            }
            cost += kHalfBandTapCost * double(K) * rate / 2.0;
            chain.push_back(std::move(stage));
            ++halvings;
        }
        // One polyphase stage to twice the output rate, unless the rate is
        // there already: pass band [0, pass], stop band from 2 - pass.
        const UInt64 twice = UInt64(L) << (halvings + 1);
        if (UInt64(M) != twice) {
            const UInt64 g = std::gcd(twice, UInt64(M));
            const UInt64 Lc = twice / g, Mc = UInt64(M) / g;
            if (Lc > kMaxChainPhases)
                return {};
            const double rate = double(M) / double(UInt64(L) << halvings);
            const double width = (2.0 - 2.0 * pass) / rate;
            if (!(width > kNarrowestWidth))
                return {};
            // S frames of table on either side; a row takes (count - phase)
            // div Lc of them, which leaves out the last entry of every phase
            // but 0, so the window ends within S - 1 frames.  Rows of
            // 2S - 1 taps fill the filter's rows of 16.
            const UInt64 S = RoundUp(UInt64(std::ceil(KaiserLength(leadDb, width) / 2.0)) + 1, 8);
            const UInt64 count = S * Lc;
            const double windowEnd = double((S - 1) * Lc + 1);
            ResampleStageDesign stage;
            stage.halfBand = false;
            stage.L = UInt32(Lc);
            stage.M = UInt32(Mc);
            stage.taps.resize(std::size_t(count));
            const double gain = double(Lc) / double(Mc);
            for (UInt64 i = 0; i < count; ++i)
                stage.taps[std::size_t(i)] =
                    gain * Sinc(double(i) / double(Mc)) * window(double(i) / windowEnd);
            cost += 2.0 * double(2 * S);
            chain.push_back(std::move(stage));
        }
        // The last stage: this table's filter for 2 : 1 at length N.
        const UInt64 count = 4ull * N;
        std::vector<double> table(static_cast<std::size_t>(count));
        FillSincTable(table.data(), count, 2, 0.5, 1, N);
        ResampleStageDesign last;
        last.halfBand = true;
        last.L = 1;
        last.M = 2;
        last.taps.push_back(table[0]);
        for (UInt64 i = 1; i < count; i += 2)
            last.taps.push_back(table[std::size_t(i)]);
        cost += kHalfBandTapCost * double(2 * N);
        chain.push_back(std::move(last));
        // One stage over the whole ratio: 2N zero crossings of the output's
        // period on either side, in rows rounded up to 16 taps.
        const double single = double(RoundUp(UInt64(std::ceil(4.0 * double(N) * double(M) / double(L))), 16));
        if (chain.size() > 1 && !(cost < single))
            return {};
    } catch (const std::bad_alloc&) {
        return {};
    }
    return chain;
}
