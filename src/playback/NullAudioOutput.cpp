#include "NullAudioOutput.h"

#include <algorithm>
#include <chrono>

NullAudioOutput::NullAudioOutput(double sampleRate, double speed, UInt32 periodFrames)
    : m_sampleRate(sampleRate > 0 ? sampleRate : 44100.0),
      m_speed(speed > 0 ? speed : 0.0),
      m_periodFrames(std::max<UInt32>(periodFrames, 1)),
      m_left(m_periodFrames),
      m_right(m_periodFrames)
{
}

NullAudioOutput::~NullAudioOutput() { Close(); }

OSStatus NullAudioOutput::Open(RenderFunction render)
{
    Close();
    m_render = std::move(render);
    return m_render ? noErr : paramErr;
}

OSStatus NullAudioOutput::Start()
{
    if (!m_render)
        return kAudioHardwareBadDeviceError;
    JoinThread();
    m_stopRequested = false;
    m_running = true;
    ++m_starts;
    if (m_speed > 0)
        m_thread = std::thread([this] { Pace(); });
    return noErr;
}

OSStatus NullAudioOutput::Stop()
{
    m_stopRequested = true;
    JoinThread();
    m_running = false;
    return noErr;
}

void NullAudioOutput::Close()
{
    Stop();
    m_render = nullptr;
}

void NullAudioOutput::JoinThread()
{
    if (m_thread.joinable())
        m_thread.join();
}

bool NullAudioOutput::RenderPeriod(UInt32 frames)
{
    std::fill_n(m_left.data(), frames, 0.0f);
    std::fill_n(m_right.data(), frames, 0.0f);
    const bool goOn = m_render(m_left.data(), m_right.data(), frames);
    m_rendered += frames;
    std::lock_guard<std::mutex> lock(m_captureMutex);
    if (m_capture) {
        const std::size_t room = m_captureLimit - std::min(m_captureLimit, m_capturedLeft.size());
        const std::size_t n = std::min<std::size_t>(room, frames);
        m_capturedLeft.insert(m_capturedLeft.end(), m_left.begin(), m_left.begin() + n);
        m_capturedRight.insert(m_capturedRight.end(), m_right.begin(), m_right.begin() + n);
    }
    return goOn;
}

void NullAudioOutput::Pace()
{
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(double(m_periodFrames) / (m_sampleRate * m_speed)));
    auto deadline = Clock::now();
    while (!m_stopRequested.load()) {
        if (!RenderPeriod(m_periodFrames)) {
            m_running = false;
            return;
        }
        deadline += period;
        std::this_thread::sleep_until(deadline);
    }
}

UInt32 NullAudioOutput::Pump(UInt32 frames)
{
    UInt32 done = 0;
    while (done < frames && m_running.load() && m_speed == 0 && m_render) {
        const UInt32 n = std::min(m_periodFrames, frames - done);
        done += n;
        if (!RenderPeriod(n)) {
            m_running = false;
            break;
        }
    }
    return done;
}

void NullAudioOutput::SetCapture(bool capture, std::size_t limit)
{
    std::lock_guard<std::mutex> lock(m_captureMutex);
    m_capture = capture;
    m_captureLimit = limit;
}

std::vector<float> NullAudioOutput::CapturedLeft() const
{
    std::lock_guard<std::mutex> lock(m_captureMutex);
    return m_capturedLeft;
}

std::vector<float> NullAudioOutput::CapturedRight() const
{
    std::lock_guard<std::mutex> lock(m_captureMutex);
    return m_capturedRight;
}

void NullAudioOutput::ClearCapture()
{
    std::lock_guard<std::mutex> lock(m_captureMutex);
    m_capturedLeft.clear();
    m_capturedRight.clear();
}
