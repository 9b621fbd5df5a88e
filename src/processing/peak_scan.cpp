#include "peak_scan.h"

#include "CSoundFile.h"
#include "frame_times.h"
#include "progress_channel.h"
#include "region_walk.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace {

// Raw peaks to a fraction of full scale, by bytes per sample.
constexpr double kPeakScale8 = 0.0078125;
constexpr double kPeakScale16 = 3.051758e-05;
constexpr double kPeakScale32 = 4.65661287308e-10;

// How a scan looks at the samples of one frame.
enum class ScanPath {
    AllSamples,  // every sample of every channel
    FrameSum,    // one value per frame: left + right
    OneChannel,  // the peak of one channel only (left or right only)
};

ScanPath PathFor(SInt16 treatment, UInt16 channels, bool peakOnly, UInt16* channel)
{
    *channel = 0;
    if (channels < 2)
        return ScanPath::AllSamples;
    if (treatment == 3)
        return ScanPath::FrameSum;
    if ((treatment == 4 || treatment == 5) && peakOnly) {
        *channel = UInt16(treatment - 4);
        return ScanPath::OneChannel;
    }
    // 0, 1, 2, the silence finders' 4 and 5, and every other stored value:
    // all channels are kept, so all of them count.
    return ScanPath::AllSamples;
}

SInt64 SaturateToInt64(double v)
{
    if (!(v == v))
        return 0;
    if (v >= 9.2e18)
        return INT64_MAX;
    if (v <= -9.2e18)
        return INT64_MIN;
    return SInt64(v);
}

// One raw sample as an integer.  3-byte samples come left-justified in 32
// bits; 32-bit words that carry 24-bit samples in their low bytes likewise.
template <int Bytes, bool Low24>
inline SInt64 RawSample(const UInt8* p)
{
    if constexpr (Bytes == 1) {
        return SInt8(p[0]);
    } else if constexpr (Bytes == 2) {
        return SInt16(UInt16((UInt16(p[0]) << 8) | p[1]));
    } else if constexpr (Bytes == 3) {
        return SInt32(UInt24ToUInt32(p));
    } else {
        const UInt32 w = (UInt32(p[0]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | p[3];
        return Low24 ? SInt64(SInt32(w << 8)) : SInt64(SInt32(w));
    }
}

// The silence finder's state while it walks the examined values.
struct SilenceState {
    bool inSound = true;
    SInt64 silenceStart = 0;
    SInt64 lead = 0;
    SInt64 trail = 0;
    SInt64 minGap = 0;
};

// What one scan does with every examined value: raise the running peak,
// sum 16-bit samples, and/or run the silence test.
struct ScanWork {
    bool peak = false;
    bool sum = false;       // 16-bit average of the all-samples path
    bool silence = false;
    SInt64 threshold = 0;   // of the word size (3 bytes: T32)
    // Results.
    UInt64 rawPeak = 0;     // 1, 2, 4 bytes
    double peak24 = 0.0;    // 3 bytes, a fraction
    SInt64 total = 0;
    SilenceState state;
    CSoundFile* file = nullptr;
};

inline void SilenceTest(ScanWork& w, SInt64 value, SInt64 threshold, SInt64 frame)
{
    const UInt64 magnitude = value < 0 ? UInt64(0) - UInt64(value) : UInt64(value);
    const bool quiet = threshold > 0 && magnitude < UInt64(threshold);
    SilenceState& s = w.state;
    if (quiet && s.inSound) {
        s.inSound = false;
        s.silenceStart = frame;
    } else if (!quiet && !s.inSound) {
        if (s.silenceStart != 0)
            s.silenceStart += s.lead;
        const SInt64 second = frame - s.trail;
        if (second - s.silenceStart > s.minGap)
            w.file->AddSplitPair(UInt32(s.silenceStart), UInt32(second));
        s.inSound = true;
    }
}

// Examines the n frames of one block (first frame pos).
template <int Bytes, bool Low24>
void ExamineBlock(ScanWork& w, const UInt8* block, UInt32 n, UInt16 channels, ScanPath path, UInt16 channel,
                  SInt64 pos)
{
    const std::size_t frameBytes = std::size_t(channels) * Bytes;
    for (UInt32 i = 0; i < n; ++i) {
        const UInt8* frame = block + std::size_t(i) * frameBytes;
        const SInt64 f = pos + i;
        if (path == ScanPath::FrameSum) {
            const SInt64 l = RawSample<Bytes, Low24>(frame);
            const SInt64 r = RawSample<Bytes, Low24>(frame + Bytes);
            const SInt64 v = l + r;
            if (w.peak) {
                if constexpr (Bytes == 3) {
                    w.peak24 = std::max(w.peak24, std::fabs(Int24ToDouble(frame) + Int24ToDouble(frame + 3)));
                } else {
                    w.rawPeak = std::max<UInt64>(w.rawPeak, UInt64(v < 0 ? -v : v));
                }
            }
            if (w.silence)
                SilenceTest(w, v, 2 * w.threshold, f);
            continue;
        }
        const UInt16 first = path == ScanPath::OneChannel ? channel : 0;
        const UInt16 last = path == ScanPath::OneChannel ? UInt16(channel + 1) : channels;
        for (UInt16 c = first; c < last; ++c) {
            const UInt8* p = frame + std::size_t(c) * Bytes;
            const SInt64 v = RawSample<Bytes, Low24>(p);
            if (w.peak) {
                if constexpr (Bytes == 3)
                    w.peak24 = std::max(w.peak24, std::fabs(Int24ToDouble(p)));
                else
                    w.rawPeak = std::max<UInt64>(w.rawPeak, UInt64(v < 0 ? -v : v));
            }
            if (w.sum)
                w.total += v;
            if (w.silence)
                SilenceTest(w, v, w.threshold, f);
        }
    }
}

// Reads the input's frames [start, end) block by block (one whole buffer
// each), posting each block's first frame first, and examines them.
SInt32 ScanBlocks(CSoundFile* in, UInt32 start, UInt32 end, ScanWork& w, ScanPath path, UInt16 channel)
{
    const SInt16 bytes = BitsToBytes(in->GetNumBits());
    const UInt16 channels = in->GetNumChannels();
    if (bytes < 1 || bytes > 4 || channels == 0)
        return paramErr;
    if (path != ScanPath::AllSamples && channels < 2)
        path = ScanPath::AllSamples;
    if (path == ScanPath::OneChannel && channel >= channels)
        channel = UInt16(channels - 1);
    SInt32 err = in->AllocateReadBuffer();
    if (err)
        return err;
    const UInt32 block = std::max<UInt32>(in->GetBufferFrames(), 1);
    end = std::min(end, in->GetNumFrames());
    const bool low24 = bytes == 4 && in->GetState() == kSampleFormat24In32;
    for (UInt64 pos = start; pos < end; pos += block) {
        const UInt32 n = UInt32(std::min<UInt64>(block, end - pos));
        if ((err = PostProgressPosition(SInt64(pos))))
            return err;
        // Measuring takes no sample into an output: nothing is counted as
        // clipped here, only by the pass that writes.
        if ((err = in->ReadBlockFor(UInt32(pos), 0)))
            return err;
        const UInt8* data = in->GetReadBuffer();
        if (!data)
            return paramErr;
        switch (bytes) {
        case 1: ExamineBlock<1, false>(w, data, n, channels, path, channel, SInt64(pos)); break;
        case 2: ExamineBlock<2, false>(w, data, n, channels, path, channel, SInt64(pos)); break;
        case 3: ExamineBlock<3, false>(w, data, n, channels, path, channel, SInt64(pos)); break;
        default:
            if (low24)
                ExamineBlock<4, true>(w, data, n, channels, path, channel, SInt64(pos));
            else
                ExamineBlock<4, false>(w, data, n, channels, path, channel, SInt64(pos));
            break;
        }
    }
    return 0;
}

double ScaledPeak(const ScanWork& w, SInt16 bytes)
{
    switch (bytes) {
    case 1: return double(w.rawPeak) * kPeakScale8;
    case 2: return double(w.rawPeak) * kPeakScale16;
    case 3: return w.peak24;
    default: return double(w.rawPeak) * kPeakScale32;
    }
}

SInt32 SilenceScan(CSoundFile* in, ScanSettings& s, bool withPeak)
{
    if (!in)
        return paramErr;
    if (withPeak) {
        s.max = 0.0;
        s.hasValidMax = false;
    }
    const double rate = in->GetSampleRate();
    const double g = DecibelsToGain(s.gateThreshold);
    const SInt16 bytes = BitsToBytes(in->GetNumBits());
    ScanWork w;
    w.file = in;
    w.peak = withPeak;
    w.silence = true;
    switch (bytes) {
    case 1: w.threshold = SaturateToInt64(g * 127.0); break;
    case 2: w.threshold = SaturateToInt64(g * 32767.0); break;
    default: w.threshold = SaturateToInt64(g * 2147483647.0); break;
    }
    // A negative setting gates nothing rather than inverted stretches; the
    // gate opens 30 ms early and closes 30 ms late.
    constexpr double kGateLeadSeconds = 0.030;
    constexpr UInt64 kLongest = UInt64(std::numeric_limits<SInt64>::max());
    w.state.minGap = SInt64(FramesFromSeconds(s.gateGapLength, rate, kLongest));
    w.state.lead = SInt64(FramesFromSeconds(kGateLeadSeconds, rate, kLongest));
    w.state.trail = w.state.lead;

    const UInt32 frames = in->GetNumFrames();
    PostProgressNumSampleFrames(frames);
    if (frames < 1) {
        if (withPeak)
            s.hasValidMax = true;
        return 0;
    }
    UInt16 channel = 0;
    const ScanPath path = PathFor(s.channelTreat, in->GetNumChannels(), false, &channel);
    const SInt32 err = ScanBlocks(in, 0, frames, w, path, channel);
    if (err) {
        if (withPeak) {
            s.max = 1.0;
            s.hasValidMax = true;
        }
        return err;
    }
    const SilenceState& st = w.state;
    if (!st.inSound && SInt64(frames) - (st.silenceStart + st.lead) > st.minGap)
        in->AddSplitPair(UInt32(st.silenceStart + st.lead), frames);
    if (withPeak) {
        s.max = std::max(ScaledPeak(w, bytes), s.max);
        s.hasValidMax = true;
    }
    return 0;
}

} // namespace

double DecibelsToGain(double dB)
{
    return std::pow(10.0, dB / 20);
}

SInt32 ScanPeakRange(CSoundFile* in, UInt32 start, UInt32 end, ScanSettings& s)
{
    if (!in)
        return paramErr;
    UInt16 channel = 0;
    const ScanPath path = PathFor(s.channelTreat, in->GetNumChannels(), true, &channel);
    const SInt16 bytes = BitsToBytes(in->GetNumBits());
    ScanWork w;
    w.file = in;
    w.peak = true;
    w.sum = bytes == 2 && (path == ScanPath::AllSamples || in->GetNumChannels() < 2);
    const SInt32 err = ScanBlocks(in, start, end, w, path, channel);
    if (err) {
        s.max = 1.0;
        return err;
    }
    s.max = std::max(ScaledPeak(w, bytes), s.max);
    if (bytes == 2) {
        const UInt32 last = std::min(end, in->GetNumFrames());
        const double frames = last > start ? double(last - start) : 0.0;
        in->SetAverageLevel(frames > 0.0 ? double(w.total) / frames / 32767.0 : 0.0);
    }
    return 0;
}

SInt32 ScanPeaks(CSoundFile* in, ScanSettings& s)
{
    if (!in)
        return paramErr;
    PostProgressNumSampleFrames(in->GetNumFrames());
    s.max = 0.0;
    s.hasValidMax = false;
    SInt32 err = 0;
    if (!s.needsExtraction && !s.needsStrip) {
        err = ScanPeakRange(in, 0, in->GetNumFrames(), s);
    } else {
        RegionWalkParams params;
        params.firstSearch = -1;
        params.margin = MarginFrames(s.needsStrip ? 1.0 : 0.0, in->GetSampleRate());
        params.nextSearchOffset = 0;
        err = WalkRegionSpans(in, params, [&](UInt32 a, UInt32 b) { return ScanPeakRange(in, a, b, s); });
    }
    s.hasValidMax = true;
    return err;
}

SInt32 FindSilenceSplits(CSoundFile* in, ScanSettings& s)
{
    return SilenceScan(in, s, false);
}

SInt32 FindSilenceSplitsAndPeak(CSoundFile* in, ScanSettings& s)
{
    return SilenceScan(in, s, true);
}

SInt32 ProcessGateAndNormalize(CSoundFile* in, ScanSettings& s)
{
    if (s.needsGate) {
        if (s.needsNormalize && !s.hasValidMax)
            return FindSilenceSplitsAndPeak(in, s);
        return FindSilenceSplits(in, s);
    }
    if (s.needsNormalize && !s.hasValidMax)
        return ScanPeaks(in, s);
    return 0;
}
