// The system's default sound device through PortAudio (over ALSA): a
// non-interleaved stereo float stream at the device's default rate.
// PortAudio is initialised per open output and terminated at its close.
#pragma once

#include "AudioOutput.h"

#include <atomic>

class PortAudioOutput : public AudioOutput {
public:
    PortAudioOutput();
    ~PortAudioOutput() override;

    OSStatus Open(RenderFunction render) override;
    OSStatus Start() override;
    OSStatus Stop() override;
    bool IsRunning() const override;
    double SampleRate() const override { return m_sampleRate; }
    void Close() override;

private:
    friend struct PortAudioCallback;

    RenderFunction m_render;
    void* m_stream = nullptr;  // PaStream
    bool m_initialised = false;
    double m_sampleRate = 0.0;
};
