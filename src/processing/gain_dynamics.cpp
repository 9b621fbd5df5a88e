#include "gain_dynamics.h"

#include "CSoundFile.h"
#include "ZuFiles.h"
#include "progress_channel.h"
#include "region_walk.h"
#include "sample_format_copy.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

namespace {

enum class Layout { OneChannel, MonoToStereo, Stereo, MixToMono, Multi };
enum class Mode { Copy, Plain, Compress };

// Past this many split pairs the 16-bit pair index would start over.
constexpr UInt32 kMaxSplitPairs = 65536;

// Everything one kernel call works with.
struct Kernel {
    CSoundFile* in = nullptr;
    CSoundFile* out = nullptr;
    Layout layout = Layout::OneChannel;
    UInt16 channel = 0;      // OneChannel: the channel read
    std::size_t work = 1;    // values per frame the gain applies to
    std::size_t outCh = 1;   // channels of the output
    UInt32 block = 1;
    double C = 1.0;
    double T = 1.0;          // the limiter's level: C as the output writes it
    double d = 1.0;
    double A = 1.0;
    double B = 1.0;
    UInt32 W = 64;
    Mode mode = Mode::Copy;
    double P = 1.0;          // plain gain on the work values
    double Bc = 1.0;
    double G = 1.0;
    double E = 0.0;
    // Buffers, one block each.
    std::vector<double> inBuf;    // work values, interleaved
    std::vector<double> left;     // stereo reads
    std::vector<double> right;
    std::vector<double> outBuf;   // work values out, interleaved
    std::vector<double> wideBuf;  // mono-to-stereo: both channels
};

double LsbOf(const CSoundFile* out)
{
    return 1.0 / std::pow(2.0, double(out->GetNumBits() - 1));
}

// The level the limiter holds for a ceiling C: the highest output word at
// or below C (never above the top word), as a fraction of full scale.  The
// writers truncate towards zero, and their dither adds less than one step,
// so a sample at or below it never becomes a word above C; and a limited
// sample is put on it exactly, so that a rounding error of the gain never
// takes it past full scale (where the writer would clip it and count it).
// Float outputs are held on the grid of their 24-bit mantissa.
double LimiterLevel(double C, const CSoundFile* out)
{
    const int bits = out->HoldsFloatSamples() ? 24 : std::clamp<int>(out->GetNumBits(), 8, 32);
    const double steps = std::ldexp(1.0, bits - 1);
    return std::min(std::floor(C * steps), steps - 1) / steps;
}

// The divisor of the normalising gain that puts a peak m half an LSB below
// the ceiling: m / (C - lsb / 2).  (m / C + lsb / 2 would leave a quiet
// input's peak C^2 x lsb / 2m below the ceiling, many LSBs for a soft
// input.)  A ceiling below half an LSB is met as the plain ratio m / C.
double CeiledMaxOf(double m, double C, double lsb)
{
    const double target = C - 0.5 * lsb;
    return m / (target > 0.0 ? target : C);
}

// Mode selection; the mix-to-mono kernel works on (left + right) x 0.5.
SInt32 SelectMode(Kernel& k, GainSettings& s)
{
    bool ceiled = false;
    if (!s.needsNormalize) {
        if (!s.needsCompressor) {
            k.mode = Mode::Copy;
        } else if (s.hasValidMax && k.B * s.max < k.T) {
            k.mode = Mode::Plain;
            k.P = k.B;
        } else {
            k.mode = Mode::Compress;
            k.Bc = k.B;
        }
    } else {
        if (!s.hasValidMax)
            return kGainNoValidMaxErr;
        const double M = s.max;
        if (k.layout == Layout::MixToMono) {
            // M is the peak of left + right.  The stored values follow the
            // doubled-and-halved sequence; the gain is always applied, since
            // the mixed signal peaks at M / 2, not at the doubled M that the
            // ceiling test sees.
            s.max = 2 * M;
            ComputeCeiledMax(k.out, s);
            s.max = s.max * 0.5;
            if (M > 0.0) {
                s.ceiledMax = CeiledMaxOf(2 * M, k.C, LsbOf(k.out)) * 0.5;
                ceiled = true;
            }
        } else {
            ceiled = ComputeCeiledMax(k.out, s) == 1;
        }
        if (!s.needsCompressor) {
            if (ceiled) {
                k.mode = Mode::Plain;
                k.P = 1.0 / s.ceiledMax;
            } else {
                k.mode = Mode::Copy;
            }
        } else {
            k.mode = Mode::Compress;
            // A silent input has no peak to scale by.
            k.Bc = M > 0.0 ? k.B / M : k.B;
            if (k.layout == Layout::MixToMono)
                k.Bc = k.Bc * 0.5;
        }
    }
    k.G = ceiled ? 1.0 / s.ceiledMax : 1.0;
    if (k.layout == Layout::MixToMono) {
        // The plain mix writes P x (left + right): 2P on the mixed value.
        if (k.mode == Mode::Plain)
            k.P = 2 * k.P;
        if (ceiled)
            k.G = 2 * k.G;
    }
    return 0;
}

// Reads n frames at pos into the work buffer; *got the frames read.
SInt32 ReadWork(Kernel& k, UInt32 pos, UInt32 n, UInt32* got)
{
    UInt32 count = n;
    SInt32 err = 0;
    switch (k.layout) {
    case Layout::OneChannel:
        err = k.in->ReadChannelFrames(k.channel, pos, &count, k.inBuf.data());
        break;
    case Layout::MonoToStereo:
        err = k.in->ReadChannelFrames(0, pos, &count, k.inBuf.data());
        break;
    case Layout::Stereo:
        err = k.in->ReadStereoFrames(pos, &count, k.left.data(), k.right.data());
        if (!err)
            for (UInt32 i = 0; i < count; ++i) {
                k.inBuf[2 * i] = k.left[i];
                k.inBuf[2 * i + 1] = k.right[i];
            }
        break;
    case Layout::MixToMono:
        err = k.in->ReadStereoFrames(pos, &count, k.left.data(), k.right.data());
        if (!err)
            for (UInt32 i = 0; i < count; ++i)
                k.inBuf[i] = (k.left[i] + k.right[i]) * 0.5;
        break;
    case Layout::Multi:
        err = k.in->ReadFrames(pos, &count, k.inBuf.data());
        break;
    }
    *got = std::min(count, n);
    return err;
}

SInt32 WriteWork(Kernel& k, UInt32 n, UInt32* outPos)
{
    UInt32 count = n;
    double* src = k.outBuf.data();
    if (k.layout == Layout::MonoToStereo) {
        for (UInt32 i = 0; i < n; ++i)
            k.wideBuf[2 * i] = k.wideBuf[2 * i + 1] = k.outBuf[i];
        src = k.wideBuf.data();
    }
    const SInt32 err = k.out->WriteFrames(*outPos, &count, src);
    *outPos += count;
    return err;
}

inline double FrameLevel(const Kernel& k, const double* x)
{
    double level = std::fabs(x[0]);
    for (std::size_t c = 1; c < k.work; ++c)
        level = std::max(level, std::fabs(x[c]));
    return level;
}

// The limiter over one block of n frames; returns the pre-limit gain of the
// block's last frame.
double Limit(Kernel& k, UInt32 n)
{
    const std::size_t K = k.work;
    const double* x = k.inBuf.data();
    double* y = k.outBuf.data();
    double g = k.Bc * (1 - k.E);
    for (UInt32 j = 0; j < n; ++j) {
        const double* xf = x + std::size_t(j) * K;
        double* yf = y + std::size_t(j) * K;
        k.E = k.E * k.d;
        g = k.Bc * (1 - k.E);
        const double level = FrameLevel(k, xf);
        if (level * g <= k.T) {
            for (std::size_t c = 0; c < K; ++c)
                yf[c] = g * xf[c];
            continue;
        }
        const double r = k.T / (level * g);
        if (j >= k.W - 1) {
            const double s = (1 - r) / k.W;
            for (UInt32 i = 0; i + 1 < k.W; ++i) {
                const double f = 1 - i * s;
                double* back = y + std::size_t(j - (k.W - 1) + i) * K;
                for (std::size_t c = 0; c < K; ++c)
                    back[c] *= f;
            }
        }
        for (std::size_t c = 0; c < K; ++c)
            yf[c] = std::clamp(r * g * xf[c], -k.T, k.T);
        k.E = 1 - (1 - k.E) * r;
    }
    return g;
}

// One segment [a, b) (a < b) in blocks.
SInt32 RunSegment(Kernel& k, UInt32 a, UInt32 b, bool gap, bool endGap, UInt32* outPos)
{
    const std::size_t K = k.work;
    double down = 0.0;
    double up = 0.0;
    if (gap) {
        down = (k.G - k.A) / k.W;
        up = k.mode == Mode::Compress ? (k.Bc - k.A) / k.W : down;
    }
    const UInt64 rampDownEnd = UInt64(a) + k.W;
    const UInt64 rampUpStart = b >= k.W ? UInt64(b - k.W) : 0;
    for (UInt64 pos = a; pos < b;) {
        const UInt32 want = UInt32(std::min<UInt64>(k.block, b - pos));
        UInt32 n = 0;
        SInt32 err = ReadWork(k, UInt32(pos), want, &n);
        if (err)
            return err;
        if ((err = PostProgressPosition(SInt64(pos))))
            return err;
        if (n == 0)
            return eofErr;  // the input ended before its frame count
        const double* x = k.inBuf.data();
        double* y = k.outBuf.data();
        const std::size_t samples = std::size_t(n) * K;
        if (gap) {
            for (UInt32 i = 0; i < n; ++i) {
                const UInt64 p = pos + i;
                if (p < rampDownEnd)
                    k.G = k.G - down;
                if (p >= rampUpStart && !endGap)
                    k.G = k.G + up;
                // Compressing, the glide back up to the boost is held at
                // the limiter's level too.
                const double* xf = x + std::size_t(i) * K;
                double* yf = y + std::size_t(i) * K;
                const double level = k.mode == Mode::Compress ? FrameLevel(k, xf) : 0.0;
                if (level * k.G > k.T) {
                    const double g = k.T / level;
                    for (std::size_t c = 0; c < K; ++c)
                        yf[c] = std::clamp(g * xf[c], -k.T, k.T);
                } else {
                    for (std::size_t c = 0; c < K; ++c)
                        yf[c] = k.G * xf[c];
                }
            }
        } else if (k.mode == Mode::Copy) {
            std::copy(x, x + samples, y);
        } else if (k.mode == Mode::Plain) {
            for (std::size_t i = 0; i < samples; ++i)
                y[i] = k.P * x[i];
            k.G = k.P;
        } else {
            k.G = Limit(k, n);
        }
        if ((err = WriteWork(k, n, outPos)))
            return err;
        pos += n;
    }
    return 0;
}

SInt32 RunKernel(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, UInt32* outPos, Layout layout,
                 UInt16 channel, GainSettings& s)
{
    if (!in || !out || !outPos)
        return paramErr;
    Kernel k;
    k.in = in;
    k.out = out;
    k.layout = layout;
    k.channel = channel;
    const UInt16 inChannels = in->GetNumChannels();
    switch (layout) {
    case Layout::OneChannel:
    case Layout::MixToMono: k.work = 1; k.outCh = 1; break;
    case Layout::MonoToStereo: k.work = 1; k.outCh = 2; break;
    case Layout::Stereo: k.work = 2; k.outCh = 2; break;
    case Layout::Multi: k.work = inChannels; k.outCh = inChannels; break;
    }
    // The output must hold exactly the channels written.
    if (k.work == 0 || inChannels == 0 || out->GetNumChannels() != k.outCh)
        return paramErr;

    // Set-up.
    k.block = std::max<UInt32>(out->GetBufferFrames() / 2, 1);
    k.C = DecibelsToGain(s.ceiling);
    k.T = LimiterLevel(k.C, out);
    const double rate = in->GetSampleRate();
    k.d = std::pow(0.125, 1 / (rate * 0.5));
    k.A = DecibelsToGain(s.gateAttenuation);
    k.B = DecibelsToGain(s.compressionBoost);
    const UInt32 outStart = *outPos;
    out->SetDither(s.needsRedither);
    PostProgressNumSampleFrames(in->GetNumFrames());
    k.W = rate > 22255.0 ? 64 : 32;
    if (SInt32 err = SelectMode(k, s))
        return err;
    try {
        k.inBuf.assign(std::size_t(k.block) * k.work, 0.0);
        k.outBuf.assign(std::size_t(k.block) * k.work, 0.0);
        if (layout == Layout::Stereo || layout == Layout::MixToMono) {
            k.left.assign(k.block, 0.0);
            k.right.assign(k.block, 0.0);
        }
        if (layout == Layout::MonoToStereo)
            k.wideBuf.assign(std::size_t(k.block) * 2, 0.0);
    } catch (const std::bad_alloc&) {
        return kCouldNotCreatePointerErr;
    }

    // Audible and gap segments; a cursor keeps them in order whatever the
    // pairs say.
    const UInt32 last = std::min(end, in->GetNumFrames());
    auto clamp = [&](UInt32 f) { return std::max(start, std::min(f, last)); };
    UInt32 cursor = std::min(start, last);
    UInt32 audibleFrom = start;
    for (UInt32 index = 0; cursor < last; ++index) {
        UInt32 first = 0;
        UInt32 second = 0;
        SInt32 err = index < kMaxSplitPairs ? in->GetSplitPair(UInt16(index), &first, &second) : kNoSplitPairErr;
        if (err && err != kNoSplitPairErr)
            return err;
        const bool noMore = err == kNoSplitPairErr;
        const UInt32 a = std::max(clamp(audibleFrom), cursor);
        const UInt32 b = noMore ? last : clamp(first);
        if (a < b) {
            if ((err = RunSegment(k, a, b, false, false, outPos)))
                return err;
            cursor = b;
        }
        if (noMore || first >= last)
            break;
        const UInt32 ga = std::max(clamp(first), cursor);
        const UInt32 gb = clamp(second);
        const bool endGap = second >= last;
        if (ga < gb) {
            if ((err = RunSegment(k, ga, gb, true, endGap, outPos)))
                return err;
            cursor = gb;
        }
        if (endGap)
            break;
        audibleFrom = second;
    }
    return CarrySampleFormatExtras(in, out, start, end, outStart, s.copyExtras);
}

// The kernel of a treatment for the input's channel count.
SInt32 PassKernel(SInt16 treatment, CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, UInt32* outPos,
                  GainSettings& s, bool strip)
{
    if (!in || !out)
        return paramErr;
    const UInt16 channels = in->GetNumChannels();
    switch (treatment) {
    case kGainNoChannelTreat:
        if (channels == 1)
            return GainKernelOneChannel(in, out, start, end, outPos, 0, s);
        if (channels == 2)
            return GainKernelStereo(in, out, start, end, outPos, s);
        return GainKernelMulti(in, out, start, end, outPos, s);
    case kGainLeftOnly:
    case kGainRightOnly:
        if (channels <= 2)
            return GainKernelOneChannel(in, out, start, end, outPos, treatment == kGainLeftOnly ? 0 : 1, s);
        return GainKernelMulti(in, out, start, end, outPos, s);
    case kGainMixToMono:
        if (channels == 1)
            return GainKernelOneChannel(in, out, start, end, outPos, 0, s);
        if (channels == 2)
            return GainKernelMixToMono(in, out, start, end, outPos, s);
        if (!strip)
            return kGainTooManyChannelsErr;
        return GainKernelMulti(in, out, start, end, outPos, s);
    case kGainForceInterleavedStereo:
        if (channels == 1)
            return GainKernelMonoToStereo(in, out, start, end, outPos, s);
        if (channels == 2)
            return strip ? GainKernelStereo(in, out, start, end, outPos, s)
                         : GainKernelMonoToStereo(in, out, start, end, outPos, s);
        // More channels: a stereo output gets channel 0 on both sides, an
        // output of the input's shape every channel.
        if (!strip && out->GetNumChannels() == 2)
            return GainKernelMonoToStereo(in, out, start, end, outPos, s);
        return GainKernelMulti(in, out, start, end, outPos, s);
    default:
        return paramErr;
    }
}

} // namespace

int ComputeCeiledMax(const CSoundFile* out, GainSettings& s)
{
    const double C = std::pow(10.0, s.ceiling / 20);
    const double lsb = LsbOf(out);
    const double m = s.max;
    if (C - lsb <= m && m <= C)
        return 0;
    // A silent input (or a peak that is no number) has nothing to scale.
    if (!(m > 0.0))
        return 0;
    s.ceiledMax = CeiledMaxOf(m, C, lsb);
    return 1;
}

SInt32 GainKernelOneChannel(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, UInt32* outPos,
                            UInt16 channel, GainSettings& s)
{
    return RunKernel(in, out, start, end, outPos, Layout::OneChannel, channel, s);
}

SInt32 GainKernelMonoToStereo(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, UInt32* outPos,
                              GainSettings& s)
{
    return RunKernel(in, out, start, end, outPos, Layout::MonoToStereo, 0, s);
}

SInt32 GainKernelStereo(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, UInt32* outPos,
                        GainSettings& s)
{
    return RunKernel(in, out, start, end, outPos, Layout::Stereo, 0, s);
}

SInt32 GainKernelMixToMono(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, UInt32* outPos,
                           GainSettings& s)
{
    return RunKernel(in, out, start, end, outPos, Layout::MixToMono, 0, s);
}

SInt32 GainKernelMulti(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, UInt32* outPos,
                       GainSettings& s)
{
    return RunKernel(in, out, start, end, outPos, Layout::Multi, 0, s);
}

SInt32 GainPassRange(SInt16 treatment, CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                     GainSettings& s)
{
    UInt32 outPos = 0;
    return PassKernel(treatment, in, out, start, end, &outPos, s, false);
}

SInt32 GainPass(SInt16 treatment, CSoundFile* in, CSoundFile* out, GainSettings& s)
{
    if (!in)
        return paramErr;
    return GainPassRange(treatment, in, out, 0, in->GetNumFrames(), s);
}

SInt32 GainPassStrip(SInt16 treatment, CSoundFile* in, CSoundFile* out, GainSettings& s)
{
    if (!in || !out)
        return paramErr;
    RegionWalkParams params;
    params.firstSearch = 0;
    // One millisecond when compacting.
    params.margin = MarginFrames(s.needsStrip ? 0.001 : 0.0, in->GetSampleRate());
    params.nextSearchOffset = 1;
    UInt32 outPos = 0;
    return WalkRegionSpans(in, params, [&](UInt32 a, UInt32 b) {
        return PassKernel(treatment, in, out, a, b, &outPos, s, true);
    });
}
