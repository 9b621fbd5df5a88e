#include "PortAudioOutput.h"

#include <portaudio.h>

#include <algorithm>

PortAudioOutput::PortAudioOutput() = default;

PortAudioOutput::~PortAudioOutput() { Close(); }

struct PortAudioCallback {
    static int Render(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
                      PaStreamCallbackFlags, void* userData)
    {
        auto* self = static_cast<PortAudioOutput*>(userData);
        auto** channels = static_cast<float**>(output);
        std::fill_n(channels[0], frames, 0.0f);
        std::fill_n(channels[1], frames, 0.0f);
        const bool goOn = self->m_render(channels[0], channels[1], UInt32(frames));
        return goOn ? paContinue : paComplete;
    }
};

OSStatus PortAudioOutput::Open(RenderFunction render)
{
    Close();
    if (!render)
        return paramErr;
    if (Pa_Initialize() != paNoError)
        return kAudioHardwareBadDeviceError;
    m_initialised = true;
    const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    const PaDeviceInfo* info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
    if (!info || info->maxOutputChannels < 2) {
        Close();
        return kAudioHardwareBadDeviceError;
    }
    PaStreamParameters parameters{};
    parameters.device = device;
    parameters.channelCount = 2;
    parameters.sampleFormat = paFloat32 | paNonInterleaved;
    parameters.suggestedLatency = info->defaultHighOutputLatency;
    m_render = std::move(render);
    m_sampleRate = info->defaultSampleRate > 0 ? info->defaultSampleRate : 44100.0;
    PaStream* stream = nullptr;
    const PaError err = Pa_OpenStream(&stream, nullptr, &parameters, m_sampleRate, paFramesPerBufferUnspecified,
                                      paNoFlag, &PortAudioCallback::Render, this);
    if (err != paNoError) {
        Close();
        return err == paInvalidDevice || err == paDeviceUnavailable ? kAudioHardwareBadDeviceError
                                                                     : kAudioHardwareUnspecifiedError;
    }
    m_stream = stream;
    return noErr;
}

OSStatus PortAudioOutput::Start()
{
    if (!m_stream)
        return kAudioHardwareBadDeviceError;
    // A stream that ended by itself (its callback said so) must be stopped
    // before it can start again.
    if (Pa_IsStreamStopped(m_stream) == 0)
        Pa_StopStream(m_stream);
    return Pa_StartStream(m_stream) == paNoError ? noErr : kAudioHardwareUnspecifiedError;
}

OSStatus PortAudioOutput::Stop()
{
    if (!m_stream)
        return noErr;
    if (Pa_IsStreamStopped(m_stream) == 0)
        Pa_StopStream(m_stream);
    return noErr;
}

bool PortAudioOutput::IsRunning() const
{
    return m_stream && Pa_IsStreamActive(m_stream) == 1;
}

void PortAudioOutput::Close()
{
    if (m_stream) {
        Pa_StopStream(m_stream);
        Pa_CloseStream(m_stream);
        m_stream = nullptr;
    }
    if (m_initialised) {
        Pa_Terminate();
        m_initialised = false;
    }
    m_render = nullptr;
}
