// The preview engine's speed and rate change: a stereo resampler that
// pulls frames from a source at one rate and hands them out at another,
// with four-point (Hermite) interpolation.
//
// The step is the number of source frames per output frame: the source
// rate over the output rate, times the playback rate (2.0 plays twice as
// fast and an octave higher, like tape).  With a step of exactly 1 and no
// change since the last reset, the output is the source unchanged, sample
// for sample.
//
// Process runs on the render thread and never allocates; SetStep and
// RequestReset may be called from any thread and take effect at the next
// Process.
#pragma once

#include "MacTypes.h"

#include <array>
#include <atomic>
#include <functional>

class Varispeed {
public:
    // Fills `frames` frames of both source channels.
    using Source = std::function<void(float* left, float* right, UInt32 frames)>;

    static constexpr double kMinStep = 1.0 / 64.0;
    static constexpr double kMaxStep = 64.0;

    Varispeed();

    // Clamped to kMinStep..kMaxStep; anything not finite or not above 0 is ignored.
    void SetStep(double step);
    double Step() const { return m_step.load(); }
    // Forgets the source frames held (the next output starts at the next
    // source frame).
    void RequestReset() { m_resetPending.store(true); }

    void Process(float* left, float* right, UInt32 frames, const Source& source);

private:
    static constexpr UInt32 kBlock = 512;
    static constexpr UInt32 kHistory = 1;  // frames kept before the current one
    static constexpr UInt32 kAhead = 2;    // frames needed after it

    void Reset();
    void Refill(const Source& source);

    std::atomic<double> m_step{1.0};
    std::atomic<bool> m_resetPending{true};
    // Source frames: kHistory before the position, then the pulled block.
    std::array<std::array<float, kBlock + kHistory + kAhead>, 2> m_buffer{};
    UInt32 m_filled = 0;   // valid frames in m_buffer
    double m_position = 0; // of the next output frame in m_buffer
};
