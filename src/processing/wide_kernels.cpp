#include "wide_kernels.h"

#include <algorithm>
#include <atomic>

namespace {

std::atomic<KernelLevel> gCap{KernelLevel::WideManyRegisters};

KernelLevel ProcessorLevel()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma"))
        return KernelLevel::Baseline;
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl"))
        return KernelLevel::WideManyRegisters;
    return KernelLevel::Wide;
#else
    return KernelLevel::Baseline;
#endif
}

} // namespace

KernelLevel KernelsInUse()
{
    static const KernelLevel level = ProcessorLevel();
    return std::min(level, gCap.load(std::memory_order_relaxed));
}

KernelLevel LimitKernels(KernelLevel most) { return gCap.exchange(most); }
