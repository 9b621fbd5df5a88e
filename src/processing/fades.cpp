#include "fades.h"

#include "CSoundFile.h"
#include "ZuFiles.h"
#include "frame_times.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

namespace {

constexpr double kFadeCapSeconds = 5.0;
constexpr double kShrinkFactor = 0.95;
constexpr UInt64 kShortestShrunkTotal = 9;

// Milliseconds to capped seconds; negative and not-a-number count as 0.
double FadeSeconds(float milliseconds)
{
    const double seconds = double(milliseconds) / 1000.0;
    if (!(seconds > 0.0))
        return 0.0;
    return std::min(seconds, kFadeCapSeconds);
}

UInt32 Shrunk(UInt32 frames)
{
    return UInt32(std::lround(double(frames) * kShrinkFactor));
}

} // namespace

void FadeLengths(const FadeSettings& settings, double sampleRate, UInt32 frames, UInt32* fadeIn,
                 UInt32* fadeOut)
{
    UInt32 nIn = UInt32(FramesFromSeconds(FadeSeconds(settings.fadeInTime), sampleRate, 0xFFFFFFFFu));
    UInt32 nOut = UInt32(FramesFromSeconds(FadeSeconds(settings.fadeOutTime), sampleRate, 0xFFFFFFFFu));
    while (UInt64(nIn) + nOut >= frames) {
        const UInt32 in = Shrunk(nIn);
        const UInt32 out = Shrunk(nOut);
        const bool changed = in != nIn || out != nOut;
        nIn = in;
        nOut = out;
        if (UInt64(nIn) + nOut <= kShortestShrunkTotal || !changed)
            break;
    }
    if ((nIn == 0 && nOut == 0) || UInt64(nIn) + nOut > frames)
        nIn = nOut = 0;
    if (fadeIn)
        *fadeIn = nIn;
    if (fadeOut)
        *fadeOut = nOut;
}

SInt32 ApplyFades(CSoundFile* file, const FadeSettings& settings)
{
    if (!settings.needsFades)
        return 0;
    if (!file)
        return paramErr;
    const std::size_t channels = file->GetNumChannels();
    if (channels == 0)
        return 0;
    UInt32 nIn = 0;
    UInt32 nOut = 0;
    FadeLengths(settings, file->GetSampleRate(), file->GetNumFrames(), &nIn, &nOut);
    if (nIn == 0 && nOut == 0)
        return 0;

    const std::size_t samples = std::size_t(std::max(nIn, nOut)) * channels;
    std::unique_ptr<double[]> buffer(new (std::nothrow) double[samples]);
    SInt32 code = CheckMemError(buffer.get(), 1);
    if (code)
        return code;

    if (nIn > 0) {
        UInt32 count = nIn;
        code = file->ReadFrames(0, &count, buffer.get());
        if (code)
            return code;
        for (UInt32 i = 0; i < count; ++i) {
            const double ramp = double(i) / double(count);
            const double gain = ramp * ramp;
            double* frame = buffer.get() + std::size_t(i) * channels;
            for (std::size_t c = 0; c < channels; ++c)
                frame[c] *= gain;
        }
        code = file->WriteFrames(0, &count, buffer.get());
        if (code)
            return code;
    }

    if (nOut > 0) {
        const UInt32 start = file->GetNumFrames() - nOut;
        UInt32 count = nOut;
        code = file->ReadFrames(start, &count, buffer.get());
        if (code)
            return code;
        for (UInt32 i = 0; i < count; ++i) {
            const double ramp = double(count - i) / double(count);
            const double gain = ramp * ramp;
            double* frame = buffer.get() + std::size_t(i) * channels;
            for (std::size_t c = 0; c < channels; ++c)
                frame[c] *= gain;
        }
        code = file->WriteFrames(start, &count, buffer.get());
    }
    return code;
}
