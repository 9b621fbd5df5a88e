#include "progress_channel.h"

#include "NotificationCenter.h"
#include "ThreadDictionary.h"

#include <QThread>
#include <QVariantList>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Records every progress notification posted while it lives.
class Recorder {
public:
    Recorder()
    {
        for (const QString& name : {kProgressNumSampleFramesNotification, kProgressPositionNotification,
                                    kProgressPercentageNotification, kProgressNumChannelsNotification,
                                    kProgressChannelNotification, kProgressNumStepsNotification,
                                    kProgressStepNotification, kProgressRegionNotification}) {
            tokens_.push_back(NotificationCenter::defaultCenter().addObserver(name, nullptr, [this](const Notification& n) {
                std::lock_guard<std::mutex> lock(mutex_);
                seen.push_back(n);
                threads.push_back(std::this_thread::get_id());
                // What the thread's stop value was when the observer ran.
                stopAtPost.push_back(ThreadDictionary::current().lastError().value_or(0));
            }));
        }
    }
    ~Recorder()
    {
        for (auto t : tokens_)
            NotificationCenter::defaultCenter().removeObserver(t);
    }

    std::mutex mutex_;
    std::vector<Notification> seen;
    std::vector<std::thread::id> threads;
    std::vector<std::int64_t> stopAtPost;

private:
    std::vector<NotificationCenter::Token> tokens_;
};

// Clears the calling thread's context before and after a test.
class ProgressChannel : public ::testing::Test {
protected:
    void SetUp() override { ThreadDictionary::current().clear(); }
    void TearDown() override { ThreadDictionary::current().clear(); }
};

TEST_F(ProgressChannel, PostsEachNotificationWithItsPayload)
{
    Recorder r;
    const unsigned char scanning[] = "\x0dScanning file";
    const unsigned char region[] = "\x06R\x8Esum\x8E";  // "Résumé" in Mac OS Roman
    PostProgressNumSampleFrames(5000000000LL);
    PostProgressNumChannels(6);
    PostProgressChannel(2, 6);
    PostProgressNumSteps(3);
    PostProgressStep(scanning, 1);
    PostProgressStepWithValue(scanning, 0, 0.25);
    PostProgressRegion(region, 10, 20, 0, 4);
    PostProgressPercentage(50);

    ASSERT_EQ(r.seen.size(), 8u);
    EXPECT_EQ(r.seen[0].name, QStringLiteral("ProgressNumSampleFrames"));
    EXPECT_EQ(r.seen[0].object.toLongLong(), 5000000000LL);
    EXPECT_EQ(r.seen[1].name, QStringLiteral("ProgressNumChannels"));
    EXPECT_EQ(r.seen[1].object.toInt(), 6);
    EXPECT_EQ(r.seen[2].name, QStringLiteral("ProgressChannel"));
    EXPECT_EQ(r.seen[2].object.toList(), (QVariantList{2, 6}));
    EXPECT_EQ(r.seen[3].name, QStringLiteral("ProgressNumSteps"));
    EXPECT_EQ(r.seen[3].object.toInt(), 3);
    EXPECT_EQ(r.seen[4].name, QStringLiteral("ProgressStep"));
    EXPECT_EQ(r.seen[4].object.toList(), (QVariantList{QStringLiteral("Scanning file"), 1}));
    // The three-element form goes out under the same name.
    EXPECT_EQ(r.seen[5].name, QStringLiteral("ProgressStep"));
    EXPECT_EQ(r.seen[5].object.toList(), (QVariantList{QStringLiteral("Scanning file"), 0, 0.25}));
    EXPECT_EQ(r.seen[6].name, QStringLiteral("ProgressRegion"));
    const QVariantList reg = r.seen[6].object.toList();
    ASSERT_EQ(reg.size(), 5);
    EXPECT_EQ(reg[0].toString(), QStringLiteral("R\u00e9sum\u00e9"));
    EXPECT_EQ(reg[1].toLongLong(), 10);
    EXPECT_EQ(reg[2].toLongLong(), 20);
    EXPECT_EQ(reg[3].toInt(), 0);
    EXPECT_EQ(reg[4].toInt(), 4);
    EXPECT_EQ(r.seen[7].name, QStringLiteral("ProgressPercentage"));
    EXPECT_EQ(r.seen[7].object.toInt(), 50);
    for (const Notification& n : r.seen)
        EXPECT_EQ(n.sender, nullptr);
}

TEST_F(ProgressChannel, TheFrameCountIsKeptPerThread)
{
    EXPECT_EQ(GetNumberOfInputSamples(), 0);
    PostProgressNumSampleFrames(44100);
    EXPECT_EQ(GetNumberOfInputSamples(), 44100);
    EXPECT_EQ(ThreadDictionary::current().value(QStringLiteral("ZuNumberOfInputSamples")).toLongLong(), 44100);

    int64_t seenByWorker = -1;
    std::thread worker([&] { seenByWorker = GetNumberOfInputSamples(); });
    worker.join();
    EXPECT_EQ(seenByWorker, 0);
}

TEST_F(ProgressChannel, PositionAndPercentageReturnTheStopValueAfterPosting)
{
    Recorder r;
    EXPECT_EQ(PostProgressPosition(100), 0);
    EXPECT_EQ(PostProgressPercentage(10), 0);

    ThreadDictionary::current().setValue(QStringLiteral("ZuLastError"), -128);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(PostProgressPosition(200 + i), -128);
        EXPECT_EQ(PostProgressPercentage(20 + i), -128);
    }
    ASSERT_EQ(r.seen.size(), 8u);  // still posted every time
    EXPECT_EQ(r.seen.back().object.toInt(), 22);

    // The other posts never report anything.
    PostProgressNumSteps(1);
    EXPECT_EQ(r.seen.size(), 9u);
}

TEST_F(ProgressChannel, StopValuesAreNarrowedToSixteenBitsButNeverToZero)
{
    ThreadDictionary d = ThreadDictionary::current();
    d.setLastError(70000);
    EXPECT_EQ(PostProgressPosition(0), 4464);
    d.setLastError(65536);
    EXPECT_EQ(PostProgressPosition(0), -36);
    EXPECT_EQ(PostProgressPercentage(0), -36);
    d.setLastError(-65536);
    EXPECT_EQ(PostProgressPosition(0), -36);
    d.setLastError(qint64(1) << 32);
    EXPECT_EQ(PostProgressPosition(0), -36);
    d.setLastError(65536 - 128);  // 0xFF80
    EXPECT_EQ(PostProgressPosition(0), -128);
    d.setLastError(-20029);
    EXPECT_EQ(PostProgressPosition(0), -20029);
    d.setLastError(0);
    EXPECT_EQ(PostProgressPosition(0), 0);
}

TEST_F(ProgressChannel, ACancelFromTheMainThreadStopsTheWorkersLoop)
{
    Recorder r;
    std::atomic<int64_t> reached{0};
    OSErr result = 0;
    std::thread::id workerId;
    ThreadDictionary workerContext;
    QThread* worker = QThread::create([&] {
        workerId = std::this_thread::get_id();
        workerContext = ThreadDictionary::current();
        PostProgressNumSampleFrames(1LL << 40);
        for (int64_t pos = 0;; pos += 4096) {
            result = PostProgressPosition(pos);
            if (result != 0)
                break;
            reached = pos;
        }
    });
    worker->start();
    while (reached.load() < 4096 * 100)
        std::this_thread::yield();
    // The stop request, as the driver makes it on the main thread, through
    // the handle the worker gave out.
    ASSERT_TRUE(workerContext.setValue(QStringLiteral("ZuLastError"), -128));
    ASSERT_TRUE(worker->wait(30000));
    delete worker;

    EXPECT_EQ(result, -128);
    // The main thread's own context is untouched.
    EXPECT_FALSE(ThreadDictionary::current().lastError().has_value());
    EXPECT_EQ(PostProgressPosition(0), 0);

    // Every notification ran on the worker, and the last position post (the
    // one that returned -128) was delivered before the loop saw the stop.
    std::lock_guard<std::mutex> lock(r.mutex_);
    ASSERT_GE(r.seen.size(), 102u);
    for (std::size_t i = 0; i + 1 < r.seen.size(); ++i)
        EXPECT_EQ(r.threads[i], workerId);
    EXPECT_EQ(r.seen.back().name, QStringLiteral("ProgressPosition"));
    EXPECT_EQ(r.stopAtPost.front(), 0);
}

}  // namespace
