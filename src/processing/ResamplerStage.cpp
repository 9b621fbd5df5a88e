#include "ResamplerStage.h"

#include "ZuFiles.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace {

// The largest multiple of `step` (1 or 2) at or below v.
SInt64 FloorTo(SInt64 v, int step) { return step == 2 ? SInt64(UInt64(v) & ~UInt64(1)) : v; }

// a / b rounded toward minus infinity (b > 0).
SInt64 FloorDiv(SInt64 a, SInt64 b)
{
    const SInt64 q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

} // namespace

SInt32 ResamplerStage::InitPolyphase(const double* h, UInt64 count, UInt32 L, UInt32 M, UInt32 d)
{
    if (!h || count == 0 || L == 0 || M == 0 || d == 0)
        return paramErr;
    if (const SInt32 err = bank_.Build(h, count, L, d))
        return err;
    halfBand_ = false;
    L_ = L;
    M_ = M;
    d_ = d;
    // The table's tap stride; a frame's taps reach count / stride frames.
    const UInt64 stride = d == 1 ? L : std::max<UInt64>(UInt64(std::llround(double(L) / double(d))), 1);
    before_ = bank_.Before();
    reach_ = count / stride + 2;
    span_ = bank_.Taps();
    return 0;
}

SInt32 ResamplerStage::InitHalfBand(const double* taps, UInt64 size)
{
    if (!taps || size < 2 || size - 1 > 0xFFFFFFFFull)
        return paramErr;
    if (const SInt32 err = decimator_.Build(taps[0], taps + 1, UInt32(size - 1)))
        return err;
    halfBand_ = true;
    L_ = 1;
    M_ = 2;
    d_ = 1;
    // Output k reads the odd frames 2(k - R) + 1 .. 2(k + R) - 1 around 2k.
    before_ = reach_ = 2 * decimator_.Reach();
    span_ = before_ + reach_ + 2;
    return 0;
}

SInt64 ResamplerStage::FirstInputFor(SInt64 first) const
{
    if (halfBand_)
        return 2 * first - SInt64(before_);
    return FloorDiv(first * SInt64(M_), SInt64(L_)) - SInt64(before_);
}

UInt64 ResamplerStage::ChunkFor(UInt64 request) const
{
    if (halfBand_)
        return std::max<UInt64>(2 * request, 1);
    const double R = double(L_) / double(M_);
    return std::max<UInt64>(UInt64(std::ceil(double(request) / R)), 1);
}

SInt32 ResamplerStage::Start(int channels, SInt64 first, UInt64 request, SInt64 inputFirst, Supply supply)
{
    if ((channels != 1 && channels != 2) || request == 0 || !supply || (d_ > 1 && first != 0))
        return paramErr;
    channels_ = channels;
    phases_ = halfBand_ ? 2 : 1;
    request_ = request;
    supply_ = std::move(supply);
    chunk_ = ChunkFor(request);
    if (chunk_ > 0xFFFFFFFFull)
        return paramErr;
    capacity_ = UInt64(FloorTo(SInt64(before_ + reach_ + span_ + 2 * chunk_ + 33), phases_));
    base_ = FloorTo(std::min(FirstInputFor(first), inputFirst), phases_);
    filled_ = base_;
    inputFirst_ = inputFirst;
    ended_ = false;

    // Where the first output stands.
    if (halfBand_) {
        k_ = first;
    } else if (d_ == 1) {
        j_ = FloorDiv(first * SInt64(M_), SInt64(L_));
        q_ = UInt64(first * SInt64(M_) - j_ * SInt64(L_));
    } else {
        j_ = 0;
        phi_ = 0.0;
    }

    const UInt64 perPlane = capacity_ / UInt64(phases_) + 1;
    for (int c = 0; c < channels; ++c) {
        for (int p = 0; p < phases_; ++p) {
            planes_[c][p].reset(static_cast<double*>(std::calloc(std::size_t(perPlane), sizeof(double))));
            if (const OSErr err = CheckMemError(planes_[c][p].get(), 1))
                return err;
            if (!planes_[c][p])
                return kCouldNotCreatePointerErr;
        }
    }
    scratch_.reset(static_cast<double*>(std::calloc(std::size_t(chunk_ * UInt64(channels)), sizeof(double))));
    if (const OSErr err = CheckMemError(scratch_.get(), 1))
        return err;
    if (!scratch_)
        return kCouldNotCreatePointerErr;
    if (!halfBand_) {
        runStart_.reset(new (std::nothrow) UInt32[std::size_t(request)]);
        runPhase_.reset(new (std::nothrow) UInt32[std::size_t(request)]);
        if (!runStart_ || !runPhase_)
            return kCouldNotCreatePointerErr;
    }
    return 0;
}

// ------------------------------------------------------------ the window
OSErr ResamplerStage::Ensure(SInt64 need, SInt64 keepFrom)
{
    while (filled_ <= need && !ended_) {
        const UInt32 asked = UInt32(chunk_);
        if (UInt64(filled_ - base_) + asked + span_ + 16 > capacity_)
            DropBefore(keepFrom);
        if (filled_ < inputFirst_) {
            // Silence before the input's first frame: the planes hold zeros
            // beyond what they were given.
            filled_ += std::min<SInt64>(SInt64(asked), inputFirst_ - filled_);
            continue;
        }
        UInt32 got = 0;
        const OSErr err = supply_(scratch_.get(), asked, &got);
        got = std::min(got, asked);
        Append(scratch_.get(), got);
        if (err)
            return err;
        if (got < asked)
            ended_ = true;
    }
    return 0;
}

void ResamplerStage::Append(const double* frames, UInt64 count)
{
    const UInt64 at = UInt64(filled_ - base_);
    if (phases_ == 1) {
        if (channels_ == 1) {
            std::memcpy(planes_[0][0].get() + at, frames, std::size_t(count) * sizeof(double));
        } else {
            double* l = planes_[0][0].get() + at;
            double* r = planes_[1][0].get() + at;
            for (UInt64 i = 0; i < count; ++i) {
                l[i] = frames[2 * i];
                r[i] = frames[2 * i + 1];
            }
        }
    } else {
        // Frame by frame up to an even position, then in pairs (an even frame
        // and the odd one after it).
        const UInt64 C = UInt64(channels_);
        UInt64 i = 0;
        auto one = [&](UInt64 pos, const double* frame) {
            for (UInt64 c = 0; c < C; ++c)
                planes_[c][pos & 1][pos >> 1] = frame[c];
        };
        if (count > 0 && (at & 1)) {
            one(at, frames);
            i = 1;
        }
        const UInt64 m0 = (at + i) >> 1;
        for (UInt64 c = 0; c < C; ++c) {
            double* even = planes_[c][0].get() + m0;
            double* odd = planes_[c][1].get() + m0;
            const double* src = frames + i * C + c;
            const UInt64 pairs = (count - i) / 2;
            for (UInt64 m = 0; m < pairs; ++m) {
                even[m] = src[2 * m * C];
                odd[m] = src[(2 * m + 1) * C];
            }
        }
        i += (count - i) / 2 * 2;
        if (i < count)
            one(at + i, frames + i * C);
    }
    filled_ += SInt64(count);
}

// Moves the frames from `from` on to the planes' start; what follows them
// is silence until the next frames arrive (only the entries that held
// frames need clearing: the rest is silence already).
void ResamplerStage::DropBefore(SInt64 from)
{
    from = FloorTo(std::max(from, base_), phases_);
    const UInt64 P = UInt64(phases_);
    const UInt64 shift = UInt64(from - base_) / P;
    const UInt64 kept = from < filled_ ? (UInt64(filled_ - from) + P - 1) / P : 0;
    const UInt64 used = filled_ > base_ ? (UInt64(filled_ - base_) + P - 1) / P : 0;
    for (int c = 0; c < channels_; ++c) {
        for (int p = 0; p < phases_; ++p) {
            double* plane = planes_[c][p].get();
            if (kept)
                std::memmove(plane, plane + shift, std::size_t(kept) * sizeof(double));
            if (used > kept)
                std::memset(plane + kept, 0, std::size_t(used - kept) * sizeof(double));
        }
    }
    base_ = from;
}

SInt64 ResamplerStage::LastReady() const
{
    const SInt64 fits = base_ + SInt64(capacity_ - span_) + SInt64(before_);
    return ended_ ? fits : std::min(fits, filled_ - SInt64(reach_) - 1);
}

const double* ResamplerStage::At(int channel, SInt64 frame) const
{
    const UInt64 pos = UInt64(frame - base_);
    return planes_[channel][pos % UInt64(phases_)].get() + pos / UInt64(phases_);
}

// ------------------------------------------------------------ computing
OSErr ResamplerStage::Produce(UInt64 n, double* out, UInt64* done)
{
    *done = 0;
    if (n > request_)
        return paramErr;
    return halfBand_ ? ProduceHalfBand(n, out, done) : ProducePolyphase(n, out, done);
}

OSErr ResamplerStage::ProducePolyphase(UInt64 n, double* out, UInt64* done)
{
    // Phase stepping without division: M = whole * L + part.
    const UInt64 whole = M_ / L_, part = M_ % L_;
    const double Ld = double(L_) / double(d_);
    const double Md = double(M_) / double(d_);
    const double* planes[2] = {planes_[0][0].get(), planes_[1][0].get()};
    OSErr err = 0;
    UInt64 f = 0;
    while (f < n) {
        if (!Holds(j_ + SInt64(reach_))) {
            if ((err = Ensure(j_ + SInt64(reach_), j_ - SInt64(before_))))
                break;
        }
        if (!Fits(j_ - SInt64(before_)))
            DropBefore(j_ - SInt64(before_));
        // Every frame whose reach the window holds, in one run.
        const SInt64 base = base_ + SInt64(before_);
        const SInt64 last = LastReady();
        UInt64 g = f;
        if (d_ == 1) {
            for (; g < n && j_ <= last; ++g) {
                runStart_[g - f] = UInt32(j_ - base);
                runPhase_[g - f] = UInt32(q_);
                q_ += part;
                j_ += SInt64(whole);
                if (q_ >= L_) {
                    q_ -= L_;
                    ++j_;
                }
            }
        } else {
            for (; g < n && j_ <= last; ++g) {
                runStart_[g - f] = UInt32(j_ - base);
                runPhase_[g - f] = UInt32(phi_);
                phi_ += Md;
                while (phi_ >= Ld) {
                    phi_ -= Ld;
                    ++j_;
                }
            }
        }
        bank_.Run(channels_, planes, runStart_.get(), runPhase_.get(), std::size_t(g - f),
                  d_ == 1 ? std::size_t(L_) : 0, out + f * UInt64(channels_));
        f = g;
    }
    *done = f;
    return err;
}

OSErr ResamplerStage::ProduceHalfBand(UInt64 n, double* out, UInt64* done)
{
    OSErr err = 0;
    UInt64 f = 0;
    while (f < n) {
        const SInt64 centre = 2 * k_;
        if (!Holds(centre + SInt64(reach_))) {
            if ((err = Ensure(centre + SInt64(reach_), centre - SInt64(before_))))
                break;
        }
        if (!Fits(centre - SInt64(before_)))
            DropBefore(centre - SInt64(before_));
        const SInt64 last = LastReady();
        const UInt64 g = last >= centre ? std::min<UInt64>(n - f, UInt64(last - centre) / 2 + 1) : 0;
        const double* even[2] = {nullptr, nullptr};
        const double* odd[2] = {nullptr, nullptr};
        for (int c = 0; c < channels_; ++c) {
            even[c] = At(c, centre);
            odd[c] = At(c, centre + 1);
        }
        decimator_.Run(channels_, even, odd, std::size_t(g), out + f * UInt64(channels_));
        k_ += SInt64(g);
        f += g;
    }
    *done = f;
    return err;
}
