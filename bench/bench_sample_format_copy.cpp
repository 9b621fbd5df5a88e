// Frames per second of the sample-format copy, the engine's hot path, with
// the file I/O taken out: the input's block is filled once with noise and
// written blocks are dropped.
#include "BlockOnlyFile.h"
#include "DitherTable.h"
#include "sample_format_copy.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

constexpr UInt32 kFrames = 1u << 20;

void CopyStereo(benchmark::State& state, SInt16 inBits, SInt16 outBits, bool dither)
{
    if (dither && !DitherTableExists())
        CreateDitherTable();
    BlockOnlyFile in(2, inBits, 44100.0, kFrames);
    BlockOnlyFile out(2, outBits, 44100.0, 0);
    SampleCopySettings settings;
    settings.needsRedither = dither;
    for (auto _ : state) {
        UInt32 pos = 0;
        const SInt32 code = ConvertSampleFormat(&in, &out, 0, kFrames, &pos, settings);
        if (code)
            state.SkipWithError("copy failed");
        benchmark::DoNotOptimize(out.GetWriteBuffer());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kFrames);
    state.counters["frames/s"] =
        benchmark::Counter(double(state.iterations()) * kFrames, benchmark::Counter::kIsRate);
}

void BM_Copy16To24Stereo(benchmark::State& state) { CopyStereo(state, 16, 24, false); }
void BM_Copy24To16StereoDither(benchmark::State& state) { CopyStereo(state, 24, 16, true); }
void BM_Copy24To16StereoRound(benchmark::State& state) { CopyStereo(state, 24, 16, false); }
void BM_Copy16To16Stereo(benchmark::State& state) { CopyStereo(state, 16, 16, false); }

} // namespace

BENCHMARK(BM_Copy16To24Stereo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Copy24To16StereoDither)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Copy24To16StereoRound)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Copy16To16Stereo)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
