#include "ThreadObject.h"

#include <chrono>

namespace {
// The longest a signal that raced the worker's wait can be delayed.
constexpr std::chrono::milliseconds kWaitSlice(10);
}

ThreadObject::~ThreadObject() { Stop(); }

void ThreadObject::Start(void* argument, Function function)
{
    Stop();
    m_function = function;
    m_argument = argument;
    m_stop = false;
    m_signalled = false;
    m_thread = std::thread([this] { Run(); });
}

void ThreadObject::Run()
{
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            while (!m_stop.load() && !m_signalled.load())
                m_wake.wait_for(lock, kWaitSlice);
        }
        if (m_stop.load())
            return;
        m_signalled = false;
        if (m_function)
            m_function(m_argument);
    }
}

void ThreadObject::Signal()
{
    m_signalled.store(true);
    m_wake.notify_one();
}

void ThreadObject::Stop()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
}
