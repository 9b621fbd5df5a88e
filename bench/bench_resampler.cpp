// Output frames per second of the resampling filter on ten seconds of
// stereo, file I/O taken out (the input's block is filled once with noise
// and written blocks are dropped): 44.1 -> 48 kHz (one filter stage) at
// qualities 1 (filter length 32 for 16-bit to 24-bit) and 4, and 96 -> 48,
// 96 -> 44.1 and 192 -> 48 kHz (chains of stages) at quality 4, each with
// the widest kernels the processor has and with the baseline (SSE2) ones.
#include "BlockOnlyFile.h"
#include "resampling_passes.h"
#include "wide_kernels.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

void Resample(benchmark::State& state, double inRate, double outRate, SInt16 inBits, SInt16 quality, bool wide)
{
    const KernelLevel had = LimitKernels(wide ? KernelLevel::WideManyRegisters : KernelLevel::Baseline);
    const UInt32 frames = UInt32(inRate * 10);
    UInt64 written = 0;
    for (auto _ : state) {
        BlockOnlyFile in(2, inBits, inRate, frames, 0x3F);
        BlockOnlyFile out(2, 24, outRate, 0);
        ResampleSettings settings;
        settings.targetRate = outRate;
        settings.quality = quality;
        if (SRCPass(&in, &out, settings) != 0)
            state.SkipWithError("resampling failed");
        written += UInt64(std::llround(outRate / inRate * frames));
    }
    LimitKernels(had);
    state.counters["frames/s"] = benchmark::Counter(double(written), benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK_CAPTURE(Resample, Up44To48Quality1Wide, 44100.0, 48000.0, 16, 1, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Resample, Up44To48Quality1Baseline, 44100.0, 48000.0, 16, 1, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Resample, Up44To48Quality4Wide, 44100.0, 48000.0, 16, 4, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Resample, Up44To48Quality4Baseline, 44100.0, 48000.0, 16, 4, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Resample, Down96To48Quality4Wide, 96000.0, 48000.0, 24, 4, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Resample, Down96To48Quality4Baseline, 96000.0, 48000.0, 24, 4, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Resample, Down96To44Quality4Wide, 96000.0, 44100.0, 24, 4, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Resample, Down96To44Quality4Baseline, 96000.0, 44100.0, 24, 4, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Resample, Down192To48Quality4Wide, 192000.0, 48000.0, 24, 4, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Resample, Down192To48Quality4Baseline, 192000.0, 48000.0, 24, 4, false)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
