#include "AudioOutput.h"

#include "PortAudioOutput.h"

#include <mutex>

namespace {
std::mutex g_factoryMutex;
AudioOutput::Factory& InstalledFactory()
{
    static AudioOutput::Factory factory;
    return factory;
}
}

AudioOutput::~AudioOutput() = default;

std::unique_ptr<AudioOutput> AudioOutput::Create()
{
    Factory factory;
    {
        std::lock_guard<std::mutex> lock(g_factoryMutex);
        factory = InstalledFactory();
    }
    if (factory)
        return factory();
    return std::make_unique<PortAudioOutput>();
}

void AudioOutput::SetFactory(Factory factory)
{
    std::lock_guard<std::mutex> lock(g_factoryMutex);
    InstalledFactory() = std::move(factory);
}
