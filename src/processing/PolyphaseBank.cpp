#include "PolyphaseBank.h"

#include "ZuFiles.h"
#include "wide_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QM_X86_KERNELS 1
#endif

namespace {

// Rows are padded to a multiple of this many taps (the widest kernel's
// unrolled step).
constexpr UInt64 kTapMultiple = 16;

using Kernel = void (*)(const double* rows, std::size_t taps, const double* const* x, const UInt32* start,
                        const UInt32* phase, std::size_t n, std::size_t period, double* out);

template <int C>
void PlainKernel(const double* rows, std::size_t taps, const double* const* x, const UInt32* start,
                 const UInt32* phase, std::size_t n, std::size_t, double* out)
{
    for (std::size_t f = 0; f < n; ++f) {
        const double* row = rows + std::size_t(phase[f]) * taps;
        for (int c = 0; c < C; ++c) {
            const double* in = x[c] + start[f];
            double acc = 0.0;
            for (std::size_t i = 0; i < taps; ++i)
                acc += row[i] * in[i];
            out[f * C + std::size_t(c)] = acc;
        }
    }
}

#if QM_X86_KERNELS
inline double Sum(__m128d v) { return _mm_cvtsd_f64(_mm_add_sd(v, _mm_unpackhi_pd(v, v))); }

void MonoSse2(const double* rows, std::size_t taps, const double* const* x, const UInt32* start,
              const UInt32* phase, std::size_t n, std::size_t, double* out)
{
    for (std::size_t f = 0; f < n; ++f) {
        const double* row = rows + std::size_t(phase[f]) * taps;
        const double* in = x[0] + start[f];
        __m128d a0 = _mm_setzero_pd(), a1 = _mm_setzero_pd(), a2 = _mm_setzero_pd(), a3 = _mm_setzero_pd();
        for (std::size_t i = 0; i < taps; i += 8) {
            a0 = _mm_add_pd(a0, _mm_mul_pd(_mm_load_pd(row + i), _mm_loadu_pd(in + i)));
            a1 = _mm_add_pd(a1, _mm_mul_pd(_mm_load_pd(row + i + 2), _mm_loadu_pd(in + i + 2)));
            a2 = _mm_add_pd(a2, _mm_mul_pd(_mm_load_pd(row + i + 4), _mm_loadu_pd(in + i + 4)));
            a3 = _mm_add_pd(a3, _mm_mul_pd(_mm_load_pd(row + i + 6), _mm_loadu_pd(in + i + 6)));
        }
        out[f] = Sum(_mm_add_pd(_mm_add_pd(a0, a1), _mm_add_pd(a2, a3)));
    }
}

void StereoSse2(const double* rows, std::size_t taps, const double* const* x, const UInt32* start,
                const UInt32* phase, std::size_t n, std::size_t, double* out)
{
    for (std::size_t f = 0; f < n; ++f) {
        const double* row = rows + std::size_t(phase[f]) * taps;
        const double* l = x[0] + start[f];
        const double* r = x[1] + start[f];
        __m128d l0 = _mm_setzero_pd(), l1 = _mm_setzero_pd(), r0 = _mm_setzero_pd(), r1 = _mm_setzero_pd();
        for (std::size_t i = 0; i < taps; i += 4) {
            const __m128d c0 = _mm_load_pd(row + i), c1 = _mm_load_pd(row + i + 2);
            l0 = _mm_add_pd(l0, _mm_mul_pd(c0, _mm_loadu_pd(l + i)));
            l1 = _mm_add_pd(l1, _mm_mul_pd(c1, _mm_loadu_pd(l + i + 2)));
            r0 = _mm_add_pd(r0, _mm_mul_pd(c0, _mm_loadu_pd(r + i)));
            r1 = _mm_add_pd(r1, _mm_mul_pd(c1, _mm_loadu_pd(r + i + 2)));
        }
        out[2 * f] = Sum(_mm_add_pd(l0, l1));
        out[2 * f + 1] = Sum(_mm_add_pd(r0, r1));
    }
}

#define QM_WIDE __attribute__((target("avx2,fma")))

QM_WIDE inline double Sum(__m256d v)
{
    return Sum(_mm_add_pd(_mm256_castpd256_pd128(v), _mm256_extractf128_pd(v, 1)));
}

// One output frame: the row's dot product with each channel's run.
template <int C>
QM_WIDE inline void OneAvx2(const double* row, std::size_t taps, const double* const* x, UInt32 start, double* out)
{
    for (int c = 0; c < C; ++c) {
        const double* in = x[c] + start;
        __m256d a0 = _mm256_setzero_pd(), a1 = _mm256_setzero_pd(), a2 = _mm256_setzero_pd(),
                a3 = _mm256_setzero_pd();
        for (std::size_t i = 0; i < taps; i += 16) {
            a0 = _mm256_fmadd_pd(_mm256_load_pd(row + i), _mm256_loadu_pd(in + i), a0);
            a1 = _mm256_fmadd_pd(_mm256_load_pd(row + i + 4), _mm256_loadu_pd(in + i + 4), a1);
            a2 = _mm256_fmadd_pd(_mm256_load_pd(row + i + 8), _mm256_loadu_pd(in + i + 8), a2);
            a3 = _mm256_fmadd_pd(_mm256_load_pd(row + i + 12), _mm256_loadu_pd(in + i + 12), a3);
        }
        out[c] = Sum(_mm256_add_pd(_mm256_add_pd(a0, a1), _mm256_add_pd(a2, a3)));
    }
}

// Four output frames on the same phase (one period apart): each load of
// the row serves all four, which halves the loads per multiply-add.
QM_WIDE inline void FourStereoAvx2(const double* row, std::size_t taps, const double* const* x, const UInt32* start,
                                   std::size_t period, double* out)
{
    const double* l0 = x[0] + start[0];
    const double* l1 = x[0] + start[period];
    const double* l2 = x[0] + start[2 * period];
    const double* l3 = x[0] + start[3 * period];
    const double* r0 = x[1] + start[0];
    const double* r1 = x[1] + start[period];
    const double* r2 = x[1] + start[2 * period];
    const double* r3 = x[1] + start[3 * period];
    __m256d al0 = _mm256_setzero_pd(), al1 = _mm256_setzero_pd(), al2 = _mm256_setzero_pd(),
            al3 = _mm256_setzero_pd(), ar0 = _mm256_setzero_pd(), ar1 = _mm256_setzero_pd(),
            ar2 = _mm256_setzero_pd(), ar3 = _mm256_setzero_pd();
    for (std::size_t i = 0; i < taps; i += 4) {
        const __m256d c = _mm256_load_pd(row + i);
        al0 = _mm256_fmadd_pd(c, _mm256_loadu_pd(l0 + i), al0);
        ar0 = _mm256_fmadd_pd(c, _mm256_loadu_pd(r0 + i), ar0);
        al1 = _mm256_fmadd_pd(c, _mm256_loadu_pd(l1 + i), al1);
        ar1 = _mm256_fmadd_pd(c, _mm256_loadu_pd(r1 + i), ar1);
        al2 = _mm256_fmadd_pd(c, _mm256_loadu_pd(l2 + i), al2);
        ar2 = _mm256_fmadd_pd(c, _mm256_loadu_pd(r2 + i), ar2);
        al3 = _mm256_fmadd_pd(c, _mm256_loadu_pd(l3 + i), al3);
        ar3 = _mm256_fmadd_pd(c, _mm256_loadu_pd(r3 + i), ar3);
    }
    out[0] = Sum(al0);
    out[1] = Sum(ar0);
    out[2 * period] = Sum(al1);
    out[2 * period + 1] = Sum(ar1);
    out[4 * period] = Sum(al2);
    out[4 * period + 1] = Sum(ar2);
    out[6 * period] = Sum(al3);
    out[6 * period + 1] = Sum(ar3);
}

QM_WIDE inline void FourMonoAvx2(const double* row, std::size_t taps, const double* const* x, const UInt32* start,
                                 std::size_t period, double* out)
{
    const double* in0 = x[0] + start[0];
    const double* in1 = x[0] + start[period];
    const double* in2 = x[0] + start[2 * period];
    const double* in3 = x[0] + start[3 * period];
    __m256d a0 = _mm256_setzero_pd(), b0 = _mm256_setzero_pd(), a1 = _mm256_setzero_pd(), b1 = _mm256_setzero_pd(),
            a2 = _mm256_setzero_pd(), b2 = _mm256_setzero_pd(), a3 = _mm256_setzero_pd(), b3 = _mm256_setzero_pd();
    for (std::size_t i = 0; i < taps; i += 8) {
        const __m256d c = _mm256_load_pd(row + i), d = _mm256_load_pd(row + i + 4);
        a0 = _mm256_fmadd_pd(c, _mm256_loadu_pd(in0 + i), a0);
        b0 = _mm256_fmadd_pd(d, _mm256_loadu_pd(in0 + i + 4), b0);
        a1 = _mm256_fmadd_pd(c, _mm256_loadu_pd(in1 + i), a1);
        b1 = _mm256_fmadd_pd(d, _mm256_loadu_pd(in1 + i + 4), b1);
        a2 = _mm256_fmadd_pd(c, _mm256_loadu_pd(in2 + i), a2);
        b2 = _mm256_fmadd_pd(d, _mm256_loadu_pd(in2 + i + 4), b2);
        a3 = _mm256_fmadd_pd(c, _mm256_loadu_pd(in3 + i), a3);
        b3 = _mm256_fmadd_pd(d, _mm256_loadu_pd(in3 + i + 4), b3);
    }
    out[0] = Sum(_mm256_add_pd(a0, b0));
    out[period] = Sum(_mm256_add_pd(a1, b1));
    out[2 * period] = Sum(_mm256_add_pd(a2, b2));
    out[3 * period] = Sum(_mm256_add_pd(a3, b3));
}

// Frames `period` apart share their phase (period 0: no such period), so
// they go four at a time where the run allows; the rest one at a time.
template <int C>
QM_WIDE void WideKernel(const double* rows, std::size_t taps, const double* const* x, const UInt32* start,
                        const UInt32* phase, std::size_t n, std::size_t period, double* out)
{
    std::size_t f = 0;
    if (period > 0) {
        for (; f + 4 * period <= n; f += 4 * period) {
            for (std::size_t i = f; i < f + period; ++i) {
                const double* row = rows + std::size_t(phase[i]) * taps;
                if (phase[i + period] != phase[i] || phase[i + 2 * period] != phase[i] ||
                    phase[i + 3 * period] != phase[i]) {
                    for (std::size_t k = 0; k < 4; ++k) {
                        const std::size_t g = i + k * period;
                        OneAvx2<C>(rows + std::size_t(phase[g]) * taps, taps, x, start[g], out + g * C);
                    }
                } else if (C == 2) {
                    FourStereoAvx2(row, taps, x, start + i, period, out + 2 * i);
                } else {
                    FourMonoAvx2(row, taps, x, start + i, period, out + i);
                }
            }
        }
    }
    for (; f < n; ++f)
        OneAvx2<C>(rows + std::size_t(phase[f]) * taps, taps, x, start[f], out + f * C);
}
#endif

Kernel PickKernel(int channels)
{
#if QM_X86_KERNELS
    if (KernelsInUse() != KernelLevel::Baseline)
        return channels == 2 ? WideKernel<2> : WideKernel<1>;
    return channels == 2 ? StereoSse2 : MonoSse2;
#else
    return channels == 2 ? PlainKernel<2> : PlainKernel<1>;
#endif
}

} // namespace

void PolyphaseBank::FreeDeleter::operator()(double* p) const { std::free(p); }

OSErr PolyphaseBank::Build(const double* h, UInt64 count, UInt32 L, UInt32 d)
{
    rows_.reset();
    phases_ = taps_ = before_ = 0;
    if (!h || count == 0 || L == 0 || d == 0)
        return paramErr;
    const double Ld = double(L) / double(d);
    const UInt64 s = d == 1 ? L : std::max<UInt64>(UInt64(std::llround(Ld)), 1);
    // The running fractional phase stays below L / d, so its integer part is
    // at most trunc(L / d).
    const UInt64 phases = d == 1 ? L : UInt64(Ld) + 1;
    auto firstForward = [&](UInt64 p) { return d == 1 ? UInt64(L) - p : UInt64(Ld - double(p)); };
    auto tapsFrom = [&](UInt64 first) { return first < count ? (count - first) / s : 0; };

    UInt64 back = 0, ahead = 0;
    for (UInt64 p = 0; p < phases; ++p) {
        back = std::max(back, tapsFrom(p));
        ahead = std::max(ahead, tapsFrom(firstForward(p)));
    }
    const UInt64 before = back > 0 ? back - 1 : 0;
    const UInt64 taps = (before + 1 + ahead + kTapMultiple - 1) / kTapMultiple * kTapMultiple;
    const UInt64 bytes = phases * taps * sizeof(double);
    if (phases > (UInt64(1) << 24) || taps > (UInt64(1) << 24))
        return paramErr;

    double* rows = static_cast<double*>(std::aligned_alloc(64, std::size_t((bytes + 63) / 64 * 64)));
    if (const OSErr err = CheckMemError(rows, 1))
        return err;
    if (!rows)
        return kCouldNotCreatePointerErr;
    std::memset(rows, 0, std::size_t(bytes));
    for (UInt64 p = 0; p < phases; ++p) {
        double* row = rows + p * taps;
        const UInt64 nb = tapsFrom(p);
        for (UInt64 k = 0; k < nb; ++k)
            row[before - k] = h[p + k * s];
        const UInt64 fi = firstForward(p);
        const UInt64 nf = tapsFrom(fi);
        for (UInt64 k = 0; k < nf; ++k)
            row[before + 1 + k] = h[fi + k * s];
    }
    rows_.reset(rows);
    phases_ = phases;
    taps_ = taps;
    before_ = before;
    return noErr;
}

void PolyphaseBank::Run(int channels, const double* const* x, const UInt32* start, const UInt32* phase,
                        std::size_t n, std::size_t period, double* out) const
{
    PickKernel(channels)(rows_.get(), std::size_t(taps_), x, start, phase, n, period, out);
}
