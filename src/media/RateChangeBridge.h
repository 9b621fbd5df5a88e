// A sound track whose later parts decode at another sample rate than its
// first: a chained Ogg stream whose next link was encoded at another rate,
// MPEG audio or ADTS frames of several rates joined into one file.  The
// decoder gives each part at its own rate; the track is read at the rate of
// its first part, so every frame of another rate passes through here and
// comes out at the track's rate (the media libraries' resampler, as the
// reference decoder's own command converts such a stream), each run of
// frames at one other rate converted as a whole and drained where it ends.
// Frames at the track's rate pass unchanged.  What comes out is a pure
// function of what went in from the track's start, so a track read twice
// from its start gives the same frames twice.
//
//   RateChangeBridge bridge(44100);
//   bridge.Put(frame);          // a decoded frame, of any rate
//   while (bridge.Take(frame))  // frames at 44100 Hz, in order
//   ...
//   bridge.Finish();            // at the end of the track: the rest
//
// Also: the shape (rate, channels) an MPEG audio or ADTS frame states, for
// telling from the packets alone whether a track changes it.
//
// Internal to the media layer.  One object is used by one thread.
#pragma once

#include "CodecTraits.h"

#include <deque>

extern "C" {
#include <libavcodec/avcodec.h>
}

struct SwrContext;

class RateChangeBridge {
public:
    explicit RateChangeBridge(int trackRate);
    ~RateChangeBridge();
    RateChangeBridge(const RateChangeBridge&) = delete;
    RateChangeBridge& operator=(const RateChangeBridge&) = delete;

    // Whether the media libraries' resampler can be loaded.
    static bool Available();

    // The largest ratio either way between a part's rate and the track's
    // that is converted (that of a whole file's rate change): a part whose
    // header states a rate beyond it (1 Hz, 2^31 - 1 Hz) is none a
    // converter holds, however few its frames.
    static constexpr double kMostRatio = 256.0;
    // The highest rate a track is given at (the highest the program writes
    // any type at): a part stated beyond it is none a type holds.
    static constexpr int kHighestRate = 192000;
    static bool RatesConvertible(int partRate, int trackRate);

    // Takes the decoded `frame` (left empty); false when it cannot be
    // converted (its rate is beyond kMostRatio of the track's, the
    // resampler refuses its format, or memory is short).
    bool Put(AVFrame* frame);
    // The end of the track: what the resampler still holds comes out.
    bool Finish();
    // The next frame at the track's rate into `frame`; false when none is
    // ready.
    bool Take(AVFrame* frame);

    // The sample rate and channel count the header of an MPEG audio or
    // ADTS packet states (`syntax`: the track's codec's); false unless the
    // packet is one whole frame of its header's length.
    static bool PacketShape(FrameSyntax syntax, const uint8_t* data, int size, int* rate, int* channels);

private:
    // Ends the run of frames at another rate: the resampler's rest is
    // queued and the resampler freed.
    bool Drain();
    bool Queue(AVFrame* frame);

    int trackRate_;
    SwrContext* swr_ = nullptr;
    int swrRate_ = 0;
    int swrFormat_ = -1;
    AVChannelLayout swrLayout_{};
    std::deque<AVFrame*> ready_;
};
