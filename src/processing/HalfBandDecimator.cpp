#include "HalfBandDecimator.h"

#include "ZuFiles.h"
#include "wide_kernels.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QM_X86_KERNELS 1
#endif

namespace {

// One channel: y[f * stride] for f < n, the taps a[0..K) with K a multiple
// of 4.
using Kernel = void (*)(const double* a, std::size_t K, double c, const double* even, const double* odd,
                        std::size_t n, double* y, std::size_t stride);

inline double OneFrame(const double* a, std::size_t K, double c, const double* even, const double* odd,
                       std::size_t k)
{
    double acc = 0.0;
    for (std::size_t i = 0; i < K; ++i)
        acc += a[i] * (odd[k + i] + odd[k - 1 - i]);
    return acc + c * even[k];
}

// Stores r[0..count) at y[(k + v) * stride].
inline void Scatter(const double* r, std::size_t count, double* y, std::size_t k, std::size_t stride)
{
    for (std::size_t v = 0; v < count; ++v)
        y[(k + v) * stride] = r[v];
}

#if !QM_X86_KERNELS
void PlainKernel(const double* a, std::size_t K, double c, const double* even, const double* odd, std::size_t n,
                 double* y, std::size_t stride)
{
    for (std::size_t k = 0; k < n; ++k)
        y[k * stride] = OneFrame(a, K, c, even, odd, k);
}
#endif

#if QM_X86_KERNELS
// Eight frames at a time, two doubles to a register.
void Sse2Kernel(const double* a, std::size_t K, double c, const double* even, const double* odd, std::size_t n,
                double* y, std::size_t stride)
{
    std::size_t k = 0;
    for (; k + 8 <= n; k += 8) {
        const double* f = odd + k;
        const double* b = odd + k - 1;
        __m128d s0 = _mm_setzero_pd(), s1 = s0, s2 = s0, s3 = s0;
        for (std::size_t i = 0; i < K; ++i) {
            const __m128d t = _mm_set1_pd(a[i]);
            s0 = _mm_add_pd(s0, _mm_mul_pd(t, _mm_add_pd(_mm_loadu_pd(f + i), _mm_loadu_pd(b - i))));
            s1 = _mm_add_pd(s1, _mm_mul_pd(t, _mm_add_pd(_mm_loadu_pd(f + i + 2), _mm_loadu_pd(b - i + 2))));
            s2 = _mm_add_pd(s2, _mm_mul_pd(t, _mm_add_pd(_mm_loadu_pd(f + i + 4), _mm_loadu_pd(b - i + 4))));
            s3 = _mm_add_pd(s3, _mm_mul_pd(t, _mm_add_pd(_mm_loadu_pd(f + i + 6), _mm_loadu_pd(b - i + 6))));
        }
        const __m128d cc = _mm_set1_pd(c);
        alignas(16) double r[8];
        _mm_store_pd(r, _mm_add_pd(s0, _mm_mul_pd(cc, _mm_loadu_pd(even + k))));
        _mm_store_pd(r + 2, _mm_add_pd(s1, _mm_mul_pd(cc, _mm_loadu_pd(even + k + 2))));
        _mm_store_pd(r + 4, _mm_add_pd(s2, _mm_mul_pd(cc, _mm_loadu_pd(even + k + 4))));
        _mm_store_pd(r + 6, _mm_add_pd(s3, _mm_mul_pd(cc, _mm_loadu_pd(even + k + 6))));
        Scatter(r, 8, y, k, stride);
    }
    for (; k < n; ++k)
        y[k * stride] = OneFrame(a, K, c, even, odd, k);
}

// The wide kernels run the taps in two chains, i and i + 2 for i = r, r + 4,
// ... (r = 0, 1).  A step of four taps moves each register's run of odd
// frames by one register, so a step loads only the one new register at
// either end of a chain and passes the others on.

// Eight frames at a time in two registers (sixteen registers in all).
__attribute__((target("avx2,fma"))) void Avx2Kernel(const double* a, std::size_t K, double c, const double* even,
                                                    const double* odd, std::size_t n, double* y, std::size_t stride)
{
    std::size_t k = 0;
    for (; k + 8 <= n; k += 8) {
        const double* f = odd + k;
        const double* b = odd + k - 1;
        __m256d y0 = _mm256_setzero_pd(), y1 = y0;
        for (std::size_t r = 0; r < 2; ++r) {
            __m256d pf0 = _mm256_loadu_pd(f + r), pb1 = _mm256_loadu_pd(b - r + 4);
            __m256d qf0 = _mm256_loadu_pd(f + r + 2), qb1 = _mm256_loadu_pd(b - r + 2);
            __m256d p0 = _mm256_setzero_pd(), p1 = p0, q0 = p0, q1 = p0;
            for (std::size_t i = r; i < K; i += 4) {
                const __m256d tp = _mm256_broadcast_sd(a + i), tq = _mm256_broadcast_sd(a + i + 2);
                const __m256d pf1 = _mm256_loadu_pd(f + i + 4), pb0 = _mm256_loadu_pd(b - i);
                const __m256d qf1 = _mm256_loadu_pd(f + i + 6), qb0 = _mm256_loadu_pd(b - i - 2);
                p0 = _mm256_fmadd_pd(tp, _mm256_add_pd(pf0, pb0), p0);
                p1 = _mm256_fmadd_pd(tp, _mm256_add_pd(pf1, pb1), p1);
                q0 = _mm256_fmadd_pd(tq, _mm256_add_pd(qf0, qb0), q0);
                q1 = _mm256_fmadd_pd(tq, _mm256_add_pd(qf1, qb1), q1);
                pf0 = pf1;
                pb1 = pb0;
                qf0 = qf1;
                qb1 = qb0;
            }
            y0 = _mm256_add_pd(y0, _mm256_add_pd(p0, q0));
            y1 = _mm256_add_pd(y1, _mm256_add_pd(p1, q1));
        }
        const __m256d cc = _mm256_set1_pd(c);
        alignas(32) double r[8];
        _mm256_store_pd(r, _mm256_fmadd_pd(cc, _mm256_loadu_pd(even + k), y0));
        _mm256_store_pd(r + 4, _mm256_fmadd_pd(cc, _mm256_loadu_pd(even + k + 4), y1));
        Scatter(r, 8, y, k, stride);
    }
    for (; k < n; ++k)
        y[k * stride] = OneFrame(a, K, c, even, odd, k);
}

// Twelve frames at a time in three registers: more partial sums in flight,
// which needs the 32 registers of AVX-512VL.
__attribute__((target("avx2,fma,avx512f,avx512vl"))) void ManyRegistersKernel(const double* a, std::size_t K, double c,
                                                                            const double* even, const double* odd,
                                                                            std::size_t n, double* y,
                                                                            std::size_t stride)
{
    std::size_t k = 0;
    for (; k + 12 <= n; k += 12) {
        const double* f = odd + k;
        const double* b = odd + k - 1;
        __m256d y0 = _mm256_setzero_pd(), y1 = y0, y2 = y0;
        for (std::size_t r = 0; r < 2; ++r) {
            __m256d pf0 = _mm256_loadu_pd(f + r), pf1 = _mm256_loadu_pd(f + r + 4);
            __m256d pb1 = _mm256_loadu_pd(b - r + 4), pb2 = _mm256_loadu_pd(b - r + 8);
            __m256d qf0 = _mm256_loadu_pd(f + r + 2), qf1 = _mm256_loadu_pd(f + r + 6);
            __m256d qb1 = _mm256_loadu_pd(b - r + 2), qb2 = _mm256_loadu_pd(b - r + 6);
            __m256d p0 = _mm256_setzero_pd(), p1 = p0, p2 = p0, q0 = p0, q1 = p0, q2 = p0;
            for (std::size_t i = r; i < K; i += 4) {
                const __m256d tp = _mm256_broadcast_sd(a + i), tq = _mm256_broadcast_sd(a + i + 2);
                const __m256d pf2 = _mm256_loadu_pd(f + i + 8), pb0 = _mm256_loadu_pd(b - i);
                const __m256d qf2 = _mm256_loadu_pd(f + i + 10), qb0 = _mm256_loadu_pd(b - i - 2);
                p0 = _mm256_fmadd_pd(tp, _mm256_add_pd(pf0, pb0), p0);
                p1 = _mm256_fmadd_pd(tp, _mm256_add_pd(pf1, pb1), p1);
                p2 = _mm256_fmadd_pd(tp, _mm256_add_pd(pf2, pb2), p2);
                q0 = _mm256_fmadd_pd(tq, _mm256_add_pd(qf0, qb0), q0);
                q1 = _mm256_fmadd_pd(tq, _mm256_add_pd(qf1, qb1), q1);
                q2 = _mm256_fmadd_pd(tq, _mm256_add_pd(qf2, qb2), q2);
                pf0 = pf1;
                pf1 = pf2;
                pb2 = pb1;
                pb1 = pb0;
                qf0 = qf1;
                qf1 = qf2;
                qb2 = qb1;
                qb1 = qb0;
            }
            y0 = _mm256_add_pd(y0, _mm256_add_pd(p0, q0));
            y1 = _mm256_add_pd(y1, _mm256_add_pd(p1, q1));
            y2 = _mm256_add_pd(y2, _mm256_add_pd(p2, q2));
        }
        const __m256d cc = _mm256_set1_pd(c);
        alignas(32) double r[12];
        _mm256_store_pd(r, _mm256_fmadd_pd(cc, _mm256_loadu_pd(even + k), y0));
        _mm256_store_pd(r + 4, _mm256_fmadd_pd(cc, _mm256_loadu_pd(even + k + 4), y1));
        _mm256_store_pd(r + 8, _mm256_fmadd_pd(cc, _mm256_loadu_pd(even + k + 8), y2));
        Scatter(r, 12, y, k, stride);
    }
    for (; k < n; ++k)
        y[k * stride] = OneFrame(a, K, c, even, odd, k);
}
#endif

Kernel PickKernel()
{
#if QM_X86_KERNELS
    switch (KernelsInUse()) {
    case KernelLevel::WideManyRegisters:
        return ManyRegistersKernel;
    case KernelLevel::Wide:
        return Avx2Kernel;
    case KernelLevel::Baseline:
        break;
    }
    return Sse2Kernel;
#else
    return PlainKernel;
#endif
}

} // namespace

void HalfBandDecimator::FreeDeleter::operator()(double* p) const { std::free(p); }

OSErr HalfBandDecimator::Build(double centre, const double* odd, UInt32 K)
{
    taps_.reset();
    count_ = reach_ = 0;
    if (!odd || K == 0)
        return paramErr;
    const UInt64 count = (UInt64(K) + 3) / 4 * 4;
    double* taps = static_cast<double*>(std::aligned_alloc(32, std::size_t((count * sizeof(double) + 31) / 32 * 32)));
    if (const OSErr err = CheckMemError(taps, 1))
        return err;
    if (!taps)
        return kCouldNotCreatePointerErr;
    std::memset(taps, 0, std::size_t(count) * sizeof(double));
    std::memcpy(taps, odd, std::size_t(K) * sizeof(double));
    taps_.reset(taps);
    centre_ = centre;
    count_ = count;
    reach_ = count;
    return noErr;
}

void HalfBandDecimator::Run(int channels, const double* const* even, const double* const* odd, std::size_t n,
                            double* out) const
{
    const Kernel kernel = PickKernel();
    for (int c = 0; c < channels; ++c)
        kernel(taps_.get(), std::size_t(count_), centre_, even[c], odd[c], n, out + c, std::size_t(channels));
}
