// One filter stage of a sample-rate conversion: the frames it reads, held
// in a window that it fills from its input (the input file, or the stage
// before it), and the frames it computes, in order, on request.
//
// A stage is a polyphase filter (PolyphaseBank: L output frames per M input
// frames) or a half-band decimator by two (HalfBandDecimator).  Its output
// frame f stands on input time f M / L (2f for a half-band) and is the
// filter centred there; input frames before the input stream's first and
// after its end read as zero.  A stage's output may start before frame 0:
// a stage that feeds another delivers the history the next one reads
// before its first output, so that a chain filters as its stages' combined
// filter would.
#pragma once

#include "HalfBandDecimator.h"
#include "MacTypes.h"
#include "PolyphaseBank.h"

#include <cstdlib>
#include <functional>
#include <memory>

class ResamplerStage {
public:
    // Delivers the next frames of the stage's input: up to `want` frames,
    // interleaved, into dst, and sets *got (fewer than want: the input has
    // ended).  A non-zero result is a read error (the frames got count).
    using Supply = std::function<OSErr(double* dst, UInt32 want, UInt32* got)>;

    // The filter: a polyphase table h of `count` entries for the terms L, M
    // and thinning d (as the converters define them), or a half-band's
    // centre tap followed by its K odd taps.  Returns 0, paramErr or the
    // memory error.
    SInt32 InitPolyphase(const double* h, UInt64 count, UInt32 L, UInt32 M, UInt32 d);
    SInt32 InitHalfBand(const double* taps, UInt64 size);

    // The first input frame the stage reads when its first output is frame
    // `first`, and the input frames it asks for at a time when it is asked
    // for up to `request` output frames at a time.
    SInt64 FirstInputFor(SInt64 first) const;
    UInt64 ChunkFor(UInt64 request) const;

    // Readies the stage to compute `channels` (1 or 2) channels from output
    // frame `first` on, at most `request` frames per call, from an input
    // whose first frame has index `inputFirst`.  Returns 0, paramErr or the
    // memory error.
    SInt32 Start(int channels, SInt64 first, UInt64 request, SInt64 inputFirst, Supply supply);

    // Computes the next n (at most `request`) output frames into out,
    // interleaved; *done frames are computed, fewer than n only after a read
    // error, which is returned.
    OSErr Produce(UInt64 n, double* out, UInt64* done);

    // Input frames received so far.
    UInt64 Received() const { return filled_ > inputFirst_ ? UInt64(filled_ - inputFirst_) : 0; }

private:
    struct FreeDeleter {
        void operator()(void* p) const { std::free(p); }
    };
    using Buffer = std::unique_ptr<double[], FreeDeleter>;

    // The window: frame t of the input is at plane (t - base_) mod phases_,
    // index (t - base_) / phases_, for t in [base_, filled_); the rest of
    // the planes is zero.  Frames before inputFirst_ are silence, taken in
    // without asking the supply.
    OSErr Ensure(SInt64 need, SInt64 keepFrom);
    void Append(const double* frames, UInt64 count);
    void DropBefore(SInt64 from);
    bool Holds(SInt64 need) const { return ended_ || filled_ > need; }
    bool Fits(SInt64 from) const { return from >= base_ && UInt64(from - base_) + span_ <= capacity_; }
    // The last frame a filter may stand on with what the window holds.
    SInt64 LastReady() const;
    const double* At(int channel, SInt64 frame) const;

    OSErr ProducePolyphase(UInt64 n, double* out, UInt64* done);
    OSErr ProduceHalfBand(UInt64 n, double* out, UInt64* done);

    // The filter.
    bool halfBand_ = false;
    PolyphaseBank bank_;
    HalfBandDecimator decimator_;
    UInt32 L_ = 1, M_ = 1, d_ = 1;
    // Frames a computed frame reads before and after the one it stands on,
    // and the frames one read covers.
    UInt64 before_ = 0, reach_ = 0, span_ = 0;

    // Where the next output frame stands: input frame j_, phase q_ (d = 1)
    // or phi_ (d > 1); the half-band's next output k_.
    SInt64 j_ = 0, k_ = 0;
    UInt64 q_ = 0;
    double phi_ = 0.0;
    std::unique_ptr<UInt32[]> runStart_, runPhase_;

    // The window and its input.
    Supply supply_;
    Buffer planes_[2][2], scratch_;
    int channels_ = 1, phases_ = 1;
    UInt64 chunk_ = 1, capacity_ = 0, request_ = 0;
    SInt64 base_ = 0, filled_ = 0, inputFirst_ = 0;
    bool ended_ = false;
};
