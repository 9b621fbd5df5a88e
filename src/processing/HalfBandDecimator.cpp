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
    const double* f = odd + k;
    const double* b = odd + k - 1;
    double acc = 0.0;
    for (std::size_t i = 0; i < K; ++i)
        acc += a[i] * (f[i] + *(b - i));
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

// The wide kernels: 4V frames at a time in V registers.  The taps run in
// two chains, i and i + 2 for i = r, r + 4, ... (r = 0, 1); a step of four
// taps moves each register's run of odd frames by one register, so a step
// loads only the one new register at either end of a chain and passes the
// others on.  Compiled into each caller for its instruction set.
template <int V>
__attribute__((target("avx2,fma"), always_inline)) inline void ChainKernel(const double* a, std::size_t K, double c,
                                                                          const double* even, const double* odd,
                                                                          std::size_t n, double* y, std::size_t stride)
{
    std::size_t k = 0;
    for (; k + 4 * V <= n; k += 4 * V) {
        const double* f = odd + k;
        const double* b = odd + k - 1;
        __m256d sum[V];
#pragma GCC unroll 4
        for (int v = 0; v < V; ++v)
            sum[v] = _mm256_setzero_pd();
        for (std::size_t r = 0; r < 2; ++r) {
            // Forward runs from odd[k + i] (chain p) and odd[k + i + 2]
            // (chain q), backward runs ending at odd[k - 1 - i] and
            // odd[k - 3 - i], a register apart.
            __m256d pf[V], pb[V], qf[V], qb[V], p[V], q[V];
#pragma GCC unroll 4
            for (int v = 0; v < V; ++v) {
                if (v < V - 1) {
                    pf[v] = _mm256_loadu_pd(f + r + 4 * v);
                    qf[v] = _mm256_loadu_pd(f + r + 2 + 4 * v);
                }
                if (v > 0) {
                    pb[v] = _mm256_loadu_pd(b - r + 4 * v);
                    qb[v] = _mm256_loadu_pd(b - r - 2 + 4 * v);
                }
                p[v] = q[v] = _mm256_setzero_pd();
            }
            for (std::size_t i = r; i < K; i += 4) {
                const __m256d tp = _mm256_broadcast_sd(a + i), tq = _mm256_broadcast_sd(a + i + 2);
                pf[V - 1] = _mm256_loadu_pd(f + i + 4 * (V - 1));
                qf[V - 1] = _mm256_loadu_pd(f + i + 2 + 4 * (V - 1));
                pb[0] = _mm256_loadu_pd(b - i);
                qb[0] = _mm256_loadu_pd(b - i - 2);
#pragma GCC unroll 4
                for (int v = 0; v < V; ++v) {
                    p[v] = _mm256_fmadd_pd(tp, _mm256_add_pd(pf[v], pb[v]), p[v]);
                    q[v] = _mm256_fmadd_pd(tq, _mm256_add_pd(qf[v], qb[v]), q[v]);
                }
#pragma GCC unroll 4
                for (int v = 0; v + 1 < V; ++v) {
                    pf[v] = pf[v + 1];
                    qf[v] = qf[v + 1];
                }
#pragma GCC unroll 4
                for (int v = V - 1; v > 0; --v) {
                    pb[v] = pb[v - 1];
                    qb[v] = qb[v - 1];
                }
            }
#pragma GCC unroll 4
            for (int v = 0; v < V; ++v)
                sum[v] = _mm256_add_pd(sum[v], _mm256_add_pd(p[v], q[v]));
        }
        const __m256d cc = _mm256_set1_pd(c);
        alignas(32) double frames[4 * V];
#pragma GCC unroll 4
        for (int v = 0; v < V; ++v)
            _mm256_store_pd(frames + 4 * v, _mm256_fmadd_pd(cc, _mm256_loadu_pd(even + k + 4 * v), sum[v]));
        Scatter(frames, 4 * V, y, k, stride);
    }
    for (; k < n; ++k)
        y[k * stride] = OneFrame(a, K, c, even, odd, k);
}

// Two registers a chain fit the sixteen registers of AVX2; three, the 32 of
// AVX-512VL.
__attribute__((target("avx2,fma"))) void Avx2Kernel(const double* a, std::size_t K, double c, const double* even,
                                                    const double* odd, std::size_t n, double* y, std::size_t stride)
{
    ChainKernel<2>(a, K, c, even, odd, n, y, stride);
}

__attribute__((target("avx2,fma,avx512f,avx512vl"))) void ManyRegistersKernel(const double* a, std::size_t K, double c,
                                                                            const double* even, const double* odd,
                                                                            std::size_t n, double* y,
                                                                            std::size_t stride)
{
    ChainKernel<3>(a, K, c, even, odd, n, y, stride);
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
