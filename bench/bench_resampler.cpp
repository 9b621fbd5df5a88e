// Output frames per second of the resampling filter, 44.1 -> 48 kHz stereo
// at qualities 1 (filter length 32 for 16-bit to 24-bit) and 4, with the
// wide (AVX2/FMA) and the baseline (SSE2) dot products, file I/O taken out:
// the input's block is filled once with noise and written blocks are dropped.
#include "BlockOnlyFile.h"
#include "wide_kernels.h"
#include "resampling_passes.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

constexpr UInt32 kFrames = 44100 * 10;

void Resample(benchmark::State& state, SInt16 quality, bool wide)
{
    const KernelLevel had = LimitKernels(wide ? KernelLevel::WideManyRegisters : KernelLevel::Baseline);
    UInt64 written = 0;
    for (auto _ : state) {
        BlockOnlyFile in(2, 16, 44100.0, kFrames, 0x3F);
        BlockOnlyFile out(2, 24, 48000.0, 0);
        ResampleSettings settings;
        settings.targetRate = 48000.0;
        settings.quality = quality;
        if (SRCPass(&in, &out, settings) != 0)
            state.SkipWithError("resampling failed");
        written += UInt64(std::ceil(48000.0 / 44100.0 * kFrames));
    }
    LimitKernels(had);
    state.counters["frames/s"] = benchmark::Counter(double(written), benchmark::Counter::kIsRate);
}

void BM_Quality1Wide(benchmark::State& state) { Resample(state, 1, true); }
void BM_Quality1Baseline(benchmark::State& state) { Resample(state, 1, false); }
void BM_Quality4Wide(benchmark::State& state) { Resample(state, 4, true); }
void BM_Quality4Baseline(benchmark::State& state) { Resample(state, 4, false); }

} // namespace

BENCHMARK(BM_Quality1Wide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quality1Baseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quality4Wide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quality4Baseline)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
