#include "resamplers.h"

#include "CSoundFile.h"
#include "ZuFiles.h"
#include "progress_channel.h"
#include "resampling_filter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

namespace {

constexpr double kMaxFilterRate = 4294967295.0;
// The largest output block in frames.  The block size only paces the reads,
// writes and progress posts; the samples do not depend on it.
constexpr UInt64 kMaxBlockFrames = UInt64(1) << 20;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using DoubleBuffer = std::unique_ptr<double[], FreeDeleter>;

// A zeroed array of `count` doubles; null (and *err set) when it cannot be had.
DoubleBuffer AllocateZeroed(UInt64 count, SInt32* err)
{
    double* p = nullptr;
    if (count > 0 && count < (std::numeric_limits<std::size_t>::max() / sizeof(double)))
        p = static_cast<double*>(std::calloc(std::size_t(count), sizeof(double)));
    *err = CheckMemError(p, 1);
    if (*err == 0 && !p)
        *err = kCouldNotCreatePointerErr;
    return DoubleBuffer(p);
}

// How a converter reads its input: `channels` doubles per frame land in the
// destination.
enum class ReadKind { Interleaved2, OneChannel, MixStereo };
// How it writes: `channels` doubles per frame in the block.
enum class WriteKind { Interleaved, OneChannel, Duplicate };

struct Layout {
    ReadKind read;
    WriteKind write;
    UInt16 inChannel = 0;
    UInt16 outChannel = 0;
    int channels = 1;  // doubles per frame in the ring and the output block
};

// Reads up to *count frames at `frame` into `dst` (layout.channels doubles per
// frame); `right` is scratch of *count doubles for the mixing reader.
OSErr ReadInput(CSoundFile* in, const Layout& layout, UInt32 frame, UInt32* count, double* dst, double* right)
{
    switch (layout.read) {
    case ReadKind::Interleaved2:
        return in->ReadFrames(frame, count, dst);
    case ReadKind::OneChannel:
        return in->ReadChannelFrames(layout.inChannel, frame, count, dst);
    case ReadKind::MixStereo: {
        const OSErr err = in->ReadStereoFrames(frame, count, dst, right);
        for (UInt32 i = 0; i < *count; ++i)
            dst[i] = (dst[i] + right[i]) * 0.5;
        return err;
    }
    }
    return paramErr;
}

OSErr WriteOutput(CSoundFile* out, const Layout& layout, UInt32 frame, UInt32* count, double* block)
{
    switch (layout.write) {
    case WriteKind::Interleaved:
        return out->WriteFrames(frame, count, block);
    case WriteKind::OneChannel:
        return out->WriteChannelFrames(layout.outChannel, frame, count, block);
    case WriteKind::Duplicate: {
        double* both[2] = {block, block};
        return out->WriteFrames(frame, count, both);
    }
    }
    return paramErr;
}

bool RateUsable(double rate)
{
    return rate > 0.0 && rate <= kMaxFilterRate && std::isfinite(rate);
}

UInt32 SaturateToUInt32(double v)
{
    if (!(v > 0.0))
        return 0;
    if (v >= 4294967295.0)
        return 0xFFFFFFFFu;
    return UInt32(v);
}

// Checks what every converter needs; paramErr when the call cannot run.
SInt32 CheckCall(CSoundFile* in, CSoundFile* out, const ResampleSettings& settings, UInt32* outPos,
                 const Layout& layout)
{
    if (!in || !out || !outPos)
        return paramErr;
    const double inRate = in->GetSampleRate();
    if (!RateUsable(inRate) || !RateUsable(settings.targetRate))
        return paramErr;
    const double ratio = settings.targetRate / inRate;
    if (ratio > kMaxResampleRatio || ratio < 1.0 / kMaxResampleRatio)
        return paramErr;
    const UInt16 inChannels = in->GetNumChannels();
    const UInt16 outChannels = out->GetNumChannels();
    switch (layout.read) {
    case ReadKind::Interleaved2:
    case ReadKind::MixStereo:
        if (inChannels != 2)
            return paramErr;
        break;
    case ReadKind::OneChannel:
        if (layout.inChannel >= inChannels)
            return paramErr;
        break;
    }
    switch (layout.write) {
    case WriteKind::Interleaved:
        if (outChannels != UInt16(layout.channels))
            return paramErr;
        break;
    case WriteKind::OneChannel:
        if (layout.outChannel >= outChannels)
            return paramErr;
        break;
    case WriteKind::Duplicate:
        if (outChannels != 2)
            return paramErr;
        break;
    }
    return 0;
}

// ------------------------------------------------------------ extras
// A position of the input mapped onto the output written from outStart.
UInt32 MapPosition(double t, UInt32 start, UInt32 outStart, double inRate, double outRate)
{
    return SaturateToUInt32(
        std::trunc((double(outStart) / outRate + (t / inRate - double(start) / inRate)) * outRate));
}

SInt32 CarryExtras(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, UInt32 outStart)
{
    const double inRate = in->GetSampleRate();
    const double outRate = out->GetSampleRate();
    if (!(inRate > 0.0) || !(outRate > 0.0))
        return paramErr;
    auto map = [&](UInt32 t) { return MapPosition(double(t), start, outStart, inRate, outRate); };
    SInt32 code = 0;

    const UInt16 regions = in->GetNumRegions();
    for (UInt16 i = 0; i < regions && code == 0; ++i) {
        SFTRegion region;
        code = in->GetRegion(i, &region);
        if (code == 0 && region.start >= start && region.end <= end) {
            region.start = map(region.start);
            region.end = map(region.end);
            region.syncFrame = map(region.syncFrame);
            const double stamp = double(region.timeStamp) * (outRate / inRate);
            region.timeStamp = stamp >= 9.2e18 ? std::numeric_limits<SInt64>::max()
                               : stamp <= -9.2e18 ? std::numeric_limits<SInt64>::min()
                                                  : SInt64(stamp);
            code = out->AddRegion(&region);
        }
    }
    if (code == 0) {
        const UInt16 markers = in->GetNumMarkers();
        for (UInt16 i = 0; i < markers && code == 0; ++i) {
            SFTMarker marker;
            code = in->GetMarker(i, &marker);
            if (code == 0 && marker.pos >= start && marker.pos <= end) {
                marker.pos = map(marker.pos);
                code = out->AddMarker(&marker);
            }
        }
    }
    if (code == 0) {
        const UInt16 loops = in->GetNumLoops();
        for (UInt16 i = 0; i < loops && code == 0; ++i) {
            SFTLoop loop;
            code = in->GetLoop(i, &loop);
            if (code == 0 && loop.start >= start && loop.end <= end) {
                loop.start = map(loop.start);
                loop.end = map(loop.end);
                code = out->AddLoop(&loop);
            }
        }
    }
    if (code == 0) {
        SFTSamplerInfo info;
        code = in->GetSamplerInfo(&info);
        if (code == 0)
            code = out->SetSamplerInfo(&info);
        else if (code == kNoValidSamplerInfoErr)
            code = 0;
    }
    // The output's stamp is the time of its first frame, counted at the
    // output's rate: the input's stamp plus the frames before `start`, less
    // the output frames written before this range.  Set once per output.
    if (in->HasTimeStamp() && !out->HasTimeStamp()) {
        const double stamp = (double(in->GetTimeStamp64()) + double(start)) * (outRate / inRate) -
                             double(outStart);
        UInt64 value = 0;
        if (stamp >= 1.8e19)
            value = std::numeric_limits<UInt64>::max();
        else if (stamp > 0.0)
            value = UInt64(stamp);
        out->SetTimeStamp64(value);
    }
    return code;
}

// ------------------------------------------------------------ filter path
// The input seen by the filter: frame t of the range (t counted from the
// range start) in a ring indexed by t modulo a power of two, zero before the
// range, past its end and past what the file holds.  Frames are read in
// chunks as the filter's reach runs ahead of what is held.
class InputRing {
public:
    SInt32 Init(UInt64 chunk, UInt64 reach, int channels)
    {
        chunk_ = std::max<UInt64>(chunk, 1);
        reach_ = reach;
        channels_ = channels;
        UInt64 size = 1;
        while (size < chunk_ + 4 * reach_ + 4)
            size <<= 1;
        mask_ = size - 1;
        SInt32 err = 0;
        ring_ = AllocateZeroed(size * UInt64(channels), &err);
        if (err)
            return err;
        scratch_ = AllocateZeroed(chunk_ * UInt64(channels), &err);
        if (err)
            return err;
        if (channels == 1) {  // the mixing reader's right channel
            right_ = AllocateZeroed(chunk_, &err);
            if (err)
                return err;
        }
        return 0;
    }

    // Makes sure frame `need` (and all before it) is held, unless the range
    // or the file ends first.  Returns a read's error.
    OSErr Ensure(SInt64 need, CSoundFile* in, const Layout& layout, UInt32 start, UInt64 length)
    {
        while (SInt64(filled_) <= need) {
            if (ended_) {
                // Nothing more comes: keep the slots the filter reaches silent.
                for (UInt64 t = std::max(zeroEnd_, filled_); SInt64(t) <= need; ++t)
                    ClearSlot(t);
                zeroEnd_ = std::max<UInt64>(zeroEnd_, UInt64(need) + 1);
                return 0;
            }
            if (filled_ >= length) {
                ended_ = true;
                continue;
            }
            UInt32 count = UInt32(std::min<UInt64>(chunk_, length - filled_));
            const UInt32 asked = count;
            const OSErr err = ReadInput(in, layout, UInt32(start + filled_), &count, scratch_.get(), right_.get());
            count = std::min(count, asked);
            for (UInt32 i = 0; i < count; ++i) {
                double* slot = &ring_[((filled_ + i) & mask_) * UInt64(channels_)];
                for (int c = 0; c < channels_; ++c)
                    slot[c] = scratch_[std::size_t(i) * channels_ + c];
            }
            filled_ += count;
            // What follows the data read is silence until the next read.
            for (UInt64 i = 0; i <= reach_; ++i)
                ClearSlot(filled_ + i);
            zeroEnd_ = filled_ + reach_ + 1;
            if (err)
                return err;
            if (count < asked)
                ended_ = true;
        }
        return 0;
    }

    const double* Data() const { return ring_.get(); }
    UInt64 Mask() const { return mask_; }
    UInt64 Filled() const { return filled_; }

private:
    void ClearSlot(UInt64 t)
    {
        double* slot = &ring_[(t & mask_) * UInt64(channels_)];
        for (int c = 0; c < channels_; ++c)
            slot[c] = 0.0;
    }

    DoubleBuffer ring_, scratch_, right_;
    UInt64 chunk_ = 1, reach_ = 0, mask_ = 0, filled_ = 0, zeroEnd_ = 0;
    int channels_ = 1;
    bool ended_ = false;
};

template <int C>
SInt32 FilterPath(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, ResampleSettings& settings,
                  UInt32* outPos, const Layout& layout, UInt32 L, UInt32 M, UInt32 d, double* peak,
                  SInt32* readErr, SInt32* writeErr, SInt32* stopCode)
{
    const double R = double(L) / double(M);
    const UInt64 count = gSincTableCount;
    const double* h = gSincTable;
    const UInt64 length = end > start ? UInt64(end - start) : 0;
    const UInt64 T = UInt64(std::ceil(R * double(length)));
    const UInt64 outEnd = UInt64(*outPos) + T;
    if (outEnd > 0xFFFFFFFFull)
        return paramErr;
    if (T == 0)
        return 0;

    const UInt64 bufferFrames = std::max<UInt32>(out->GetBufferFrames(), 1);
    const UInt64 Bo = std::clamp<UInt64>(UInt64(R * double(bufferFrames)), 1, kMaxBlockFrames);
    const UInt64 S = std::max<UInt64>(UInt64(std::ceil(double(Bo) / R)), 1);

    // Tap stride and reach of the filter in input frames.
    const double Ld = double(L) / double(d);
    const double Md = double(M) / double(d);
    const UInt64 s = d == 1 ? L : std::max<UInt64>(UInt64(std::llround(Ld)), 1);
    const UInt64 reach = count / s + 2;

    SInt32 err = 0;
    DoubleBuffer block = AllocateZeroed(Bo * C, &err);
    if (err)
        return err;
    InputRing ring;
    if ((err = ring.Init(S, reach, C)))
        return err;
    const UInt64 mask = ring.Mask();

    SInt64 j = 0;      // input frame the next output frame stands on
    UInt64 q = 0;      // phase, d = 1
    double phi = 0.0;  // phase, d > 1
    bool stop = false;
    while (!stop) {
        const UInt64 n = std::min<UInt64>(Bo, outEnd - *outPos);
        UInt64 f = 0;
        for (; f < n; ++f) {
            if (const OSErr e = ring.Ensure(j + SInt64(reach), in, layout, start, length)) {
                *readErr = e;
                break;
            }
            const double* x = ring.Data();
            double acc[C];
            for (int c = 0; c < C; ++c)
                acc[c] = 0.0;
            if (d == 1) {
                const UInt64 nb = (count - q) / L;
                for (UInt64 k = 0; k < nb; ++k) {
                    const double tap = h[q + k * L];
                    const double* frame = &x[(UInt64(j - SInt64(k)) & mask) * C];
                    for (int c = 0; c < C; ++c)
                        acc[c] += tap * frame[c];
                }
                const UInt64 nf = (count - (L - q)) / L;
                for (UInt64 k = 1; k <= nf; ++k) {
                    const double tap = h[k * L - q];
                    const double* frame = &x[(UInt64(j + SInt64(k)) & mask) * C];
                    for (int c = 0; c < C; ++c)
                        acc[c] += tap * frame[c];
                }
            } else {
                const UInt64 p = UInt64(phi);
                const UInt64 nb = p < count ? (count - p) / s : 0;
                for (UInt64 k = 0; k < nb; ++k) {
                    const double tap = h[p + k * s];
                    const double* frame = &x[(UInt64(j - SInt64(k)) & mask) * C];
                    for (int c = 0; c < C; ++c)
                        acc[c] += tap * frame[c];
                }
                const UInt64 fi = UInt64(Ld - double(p));
                const UInt64 nf = fi < count ? (count - fi) / s : 0;
                for (UInt64 k = 0; k < nf; ++k) {
                    const double tap = h[fi + k * s];
                    const double* frame = &x[(UInt64(j + 1 + SInt64(k)) & mask) * C];
                    for (int c = 0; c < C; ++c)
                        acc[c] += tap * frame[c];
                }
            }
            for (int c = 0; c < C; ++c) {
                block[f * C + c] = acc[c];
                *peak = std::max(*peak, std::fabs(acc[c]));
            }
            if (d == 1) {
                q += M;
                while (q >= L) {
                    q -= L;
                    ++j;
                }
            } else {
                phi += Md;
                while (phi >= Ld) {
                    phi -= Ld;
                    ++j;
                }
            }
        }
        // The block is written as planned, also when a read cut it short.
        UInt32 written = UInt32(n);
        const OSErr w = WriteOutput(out, layout, *outPos, &written, block.get());
        if (w)
            *writeErr = w;
        else
            *stopCode = PostProgressPosition(SInt64(start) + SInt64(ring.Filled()));
        *outPos = UInt32(*outPos + n);
        stop = *outPos >= outEnd || w != 0 || *stopCode != 0 || *readErr != 0;
    }
    (void)settings;
    return 0;
}

// ------------------------------------------------------------ linear path
template <int C>
SInt32 LinearPath(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, ResampleSettings& settings,
                  UInt32* outPos, const Layout& layout, bool simple, double* peak, SInt32* readErr,
                  SInt32* writeErr, SInt32* stopCode)
{
    const double step = in->GetSampleRate() / settings.targetRate;
    const double bufferFrames = double(std::max<UInt32>(out->GetBufferFrames(), 1));
    const UInt32 outStart = *outPos;
    const double length = end > start ? double(end - start) : 0.0;

    double boD = 0.0;
    double inBlockD = 0.0;
    if (simple) {
        boD = std::trunc(bufferFrames / step - 2.0);
        inBlockD = bufferFrames;
    } else {
        boD = std::trunc(bufferFrames / std::sqrt(step));
        inBlockD = 0.0;
    }
    const UInt64 Bo = boD < 1.0 ? 1 : std::min<UInt64>(UInt64(boD), kMaxBlockFrames);
    if (!simple)
        inBlockD = std::trunc(step * double(Bo) + 2.0);
    // Room for every neighbour a block can touch.
    const UInt64 inCap = std::max<UInt64>(UInt64(inBlockD), UInt64(std::ceil(step * double(Bo))) + 3);

    const double outEndD = std::trunc(double(outStart) + length / step);
    if (outEndD > 4294967295.0)
        return paramErr;
    const UInt32 outEnd = UInt32(outEndD);
    if (*outPos >= outEnd)
        return 0;

    SInt32 err = 0;
    DoubleBuffer input = AllocateZeroed(inCap * C, &err);
    if (err)
        return err;
    DoubleBuffer right;
    if (layout.read == ReadKind::MixStereo) {
        right = AllocateZeroed(inCap, &err);
        if (err)
            return err;
    }
    DoubleBuffer block = AllocateZeroed(Bo * C, &err);
    if (err)
        return err;

    while (*outPos < outEnd) {
        double x = double(start) + step * double(*outPos - outStart);
        const double readPosD = std::trunc(x);
        if (readPosD > 4294967295.0)
            break;
        const UInt32 readPos = UInt32(readPosD);
        const UInt32 m = UInt32(std::min<UInt64>(Bo, outEnd - *outPos));
        const double lastX = x + step * double(m - 1);
        const UInt64 needed = std::min<UInt64>(UInt64(std::trunc(lastX)) - readPos + 2, inCap);
        UInt32 count = UInt32(needed);
        const OSErr r = ReadInput(in, layout, readPos, &count, input.get(), right.get());
        count = std::min<UInt32>(count, UInt32(needed));
        // Past what the file holds is silence.
        std::memset(input.get() + std::size_t(count) * C, 0, std::size_t(inCap - count) * C * sizeof(double));
        if (r) {
            *readErr = r;
            break;
        }
        for (UInt32 k = 0; k < m; ++k) {
            const double iD = std::trunc(x);
            const double f = x - iD;
            UInt64 idx = UInt64(iD) - readPos;
            if (idx + 1 >= inCap)
                idx = inCap - 2;
            for (int c = 0; c < C; ++c) {
                const double v = (1.0 - f) * input[idx * C + c] + f * input[(idx + 1) * C + c];
                block[std::size_t(k) * C + c] = v;
                *peak = std::max(*peak, std::fabs(v));
            }
            x = x + step;
        }
        settings.max = *peak;
        UInt32 written = m;
        const OSErr w = WriteOutput(out, layout, *outPos, &written, block.get());
        if (w) {
            *writeErr = w;
            break;
        }
        *outPos += m;
        if ((*stopCode = PostProgressPosition(readPos)) != 0)
            break;
    }
    return 0;
}

SInt32 Convert(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, ResampleSettings& settings,
               UInt32* outPos, const Layout& layout, bool simpleLinear)
{
    if (const SInt32 bad = CheckCall(in, out, settings, outPos, layout))
        return bad;
    const UInt32 outStart = *outPos;
    double peak = settings.max;
    out->SetDither(settings.needsRedither);

    SInt32 setupErr = 0, readErr = 0, writeErr = 0, stopCode = 0;
    if (settings.quality == 0) {
        setupErr = layout.channels == 2
                       ? LinearPath<2>(in, out, start, end, settings, outPos, layout, simpleLinear, &peak,
                                       &readErr, &writeErr, &stopCode)
                       : LinearPath<1>(in, out, start, end, settings, outPos, layout, simpleLinear, &peak,
                                       &readErr, &writeErr, &stopCode);
    } else {
        UInt16 N = GetSRCFilterLength(settings.quality, in->GetSampleRate(), in->GetNumBits(),
                                      out->GetSampleRate(), out->GetNumBits());
        // A quality the filter has no length for runs as automatic, never
        // with an empty table.
        if (N == 0)
            N = GetSRCFilterLength(1, in->GetSampleRate(), in->GetNumBits(), out->GetSampleRate(),
                                   out->GetNumBits());
        gSRCFilterLength = N;
        UInt32 L = 0, M = 0, d = 1;
        setupErr = InitSampleRateFilter(settings.targetRate, in->GetSampleRate(), &L, &M, &d);
        if (setupErr == 0) {
            setupErr = layout.channels == 2
                           ? FilterPath<2>(in, out, start, end, settings, outPos, layout, L, M, d, &peak,
                                           &readErr, &writeErr, &stopCode)
                           : FilterPath<1>(in, out, start, end, settings, outPos, layout, L, M, d, &peak,
                                           &readErr, &writeErr, &stopCode);
        }
        FreeSincTable();
    }
    settings.max = peak;

    // Epilogue.
    settings.hasValidMax = true;
    SInt32 result = writeErr ? writeErr : readErr ? readErr : stopCode ? stopCode : setupErr;
    if (result == 0 && settings.copyExtras && !out->IsOneChannelDone())
        result = CarryExtras(in, out, start, end, outStart);
    return result;
}

} // namespace

SInt32 SampleRateConvertStereo(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                               ResampleSettings& settings, UInt32* outPos)
{
    if (settings.quality == 0)
        return SampleRateConvertSimpleStereo(in, out, start, end, settings, outPos);
    return Convert(in, out, start, end, settings, outPos,
                   Layout{ReadKind::Interleaved2, WriteKind::Interleaved, 0, 0, 2}, true);
}

SInt32 SampleRateConvertOneChannel(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                                   ResampleSettings& settings, UInt16 inChannel, UInt16 outChannel,
                                   UInt32* outPos)
{
    if (settings.quality == 0)
        return SampleRateConvertSimpleOneChannel(in, out, start, end, settings, inChannel, outChannel, outPos);
    return Convert(in, out, start, end, settings, outPos,
                   Layout{ReadKind::OneChannel, WriteKind::OneChannel, inChannel, outChannel, 1}, true);
}

SInt32 SampleRateConvertMixToMono(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                                  ResampleSettings& settings, UInt32* outPos)
{
    return Convert(in, out, start, end, settings, outPos,
                   Layout{ReadKind::MixStereo, WriteKind::Interleaved, 0, 0, 1}, false);
}

SInt32 SampleRateConvertMonoToStereo(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                                     ResampleSettings& settings, UInt32* outPos)
{
    return Convert(in, out, start, end, settings, outPos,
                   Layout{ReadKind::OneChannel, WriteKind::Duplicate, 0, 0, 1}, false);
}

SInt32 SampleRateConvertSimpleStereo(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                                     ResampleSettings& settings, UInt32* outPos)
{
    ResampleSettings& s = settings;
    const SInt16 quality = s.quality;
    s.quality = 0;
    const SInt32 r = Convert(in, out, start, end, s, outPos,
                             Layout{ReadKind::Interleaved2, WriteKind::Interleaved, 0, 0, 2}, true);
    s.quality = quality;
    return r;
}

SInt32 SampleRateConvertSimpleOneChannel(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                                         ResampleSettings& settings, UInt16 inChannel, UInt16 outChannel,
                                         UInt32* outPos)
{
    ResampleSettings& s = settings;
    const SInt16 quality = s.quality;
    s.quality = 0;
    const SInt32 r = Convert(in, out, start, end, s, outPos,
                             Layout{ReadKind::OneChannel, WriteKind::OneChannel, inChannel, outChannel, 1}, true);
    s.quality = quality;
    return r;
}
