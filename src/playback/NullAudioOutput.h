// An output without a device, for tests and for machines without sound.
//
// Paced (speed > 0): a thread renders a period of frames at a time and
// sleeps until the clock says that period has been played, `speed` times
// faster than real time.  Unpaced (speed 0): nothing renders by itself;
// Pump() renders on the calling thread while the output is running.
// Rendered samples can be kept (SetCapture) to be checked.
#pragma once

#include "AudioOutput.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class NullAudioOutput : public AudioOutput {
public:
    explicit NullAudioOutput(double sampleRate = 44100.0, double speed = 1.0, UInt32 periodFrames = 512);
    ~NullAudioOutput() override;

    OSStatus Open(RenderFunction render) override;
    OSStatus Start() override;
    OSStatus Stop() override;
    bool IsRunning() const override { return m_running.load(); }
    double SampleRate() const override { return m_sampleRate; }
    void Close() override;

    // Unpaced outputs: renders `frames` frames now (in periods) when
    // running; returns the frames rendered.
    UInt32 Pump(UInt32 frames);

    // Keeps the rendered samples (at most `limit` frames) from now on.
    void SetCapture(bool capture, std::size_t limit = 1u << 22);
    std::vector<float> CapturedLeft() const;
    std::vector<float> CapturedRight() const;
    void ClearCapture();
    // Frames rendered since the output was made.
    std::uint64_t RenderedFrames() const { return m_rendered.load(); }
    // Times Start() has run the stream.
    int StartCount() const { return m_starts.load(); }

private:
    bool RenderPeriod(UInt32 frames);
    void Pace();
    void JoinThread();

    const double m_sampleRate;
    const double m_speed;
    const UInt32 m_periodFrames;
    RenderFunction m_render;
    std::vector<float> m_left;
    std::vector<float> m_right;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stopRequested{false};
    std::atomic<std::uint64_t> m_rendered{0};
    std::atomic<int> m_starts{0};

    mutable std::mutex m_captureMutex;
    bool m_capture = false;
    std::size_t m_captureLimit = 0;
    std::vector<float> m_capturedLeft;
    std::vector<float> m_capturedRight;
};
