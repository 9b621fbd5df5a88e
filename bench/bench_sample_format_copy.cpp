// Frames per second of the sample-format copy, the engine's hot path, with
// the file I/O taken out: the input's block is filled once with noise and
// written blocks are dropped.  The Raw cases run the copy between files that
// hand over their file bytes (little-endian WAVE-like words in, big-endian
// AIFF-like words out), filled and dropped the same way.
#include "BlockOnlyFile.h"
#include "DitherTable.h"
#include "sample_format_copy.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>

namespace {

constexpr UInt32 kFrames = 1u << 20;

class RawOnlyFile : public BlockOnlyFile {
public:
    RawOnlyFile(UInt16 channels, SInt16 bits, UInt32 frames, bool littleEndian)
        : BlockOnlyFile(channels, bits, 44100.0, frames), littleEndian_(littleEndian)
    {
    }
    bool GetRawSampleLayout(RawSampleLayout* layout) const override
    {
        layout->bytes = UInt8(GetNumBits() / 8);
        layout->littleEndian = littleEndian_;
        layout->offsetBinary = false;
        return true;
    }
    OSErr ReadRawFrames(UInt32 frame, UInt8* data, UInt32* filled) override
    {
        *filled = frame < GetNumFrames() ? std::min(GetBufferFrames(), GetNumFrames() - frame) : 0;
        if (data != filled_) {  // each copy's buffer once
            std::mt19937 rng(1);
            const std::size_t bytes = std::size_t(GetBufferFrames()) * GetNumChannels() * (GetNumBits() / 8);
            for (std::size_t i = 0; i < bytes; ++i)
                data[i] = UInt8(rng());
            filled_ = data;
        }
        return noErr;
    }
    OSErr WriteRawFrames(const UInt8*, UInt32, UInt32) override { return noErr; }

private:
    bool littleEndian_;
    const UInt8* filled_ = nullptr;
};

void RawCopyStereo(benchmark::State& state, SInt16 inBits, SInt16 outBits, bool dither)
{
    if (dither && !DitherTableExists())
        CreateDitherTable();
    RawOnlyFile in(2, inBits, kFrames, true);
    RawOnlyFile out(2, outBits, 0, false);
    SampleCopySettings settings;
    settings.needsRedither = dither;
    for (auto _ : state) {
        UInt32 pos = 0;
        if (ConvertSampleFormat(&in, &out, 0, kFrames, &pos, settings))
            state.SkipWithError("copy failed");
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kFrames);
    state.counters["frames/s"] =
        benchmark::Counter(double(state.iterations()) * kFrames, benchmark::Counter::kIsRate);
}

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
void BM_RawCopy16To24Stereo(benchmark::State& state) { RawCopyStereo(state, 16, 24, false); }
void BM_RawCopy24To16StereoDither(benchmark::State& state) { RawCopyStereo(state, 24, 16, true); }
void BM_RawCopy24To16StereoRound(benchmark::State& state) { RawCopyStereo(state, 24, 16, false); }

} // namespace

BENCHMARK(BM_Copy16To24Stereo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Copy24To16StereoDither)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Copy24To16StereoRound)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Copy16To16Stereo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawCopy16To24Stereo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawCopy24To16StereoDither)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawCopy24To16StereoRound)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
