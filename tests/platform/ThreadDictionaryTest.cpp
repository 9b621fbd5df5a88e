#include "ThreadDictionary.h"

#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

TEST(ThreadDictionary, EachThreadHasItsOwnDictionary)
{
    ThreadDictionary mine = ThreadDictionary::current();
    mine.clear();
    mine.setValue(QStringLiteral("QMCurLongName"), QStringLiteral("main"));
    EXPECT_EQ(ThreadDictionary::current(), mine);

    QVariant seenInWorker;
    QString workerWrote;
    QThread* worker = QThread::create([&] {
        ThreadDictionary d = ThreadDictionary::current();
        seenInWorker = d.value(QStringLiteral("QMCurLongName"));
        d.setValue(QStringLiteral("QMCurLongName"), QStringLiteral("worker"));
        workerWrote = ThreadDictionary::current().value(QStringLiteral("QMCurLongName")).toString();
    });
    worker->start();
    ASSERT_TRUE(worker->wait(10000));
    delete worker;

    EXPECT_FALSE(seenInWorker.isValid());
    EXPECT_EQ(workerWrote, QStringLiteral("worker"));
    EXPECT_EQ(mine.value(QStringLiteral("QMCurLongName")).toString(), QStringLiteral("main"));
    mine.clear();
}

TEST(ThreadDictionary, AnotherThreadWritesIntoAWorkersDictionary)
{
    std::atomic<bool> ready{false}, written{false};
    QVariant name;
    std::optional<std::int64_t> stop;
    QThread* worker = QThread::create([&] {
        ready = true;
        while (!written)
            std::this_thread::yield();
        ThreadDictionary d = ThreadDictionary::current();
        name = d.value(QStringLiteral("QMCurLongName"));
        stop = d.lastError();
    });
    worker->start();
    while (!ready)
        std::this_thread::yield();
    ThreadDictionary other = ThreadDictionary::forThread(worker);
    EXPECT_NE(other, ThreadDictionary::current());
    other.setValue(QStringLiteral("QMCurLongName"), QStringLiteral("input.aif"));
    other.setValue(ThreadDictionary::kLastErrorKey, -128);
    written = true;
    ASSERT_TRUE(worker->wait(10000));

    EXPECT_EQ(name.toString(), QStringLiteral("input.aif"));
    ASSERT_TRUE(stop.has_value());
    EXPECT_EQ(*stop, -128);
    // Nothing of it reached the writer's own dictionary.
    EXPECT_FALSE(ThreadDictionary::current().contains(QStringLiteral("QMCurLongName")));
    delete worker;
}

// A thread that can be started more than once.
class ReaderThread : public QThread {
public:
    std::atomic<bool> go{false};
    QVariant seen;

protected:
    void run() override
    {
        while (!go)
            std::this_thread::yield();
        seen = ThreadDictionary::current().value(QStringLiteral("ZuLastError"));
    }
};

TEST(ThreadDictionary, EachRunOfAThreadHasItsOwnDictionary)
{
    ReaderThread worker;
    // Not running: nothing to write into.
    EXPECT_FALSE(ThreadDictionary::forThread(&worker).isValid());
    EXPECT_FALSE(ThreadDictionary::forThread(&worker).setValue(QStringLiteral("ZuLastError"), -128));

    // Running but not yet using its dictionary: the value waits for it.
    worker.start();
    ThreadDictionary first = ThreadDictionary::forThread(&worker);
    ASSERT_TRUE(first.isValid());
    first.setValue(QStringLiteral("ZuLastError"), -128);
    worker.go = true;
    ASSERT_TRUE(worker.wait(10000));
    EXPECT_EQ(worker.seen.toInt(), -128);

    // The next run starts clean: the stop value of the last run is gone.
    EXPECT_FALSE(ThreadDictionary::forThread(&worker).isValid());
    worker.go = false;
    worker.start();
    ThreadDictionary second = ThreadDictionary::forThread(&worker);
    EXPECT_NE(second, first);
    worker.go = true;
    ASSERT_TRUE(worker.wait(10000));
    EXPECT_FALSE(worker.seen.isValid());
}

TEST(ThreadDictionary, AnEntryMadeAheadForARunThatNeverUsesItIsDropped)
{
    std::atomic<bool> release{false};
    QThread* thread = QThread::create([&] {
        while (!release)
            std::this_thread::yield();
    });
    thread->start();
    ThreadDictionary ahead = ThreadDictionary::forThread(thread);
    ASSERT_TRUE(ahead.isValid());
    ahead.setValue(QStringLiteral("ZuLastError"), -128);
    EXPECT_EQ(ThreadDictionary::forThread(thread), ahead);
    release = true;
    ASSERT_TRUE(thread->wait(10000));
    EXPECT_FALSE(ThreadDictionary::forThread(thread).isValid());
    delete thread;
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

TEST(ThreadDictionary, ConcurrentStopRequestsAndWorkerAccess)
{
    // The worker uses its context while the main thread keeps writing the
    // stop value and other keys into it.
    std::atomic<bool> stop{false};
    std::atomic<int> observedStops{0};
    QThread* worker = QThread::create([&] {
        ThreadDictionary d = ThreadDictionary::current();
        for (int i = 0; i < 20000 && !stop; ++i) {
            d.setValue(QStringLiteral("ZuNumberOfInputSamples"), i);
            if (d.lastError().value_or(0) != 0)
                ++observedStops;
        }
    });
    worker->start();
    ThreadDictionary other = ThreadDictionary::forThread(worker);
    for (int i = 0; i < 2000; ++i) {
        other.setLastError(-128);
        other.setValue(QStringLiteral("Other"), i);
        (void)other.toMap();
        other.clearLastError();
    }
    stop = true;
    ASSERT_TRUE(worker->wait(10000));
    delete worker;
    EXPECT_GE(observedStops.load(), 0);
}

}  // namespace
