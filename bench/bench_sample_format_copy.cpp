// Frames per second of the sample-format copy, the engine's hot path, with
// the file I/O taken out: the input's block is filled once with noise and
// written blocks are dropped.
#include "CSoundFile.h"
#include "DitherTable.h"
#include "sample_format_copy.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

namespace {

class BlockOnlyFile : public CSoundFile {
public:
    BlockOnlyFile(UInt16 channels, SInt16 bits, UInt32 frames)
    {
        m_numChannels = channels;
        m_numBits = bits;
        m_sampleRate = 44100.0;
        m_numFrames = frames;
        m_isOpen = true;
    }
    OSErr Open() override { return noErr; }
    OSErr Close() override { return noErr; }
    OSErr ReadBlock(UInt32 frame) override
    {
        if (!filled_) {
            std::mt19937 rng(1);
            const std::size_t bytes = std::size_t(GetBufferFrames()) * GetNumChannels() * (GetNumBits() / 8);
            for (std::size_t i = 0; i < bytes; ++i)
                GetReadBuffer()[i] = UInt8(rng());
            filled_ = true;
        }
        m_readBufferStart = frame;
        return noErr;
    }
    OSErr PrepareWriteBlock(UInt32) override { return noErr; }
    OSErr WriteBlock(UInt32, UInt32) override { return noErr; }
    OSErr SetFilePos(UInt32) override { return noErr; }
    OSErr ProbeHeader(SInt16* result) override
    {
        if (result)
            *result = 0;
        return noErr;
    }
    OSType GetFileType() const override { return FOUR_CHAR_CODE("Bnch"); }
    QString GetFormatName() const override { return QStringLiteral("Benchmark"); }

private:
    bool filled_ = false;
};

constexpr UInt32 kFrames = 1u << 20;

void CopyStereo(benchmark::State& state, SInt16 inBits, SInt16 outBits, bool dither)
{
    if (dither && !DitherTableExists())
        CreateDitherTable();
    BlockOnlyFile in(2, inBits, kFrames);
    BlockOnlyFile out(2, outBits, 0);
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
