#include "ThreadDictionary.h"

#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

// Holds a thread in its exit: armed after the thread made its dictionary,
// this thread-local is destroyed before the dictionary's own thread-local
// state and waits there until released.  The run is then over for QThread
// (wait() has returned) while that state still lives.
struct ExitHold {
    std::atomic<bool>* entered = nullptr;
    std::atomic<bool>* release = nullptr;
    ~ExitHold()
    {
        if (!entered)
            return;
        *entered = true;
        while (!*release)
            std::this_thread::yield();
    }
};
thread_local ExitHold t_exitHold;

// A worker that hands out its own dictionary, as the batch worker does for
// its stop requests, and reads what another thread wrote into it once told.
class Worker : public QThread {
public:
    std::atomic<bool> handedOut{false}, written{false};
    ThreadDictionary handle;  // set before handedOut
    QVariantMap seen;
    ExitHold hold;  // armed for the next run when set

    // Before a run: clears the flags and arms (or not) the exit hold.
    void prepare(std::atomic<bool>* entered = nullptr, std::atomic<bool>* release = nullptr)
    {
        handedOut = false;
        written = false;
        hold.entered = entered;
        hold.release = release;
    }
    ~Worker() override { hold.entered = nullptr; }

protected:
    void run() override
    {
        handle = ThreadDictionary::current();
        if (hold.entered) {
            t_exitHold.entered = hold.entered;
            t_exitHold.release = hold.release;
        }
        handedOut = true;
        while (!written)
            std::this_thread::yield();
        seen = ThreadDictionary::current().toMap();
    }
};

ThreadDictionary HandleOf(Worker& worker)
{
    while (!worker.handedOut)
        std::this_thread::yield();
    return worker.handle;
}

TEST(ThreadDictionary, AnotherThreadWritesIntoAWorkersDictionary)
{
    ThreadDictionary mine = ThreadDictionary::current();
    mine.clear();
    mine.setValue(QStringLiteral("QMCurLongName"), QStringLiteral("main"));
    EXPECT_EQ(ThreadDictionary::current(), mine);

    Worker worker;
    worker.start();
    ThreadDictionary other = HandleOf(worker);
    EXPECT_NE(other, mine);
    EXPECT_TRUE(other.toMap().isEmpty());
    // What another thread writes through the worker's handle is the worker's.
    other.setValue(QStringLiteral("QMCurLongName"), QStringLiteral("input.aif"));
    other.setValue(ThreadDictionary::kLastErrorKey, -128);
    worker.written = true;
    ASSERT_TRUE(worker.wait(10000));

    EXPECT_EQ(worker.seen.value(QStringLiteral("QMCurLongName")).toString(), QStringLiteral("input.aif"));
    EXPECT_EQ(worker.seen.value(ThreadDictionary::kLastErrorKey).toInt(), -128);
    EXPECT_EQ(mine.value(QStringLiteral("QMCurLongName")).toString(), QStringLiteral("main"));
    EXPECT_FALSE(mine.lastError().has_value());
    mine.clear();
}

// Static: the held thread reads them after the test has returned.
std::atomic<bool> s_exitEntered{false}, s_exitRelease{false};

TEST(ThreadDictionary, ARunBeginsCleanWhileTheLastRunsThreadIsStillEnding)
{
    // One QThread object run twice (a deleted one whose address the next
    // one takes is the same case).  The first run is left with a stop value
    // and a name, and its thread is held in its exit while the second run
    // begins: nothing of the first run reaches the second.
    s_exitEntered = false;
    s_exitRelease = false;
    Worker worker;
    worker.prepare(&s_exitEntered, &s_exitRelease);
    worker.start();
    ThreadDictionary first = HandleOf(worker);
    first.setValue(QStringLiteral("QMCurLongName"), QStringLiteral("first.aif"));
    first.setLastError(-128);
    worker.written = true;
    ASSERT_TRUE(worker.wait(10000));
    while (!s_exitEntered)
        std::this_thread::yield();

    worker.prepare();
    worker.start();
    const ThreadDictionary second = HandleOf(worker);
    EXPECT_NE(second, first);
    worker.written = true;
    const bool ended = worker.wait(10000);
    s_exitRelease = true;
    ASSERT_TRUE(ended);
    EXPECT_TRUE(worker.seen.isEmpty()) << worker.seen.keys().join(QLatin1Char(' ')).toStdString();
}

TEST(ThreadDictionary, StopRequestsWhileTheWorkerUsesItsDictionary)
{
    // The worker uses its context while the main thread keeps writing the
    // stop value and other keys into it; the last request stays.
    std::atomic<bool> stop{false};
    std::atomic<int> observedStops{0};
    std::atomic<bool> handedOut{false};
    ThreadDictionary handle;
    QThread* worker = QThread::create([&] {
        ThreadDictionary d = ThreadDictionary::current();
        handle = d;
        handedOut = true;
        while (!stop) {
            d.setValue(QStringLiteral("ZuNumberOfInputSamples"), 1);
            if (d.lastError().value_or(0) != 0)
                ++observedStops;
        }
        d.setValue(QStringLiteral("Seen"), d.lastError().value_or(0) == -128);
    });
    worker->start();
    while (!handedOut)
        std::this_thread::yield();
    for (int i = 0; i < 2000; ++i) {
        handle.setLastError(-128);
        handle.setValue(QStringLiteral("Other"), i);
        (void)handle.toMap();
        handle.clearLastError();
    }
    handle.setLastError(-128);
    stop = true;
    ASSERT_TRUE(worker->wait(10000));
    delete worker;
    EXPECT_TRUE(handle.value(QStringLiteral("Seen")).toBool());
    EXPECT_EQ(handle.value(QStringLiteral("Other")).toInt(), 1999);
}

TEST(ThreadDictionary, TheStopValueReadsAndWritesLikeAnyKey)
{
    ThreadDictionary d = ThreadDictionary::current();
    d.clear();
    EXPECT_FALSE(d.contains(ThreadDictionary::kLastErrorKey));
    EXPECT_FALSE(d.value(QStringLiteral("ZuLastError")).isValid());
    EXPECT_FALSE(d.lastError().has_value());

    EXPECT_TRUE(d.setValue(QStringLiteral("ZuLastError"), -128));
    EXPECT_EQ(d.value(QStringLiteral("ZuLastError")).toInt(), -128);
    EXPECT_EQ(d.toMap().value(QStringLiteral("ZuLastError")).toInt(), -128);
    EXPECT_TRUE(d.keys().contains(QStringLiteral("ZuLastError")));

    d.setLastError(70000);
    EXPECT_EQ(d.value(QStringLiteral("ZuLastError")).toLongLong(), 70000);
    d.setLastError(std::numeric_limits<std::int64_t>::min());  // still reads as set
    EXPECT_TRUE(d.lastError().has_value());
    d.setValue(QStringLiteral("ZuLastError"), qlonglong(1) << 40);
    EXPECT_EQ(d.value(QStringLiteral("ZuLastError")).toLongLong(), qlonglong(1) << 40);

    EXPECT_FALSE(d.setValue(QStringLiteral("ZuLastError"), QVariantList{1}));  // not a number
    EXPECT_EQ(d.lastError().value_or(0), qlonglong(1) << 40);

    d.setValue(QStringLiteral("ZuLastError"), QVariant());  // invalid removes
    EXPECT_FALSE(d.contains(QStringLiteral("ZuLastError")));
    d.setLastError(0);
    d.remove(QStringLiteral("ZuLastError"));
    EXPECT_FALSE(d.lastError().has_value());
    d.clear();
}

}  // namespace
