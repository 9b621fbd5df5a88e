#include "resamplers.h"

#include "CSoundFile.h"
#include "ResamplerStage.h"
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
#include <vector>

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

// A plain integer word of the file's bytes as the double the base's readers
// give for it: left-justified to 32 bits times kScale32 (8 and 16 bits
// times their own scales); 8-bit offset binary flipped to signed first.
// A 24-bit word is loaded with the byte after it (the raw block has room
// for it past its end).
template <int Bytes, bool Little>
inline double RawWord(const UInt8* p, UInt8 flip)
{
    constexpr bool kHostLittle = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
    if constexpr (Bytes == 1) {
        return double(SInt8(p[0] ^ flip)) * kScale8;
    } else if constexpr (Bytes == 2) {
        UInt16 v;
        std::memcpy(&v, p, 2);
        if (Little != kHostLittle)
            v = __builtin_bswap16(v);
        return double(SInt16(v)) * kScale16;
    } else {
        UInt32 v;
        std::memcpy(&v, p, 4);
        if (Little != kHostLittle)
            v = __builtin_bswap32(v);
        if constexpr (Bytes == 3)
            v = Little ? v << 8 : v & 0xFFFFFF00u;
        return double(SInt32(v)) * kScale32;
    }
}

// `n` frames of raw bytes (frameBytes each) into dst as the layout reads them.
template <int Bytes, bool Little>
void RawToDoubles(const UInt8* raw, std::size_t frameBytes, UInt32 n, const Layout& layout, UInt8 flip, double* dst)
{
    switch (layout.read) {
    case ReadKind::Interleaved2:
        for (UInt32 i = 0; i < n; ++i, raw += frameBytes) {
            dst[2 * i] = RawWord<Bytes, Little>(raw, flip);
            dst[2 * i + 1] = RawWord<Bytes, Little>(raw + Bytes, flip);
        }
        break;
    case ReadKind::OneChannel:
        raw += std::size_t(layout.inChannel) * Bytes;
        for (UInt32 i = 0; i < n; ++i, raw += frameBytes)
            dst[i] = RawWord<Bytes, Little>(raw, flip);
        break;
    case ReadKind::MixStereo:
        for (UInt32 i = 0; i < n; ++i, raw += frameBytes)
            dst[i] = (RawWord<Bytes, Little>(raw, flip) + RawWord<Bytes, Little>(raw + Bytes, flip)) * 0.5;
        break;
    }
}

// How a converter reads its input: up to *count frames at `frame` into dst
// (layout.channels doubles per frame), the count lowered to the frames
// read; a read's error is returned.  Where the file holds plain integer
// words (GetRawSampleLayout) they come straight from its bytes, a block at a
// time, as the same doubles the file's readers give; otherwise through
// those readers.
class InputReader {
public:
    // `most`: the largest count asked for.
    SInt32 Open(CSoundFile* in, const Layout& layout, UInt64 most)
    {
        in_ = in;
        layout_ = layout;
        SInt32 err = 0;
        RawSampleLayout raw;
        if (in->GetRawSampleLayout(&raw) && !raw.ieeeFloat && raw.bytes >= 1 && raw.bytes <= 4 &&
            in->GetNumBits() == 8 * raw.bytes && in->GetState() != kSampleFormat24In32) {
            raw_ = raw;
            frameBytes_ = std::size_t(in->GetNumChannels()) * raw.bytes;
            block_.reset(new (std::nothrow) UInt8[std::size_t(in->GetBufferFrames()) * frameBytes_ + 4]());
            if (!block_)
                return kCouldNotCreatePointerErr;
        } else if (layout.read == ReadKind::MixStereo) {
            right_ = AllocateZeroed(most, &err);
        }
        return err;
    }

    OSErr Read(UInt32 frame, UInt32* count, double* dst)
    {
        if (!block_)
            return ReadThroughFile(frame, count, dst);
        const UInt32 wanted = *count;
        UInt32 done = 0;
        OSErr err = 0;
        while (done < wanted) {
            const UInt32 at = frame + done;
            if (at < blockStart_ || at - blockStart_ >= blockFrames_) {
                blockStart_ = at;
                blockFrames_ = 0;
                err = in_->ReadRawFrames(at, block_.get(), &blockFrames_);
                if (err || blockFrames_ == 0)
                    break;
            }
            const UInt32 n = std::min(wanted - done, blockFrames_ - (at - blockStart_));
            Convert(block_.get() + std::size_t(at - blockStart_) * frameBytes_, n,
                    dst + std::size_t(done) * std::size_t(layout_.channels));
            done += n;
        }
        *count = done;
        return err;
    }

private:
    OSErr ReadThroughFile(UInt32 frame, UInt32* count, double* dst)
    {
        switch (layout_.read) {
        case ReadKind::Interleaved2:
            return in_->ReadFrames(frame, count, dst);
        case ReadKind::OneChannel:
            return in_->ReadChannelFrames(layout_.inChannel, frame, count, dst);
        case ReadKind::MixStereo: {
            const OSErr err = in_->ReadStereoFrames(frame, count, dst, right_.get());
            for (UInt32 i = 0; i < *count; ++i)
                dst[i] = (dst[i] + right_[i]) * 0.5;
            return err;
        }
        }
        return paramErr;
    }

    void Convert(const UInt8* raw, UInt32 n, double* dst) const
    {
        const UInt8 flip = raw_.offsetBinary ? 0x80 : 0x00;
        switch (raw_.bytes * 2 + (raw_.littleEndian ? 1 : 0)) {
        case 2:
        case 3:
            return RawToDoubles<1, false>(raw, frameBytes_, n, layout_, flip, dst);
        case 4:
            return RawToDoubles<2, false>(raw, frameBytes_, n, layout_, flip, dst);
        case 5:
            return RawToDoubles<2, true>(raw, frameBytes_, n, layout_, flip, dst);
        case 6:
            return RawToDoubles<3, false>(raw, frameBytes_, n, layout_, flip, dst);
        case 7:
            return RawToDoubles<3, true>(raw, frameBytes_, n, layout_, flip, dst);
        case 8:
            return RawToDoubles<4, false>(raw, frameBytes_, n, layout_, flip, dst);
        default:
            return RawToDoubles<4, true>(raw, frameBytes_, n, layout_, flip, dst);
        }
    }

    CSoundFile* in_ = nullptr;
    Layout layout_{};
    DoubleBuffer right_;  // the mixing reader's right channel
    RawSampleLayout raw_;
    std::unique_ptr<UInt8[]> block_;  // one raw block, or null
    std::size_t frameBytes_ = 0;
    UInt32 blockStart_ = 0, blockFrames_ = 0;
};

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
// The largest absolute value of `count` doubles, at least `top`.
double PeakOf(const double* v, UInt64 count, double top)
{
    double m[4] = {top, top, top, top};
    UInt64 i = 0;
    for (; i + 4 <= count; i += 4)
        for (int k = 0; k < 4; ++k)
            m[k] = std::max(m[k], std::fabs(v[i + UInt64(k)]));
    for (; i < count; ++i)
        m[0] = std::max(m[0], std::fabs(v[i]));
    return std::max(std::max(m[0], m[1]), std::max(m[2], m[3]));
}

// The filter's stages, first to last: the chain DesignResampleChain gives
// for a conversion down, or (no designs) one polyphase stage over the table
// of InitSampleRateFilter for L, M, d.  The last stage computes output
// frames from 0 on, at most `request` at a time; each one before it from
// the first frame the next one reads.  The first reads the input range,
// frame 0 being `start`.
class StageChain {
public:
    SInt32 Build(CSoundFile* in, const Layout& layout, UInt32 start, UInt64 length,
                 const std::vector<ResampleStageDesign>& designs, UInt32 L, UInt32 M, UInt32 d, int channels,
                 UInt64 request)
    {
        try {
            return BuildStages(in, layout, start, length, designs, L, M, d, channels, request);
        } catch (const std::bad_alloc&) {
            return kCouldNotCreatePointerErr;
        }
    }

    OSErr Produce(UInt64 n, double* out, UInt64* done) { return stages_.back()->Produce(n, out, done); }
    // Input frames read so far.
    UInt64 Read() const { return read_; }

private:
    SInt32 BuildStages(CSoundFile* in, const Layout& layout, UInt32 start, UInt64 length,
                       const std::vector<ResampleStageDesign>& designs, UInt32 L, UInt32 M, UInt32 d, int channels,
                       UInt64 request)
    {
        const std::size_t n = designs.empty() ? 1 : designs.size();
        stages_.clear();
        for (std::size_t i = 0; i < n; ++i) {
            stages_.push_back(std::make_unique<ResamplerStage>());
            const SInt32 err = designs.empty() ? stages_[i]->InitPolyphase(gSincTable, gSincTableCount, L, M, d)
                               : designs[i].halfBand
                                   ? stages_[i]->InitHalfBand(designs[i].taps.data(), designs[i].taps.size())
                                   : stages_[i]->InitPolyphase(designs[i].taps.data(), designs[i].taps.size(),
                                                               designs[i].L, designs[i].M, 1);
            if (err)
                return err;
        }
        SInt64 first = 0;
        for (std::size_t i = n; i-- > 0;) {
            ResamplerStage& stage = *stages_[i];
            ResamplerStage::Supply supply;
            SInt64 inputFirst = 0;
            if (i > 0) {
                ResamplerStage& up = *stages_[i - 1];
                supply = [&up](double* dst, UInt32 want, UInt32* got) {
                    UInt64 done = 0;
                    const OSErr err = up.Produce(want, dst, &done);
                    *got = UInt32(done);
                    return err;
                };
                inputFirst = stage.FirstInputFor(first);
            } else {
                if (const SInt32 err = reader_.Open(in, layout, stage.ChunkFor(request)))
                    return err;
                supply = [this, start, length](double* dst, UInt32 want, UInt32* got) {
                    UInt32 count = UInt32(std::min<UInt64>(want, length - read_));
                    const UInt32 asked = count;
                    OSErr err = 0;
                    if (count > 0)
                        err = reader_.Read(UInt32(start + read_), &count, dst);
                    count = std::min(count, asked);
                    read_ += count;
                    *got = count;
                    return err;
                };
            }
            if (const SInt32 err = stage.Start(channels, first, request, inputFirst, std::move(supply)))
                return err;
            request = stage.ChunkFor(request);
            first = stage.FirstInputFor(first);
        }
        return 0;
    }

    std::vector<std::unique_ptr<ResamplerStage>> stages_;
    InputReader reader_;
    UInt64 read_ = 0;
};

template <int C>
SInt32 FilterPath(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, UInt32* outPos,
                  const Layout& layout, UInt32 L, UInt32 M, UInt32 d, const std::vector<ResampleStageDesign>& designs,
                  double* peak, SInt32* readErr, SInt32* writeErr, SInt32* stopCode)
{
    const double R = double(L) / double(M);
    const UInt64 length = end > start ? UInt64(end - start) : 0;
    const UInt64 T = ResampledFrames(UInt32(length), L, M);
    const UInt64 outEnd = UInt64(*outPos) + T;
    if (outEnd > 0xFFFFFFFFull)
        return paramErr;
    if (T == 0)
        return 0;

    const UInt64 bufferFrames = std::max<UInt32>(out->GetBufferFrames(), 1);
    const UInt64 Bo = std::clamp<UInt64>(UInt64(R * double(bufferFrames)), 1, kMaxBlockFrames);
    StageChain chain;
    SInt32 err = chain.Build(in, layout, start, length, designs, L, M, d, C, Bo);
    if (err)
        return err;
    DoubleBuffer block = AllocateZeroed(Bo * C, &err);
    if (err)
        return err;

    bool stop = false;
    while (!stop) {
        const UInt64 n = std::min<UInt64>(Bo, outEnd - *outPos);
        UInt64 done = 0;
        if (const OSErr e = chain.Produce(n, block.get(), &done))
            *readErr = e;
        *peak = PeakOf(block.get(), done * C, *peak);
        // The block is written as planned, also when a read cut it short.
        UInt32 written = UInt32(n);
        const OSErr w = WriteOutput(out, layout, *outPos, &written, block.get());
        if (w)
            *writeErr = w;
        else
            *stopCode = PostProgressPosition(SInt64(start) + SInt64(chain.Read()));
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
    InputReader reader;
    if ((err = reader.Open(in, layout, inCap)))
        return err;
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
        const OSErr r = reader.Read(readPos, &count, input.get());
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
        // A conversion down runs as a chain of stages of its own; any other
        // as one stage over the table.
        UInt32 L = 0, M = 0, d = 1;
        std::vector<ResampleStageDesign> chain;
        setupErr = ReduceRateRatio(settings.targetRate, in->GetSampleRate(), &L, &M);
        if (setupErr == 0)
            chain = DesignResampleChain(L, M, N);
        if (setupErr == 0 && chain.empty())
            setupErr = InitSampleRateFilter(settings.targetRate, in->GetSampleRate(), &L, &M, &d);
        if (setupErr == 0) {
            setupErr = layout.channels == 2
                           ? FilterPath<2>(in, out, start, end, outPos, layout, L, M, d, chain, &peak,
                                           &readErr, &writeErr, &stopCode)
                           : FilterPath<1>(in, out, start, end, outPos, layout, L, M, d, chain, &peak,
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
