#include "resamplers.h"

#include "CSoundFile.h"
#include "PolyphaseBank.h"
#include "ZuFiles.h"
#include "carry_records.h"
#include "progress_channel.h"
#include "resampling_filter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

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
    int channels = 1;  // doubles per frame read and written
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

// The extras of the input range [start, end], written to the output range
// [outStart, outEnd).  The ends of the range map to the ends of what was
// written (the frame count is rounded, the positions between truncated), so
// that a region over the whole range stays whole.
SInt32 CarryExtras(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, UInt32 outStart, UInt32 outEnd)
{
    const double inRate = in->GetSampleRate();
    const double outRate = out->GetSampleRate();
    if (!(inRate > 0.0) || !(outRate > 0.0))
        return paramErr;
    auto map = [&](UInt32 t) {
        if (t == start)
            return outStart;
        if (t == end)
            return outEnd;
        return MapPosition(double(t), start, outStart, inRate, outRate);
    };
    SInt32 code = CarryRecords<SFTRegion>(
        in, out, [&](const SFTRegion& region) { return region.start >= start && region.end <= end; },
        [&](SFTRegion& region) {
            region.start = map(region.start);
            region.end = map(region.end);
            region.syncFrame = map(region.syncFrame);
            const double stamp = double(region.timeStamp) * (outRate / inRate);
            region.timeStamp = stamp >= 9.2e18 ? std::numeric_limits<SInt64>::max()
                               : stamp <= -9.2e18 ? std::numeric_limits<SInt64>::min()
                                                  : SInt64(stamp);
        });
    if (code == 0)
        code = CarryRecords<SFTMarker>(
            in, out, [&](const SFTMarker& marker) { return marker.pos >= start && marker.pos <= end; },
            [&](SFTMarker& marker) { marker.pos = map(marker.pos); });
    if (code == 0)
        code = CarryRecords<SFTLoop>(
            in, out, [&](const SFTLoop& loop) { return loop.start >= start && loop.end <= end; },
            [&](SFTLoop& loop) {
                loop.start = map(loop.start);
                loop.end = map(loop.end);
            });
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
// The input seen by the filter, one plain array per channel: frame t of the
// range (t counted from the range start) at index t - base, zero before the
// range, past its end and past what the file holds.  Frames are read in
// chunks as the filter's reach runs ahead of what is held; when the arrays
// fill up, what the filter still needs moves back to their start.
class InputWindow {
public:
    // chunk: frames per read; reach: frames the filter may need beyond the
    // one it stands on; before: frames it needs before that one; taps: the
    // length of the run one output frame reads.
    SInt32 Init(UInt64 chunk, UInt64 reach, UInt64 before, UInt64 taps, int channels)
    {
        chunk_ = std::max<UInt64>(chunk, 1);
        reach_ = reach;
        channels_ = channels;
        taps_ = taps;
        capacity_ = before + reach + taps + 2 * chunk_ + 32;
        base_ = -SInt64(before);
        SInt32 err = 0;
        for (int c = 0; c < channels; ++c) {
            planes_[c] = AllocateZeroed(capacity_, &err);
            if (err)
                return err;
            data_[c] = planes_[c].get();
        }
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

    // True when frame `need` is held, or nothing more will come.
    bool Holds(SInt64 need) const { return ended_ || SInt64(filled_) > need; }

    // Makes sure frame `need` (and all before it) is held, unless the range
    // or the file ends first; frames before `keepFrom` may be dropped.
    // Returns a read's error.
    OSErr Ensure(SInt64 need, SInt64 keepFrom, CSoundFile* in, const Layout& layout, UInt32 start, UInt64 length)
    {
        while (SInt64(filled_) <= need && !ended_) {
            if (filled_ >= length) {
                ended_ = true;
                break;
            }
            UInt32 count = UInt32(std::min<UInt64>(chunk_, length - filled_));
            const UInt32 asked = count;
            if (UInt64(SInt64(filled_) - base_) + asked + taps_ + 16 > capacity_)
                DropBefore(keepFrom);
            const OSErr err = ReadInput(in, layout, UInt32(start + filled_), &count, scratch_.get(), right_.get());
            count = std::min(count, asked);
            const UInt64 at = UInt64(SInt64(filled_) - base_);
            if (channels_ == 1) {
                std::memcpy(data_[0] + at, scratch_.get(), std::size_t(count) * sizeof(double));
            } else {
                double* l = data_[0] + at;
                double* r = data_[1] + at;
                const double* s = scratch_.get();
                for (UInt32 i = 0; i < count; ++i) {
                    l[i] = s[2 * i];
                    r[i] = s[2 * i + 1];
                }
            }
            filled_ += count;
            if (err)
                return err;
            if (count < asked)
                ended_ = true;
        }
        return 0;
    }

    // True when the run of taps starting at frame `from` lies in the arrays.
    bool Fits(SInt64 from) const { return from >= base_ && UInt64(from - base_) + taps_ <= capacity_; }

    // The last frame j (from the current one on) for which frame j + reach is
    // held and the run from j - before fits: Holds(j + reach) and
    // Fits(j - before) in one bound.
    SInt64 LastReady(SInt64 reach, SInt64 before) const
    {
        const SInt64 fits = base_ + SInt64(capacity_ - taps_) + before;
        return ended_ ? fits : std::min(fits, SInt64(filled_) - reach - 1);
    }

    // Moves the frames from `from` on to the start; what follows them is
    // silence until the next read.
    void DropBefore(SInt64 from)
    {
        from = std::max(from, base_);
        const UInt64 shift = UInt64(from - base_);
        const UInt64 kept = from < SInt64(filled_) ? UInt64(SInt64(filled_) - from) : 0;
        for (int c = 0; c < channels_; ++c) {
            if (kept)
                std::memmove(data_[c], data_[c] + shift, std::size_t(kept) * sizeof(double));
            std::memset(data_[c] + kept, 0, std::size_t(capacity_ - kept) * sizeof(double));
        }
        base_ = from;
    }

    const double* const* Planes() const { return data_; }
    SInt64 Base() const { return base_; }
    UInt64 Filled() const { return filled_; }

private:
    DoubleBuffer planes_[2], scratch_, right_;
    double* data_[2] = {nullptr, nullptr};
    UInt64 chunk_ = 1, reach_ = 0, taps_ = 0, capacity_ = 0, filled_ = 0;
    SInt64 base_ = 0;
    int channels_ = 1;
    bool ended_ = false;
};

template <int C>
SInt32 FilterPath(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, UInt32* outPos,
                  const Layout& layout, UInt32 L, UInt32 M, UInt32 d, double* peak, SInt32* readErr,
                  SInt32* writeErr, SInt32* stopCode)
{
    const double R = double(L) / double(M);
    const UInt64 count = gSincTableCount;
    const UInt64 length = end > start ? UInt64(end - start) : 0;
    const UInt64 T = ResampledFrames(UInt32(length), L, M);
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

    PolyphaseBank bank;
    SInt32 err = bank.Build(gSincTable, count, L, d);
    if (err)
        return err;
    const UInt64 before = bank.Before();
    DoubleBuffer block = AllocateZeroed(Bo * C, &err);
    if (err)
        return err;
    std::unique_ptr<UInt32[]> runStart(new (std::nothrow) UInt32[Bo]);
    std::unique_ptr<UInt32[]> runPhase(new (std::nothrow) UInt32[Bo]);
    if (!runStart || !runPhase)
        return kCouldNotCreatePointerErr;
    InputWindow window;
    if ((err = window.Init(S, reach, before, bank.Taps(), C)))
        return err;

    // Phase stepping without division: M = whole * L + part.
    const UInt64 whole = M / L, part = M % L;
    SInt64 j = 0;      // input frame the next output frame stands on
    UInt64 q = 0;      // phase, d = 1
    double phi = 0.0;  // phase, d > 1
    bool stop = false;
    while (!stop) {
        const UInt64 n = std::min<UInt64>(Bo, outEnd - *outPos);
        UInt64 f = 0;
        while (f < n) {
            if (!window.Holds(j + SInt64(reach))) {
                if (const OSErr e = window.Ensure(j + SInt64(reach), j - SInt64(before), in, layout, start, length)) {
                    *readErr = e;
                    break;
                }
            }
            if (!window.Fits(j - SInt64(before)))
                window.DropBefore(j - SInt64(before));
            // Every frame whose reach the window holds, in one run.
            const SInt64 base = window.Base() + SInt64(before);
            const SInt64 last = window.LastReady(SInt64(reach), SInt64(before));
            UInt64 g = f;
            if (d == 1) {
                for (; g < n && j <= last; ++g) {
                    runStart[g - f] = UInt32(j - base);
                    runPhase[g - f] = UInt32(q);
                    q += part;
                    j += SInt64(whole);
                    if (q >= L) {
                        q -= L;
                        ++j;
                    }
                }
            } else {
                for (; g < n && j <= last; ++g) {
                    runStart[g - f] = UInt32(j - base);
                    runPhase[g - f] = UInt32(phi);
                    phi += Md;
                    while (phi >= Ld) {
                        phi -= Ld;
                        ++j;
                    }
                }
            }
            double* dst = block.get() + f * C;
            bank.Run(C, window.Planes(), runStart.get(), runPhase.get(), std::size_t(g - f),
                     d == 1 ? std::size_t(L) : 0, dst);
            double top = *peak;
            for (UInt64 i = 0; i < (g - f) * C; ++i)
                top = std::max(top, std::fabs(dst[i]));
            *peak = top;
            f = g;
        }
        // The block is written as planned, also when a read cut it short.
        UInt32 written = UInt32(n);
        const OSErr w = WriteOutput(out, layout, *outPos, &written, block.get());
        if (w)
            *writeErr = w;
        else
            *stopCode = PostProgressPosition(SInt64(start) + SInt64(window.Filled()));
        *outPos = UInt32(*outPos + n);
        stop = *outPos >= outEnd || w != 0 || *stopCode != 0 || *readErr != 0;
    }
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

    UInt32 L = 0, M = 0;
    if (const OSErr err = ReduceRateRatio(settings.targetRate, in->GetSampleRate(), &L, &M))
        return err;
    const UInt64 outEndFrames = UInt64(outStart) + ResampledFrames(end > start ? end - start : 0, L, M);
    if (outEndFrames > 0xFFFFFFFFull)
        return paramErr;
    const UInt32 outEnd = UInt32(outEndFrames);
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
                           ? FilterPath<2>(in, out, start, end, outPos, layout, L, M, d, &peak,
                                           &readErr, &writeErr, &stopCode)
                           : FilterPath<1>(in, out, start, end, outPos, layout, L, M, d, &peak,
                                           &readErr, &writeErr, &stopCode);
        }
        FreeSincTable();
    }
    settings.max = peak;

    // Epilogue.
    settings.hasValidMax = true;
    SInt32 result = writeErr ? writeErr : readErr ? readErr : stopCode ? stopCode : setupErr;
    if (result == 0 && settings.copyExtras && !out->IsOneChannelDone())
        result = CarryExtras(in, out, start, end, outStart, *outPos);
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
