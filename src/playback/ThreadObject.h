// A worker thread that runs one function each time it is signalled (the
// preview engine's feeding thread).  Each object has its own condition
// variable; nothing is shared between objects or processes.
//
// Signal never blocks, so the audio render thread may call it: it raises a
// flag and notifies without taking the mutex.  A notification that slips in
// between the worker's test and its wait is caught by the wait's short
// timeout, so a signal is never lost, only delayed by at most that time.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

class ThreadObject {
public:
    using Function = void (*)(void* argument);

    ThreadObject() = default;
    ~ThreadObject();
    ThreadObject(const ThreadObject&) = delete;
    ThreadObject& operator=(const ThreadObject&) = delete;

    // Starts the thread; it waits for the first signal.
    void Start(void* argument, Function function);
    // Asks for one more run of the function.
    void Signal();
    // Ends the thread after any run in progress and waits for it.
    void Stop();

private:
    void Run();

    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    Function m_function = nullptr;
    void* m_argument = nullptr;
    std::atomic<bool> m_signalled{false};
    std::atomic<bool> m_stop{false};
};
