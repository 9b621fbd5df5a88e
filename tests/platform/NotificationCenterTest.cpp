#include "NotificationCenter.h"

#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(NotificationCenter, DeliversInRegistrationOrderOnThePostingThreadBeforeReturning)
{
    NotificationCenter center;
    std::vector<std::string> calls;
    std::vector<std::thread::id> threads;
    for (const char* tag : {"first", "second", "third"}) {
        center.addObserver(QStringLiteral("Progress"), nullptr, [&, tag](const Notification& n) {
            calls.push_back(std::string(tag) + ":" + n.object.toString().toStdString());
            threads.push_back(std::this_thread::get_id());
        });
    }
    center.addObserver(QStringLiteral("Other"), nullptr, [&](const Notification&) { calls.push_back("other"); });

    // Posted from a worker: observers run there, and the post returns only
    // after all of them have run.
    std::thread::id worker;
    std::size_t seenWhenPostReturned = 0;
    QThread* thread = QThread::create([&] {
        worker = std::this_thread::get_id();
        center.postNotification(QStringLiteral("Progress"), QVariant(7));
        seenWhenPostReturned = calls.size();
    });
    thread->start();
    ASSERT_TRUE(thread->wait(10000));
    delete thread;

    EXPECT_EQ(seenWhenPostReturned, 3u);
    EXPECT_EQ(calls, (std::vector<std::string>{"first:7", "second:7", "third:7"}));
    ASSERT_EQ(threads.size(), 3u);
    for (auto id : threads)
        EXPECT_EQ(id, worker);
}

TEST(NotificationCenter, FiltersByNameAndSender)
{
    NotificationCenter center;
    int a = 0, b = 0;
    int anyName = 0, fromA = 0, fromB = 0, anySender = 0;
    center.addObserver(QString(), nullptr, [&](const Notification&) { ++anyName; });
    center.addObserver(QStringLiteral("N"), &a, [&](const Notification& n) {
        EXPECT_EQ(n.sender, &a);
        ++fromA;
    });
    center.addObserver(QStringLiteral("N"), &b, [&](const Notification&) { ++fromB; });
    center.addObserver(QStringLiteral("N"), nullptr, [&](const Notification&) { ++anySender; });

    center.postNotification(QStringLiteral("N"), QVariant(), &a);
    center.postNotification(QStringLiteral("N"));
    center.postNotification(QStringLiteral("M"), QVariant(), &b);

    EXPECT_EQ(anyName, 3);
    EXPECT_EQ(fromA, 1);
    EXPECT_EQ(fromB, 0);
    EXPECT_EQ(anySender, 2);
    EXPECT_EQ(center.addObserver(QStringLiteral("N"), nullptr, NotificationCenter::Callback()), 0u);
}

TEST(NotificationCenter, ManyObserversRunInOrderAndHasObserversAgreesWithDelivery)
{
    NotificationCenter center;
    int poster = 0, other = 0;
    EXPECT_FALSE(center.hasObservers(QStringLiteral("N"), &poster));
    // More observers of one post than a post keeps at hand: the order holds
    // across them all.
    std::vector<int> calls;
    for (int i = 0; i < 20; ++i)
        center.addObserver(QStringLiteral("N"), i % 3 == 0 ? &other : nullptr,
                           [&calls, i](const Notification&) { calls.push_back(i); });
    center.postNotification(QStringLiteral("N"), QVariant(), &poster);
    std::vector<int> expected;
    for (int i = 0; i < 20; ++i)
        if (i % 3 != 0)
            expected.push_back(i);
    EXPECT_EQ(calls, expected);

    EXPECT_TRUE(center.hasObservers(QStringLiteral("N"), &poster));
    EXPECT_FALSE(center.hasObservers(QStringLiteral("M"), &poster));
    const NotificationCenter::Token any = center.addObserver(QString(), &poster, [](const Notification&) {});
    EXPECT_TRUE(center.hasObservers(QStringLiteral("M"), &poster));
    EXPECT_FALSE(center.hasObservers(QStringLiteral("M"), &other));
    center.removeObserver(any);
    EXPECT_FALSE(center.hasObservers(QStringLiteral("M"), &poster));
}

TEST(NotificationCenter, ObserversMayRemoveThemselvesOthersAndPostDuringAPost)
{
    NotificationCenter center;
    std::vector<std::string> calls;
    NotificationCenter::Token self = 0, victim = 0;
    self = center.addObserver(QStringLiteral("N"), nullptr, [&](const Notification&) {
        calls.push_back("self");
        EXPECT_TRUE(center.removeObserver(self));  // must not deadlock on its own call
        EXPECT_TRUE(center.removeObserver(victim));
        // Posting from inside a callback works (no lock is held) and reaches
        // only the observers still registered.
        center.postNotification(QStringLiteral("Inner"));
    });
    victim = center.addObserver(QStringLiteral("N"), nullptr, [&](const Notification&) { calls.push_back("victim"); });
    center.addObserver(QStringLiteral("N"), nullptr, [&](const Notification&) {
        calls.push_back("last");
        // Added during the post: only seen by the next post.
        center.addObserver(QStringLiteral("N"), nullptr, [&](const Notification&) { calls.push_back("late"); });
    });
    center.addObserver(QStringLiteral("Inner"), nullptr, [&](const Notification&) { calls.push_back("inner"); });

    center.postNotification(QStringLiteral("N"));
    EXPECT_EQ(calls, (std::vector<std::string>{"self", "inner", "last"}));

    calls.clear();
    center.postNotification(QStringLiteral("N"));
    EXPECT_EQ(calls, (std::vector<std::string>{"last", "late"}));
    EXPECT_FALSE(center.removeObserver(self));
    EXPECT_FALSE(center.removeObserver(0));
}

TEST(NotificationCenter, RemovalWaitsForACallbackRunningOnAnotherThread)
{
    NotificationCenter center;
    std::atomic<bool> inside{false}, release{false}, finished{false};
    auto token = center.addObserver(QStringLiteral("N"), nullptr, [&](const Notification&) {
        inside = true;
        while (!release)
            std::this_thread::yield();
        QThread::msleep(50);
        finished = true;
    });
    std::thread poster([&] { center.postNotification(QStringLiteral("N")); });
    while (!inside)
        std::this_thread::yield();
    release = true;
    EXPECT_TRUE(center.removeObserver(token));
    // Once removal returns, the callback has ended and is never called again.
    EXPECT_TRUE(finished);
    poster.join();
    finished = false;
    center.postNotification(QStringLiteral("N"));
    EXPECT_FALSE(finished);
}

TEST(NotificationCenter, ConcurrentPostsAndRegistrationsAreSafe)
{
    NotificationCenter center;
    std::atomic<int> count{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                auto token = center.addObserver(QStringLiteral("N"), nullptr, [&](const Notification&) { ++count; });
                center.postNotification(QStringLiteral("N"), QVariant(i));
                center.removeObserver(token);
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_GE(count.load(), 2000);  // each post sees at least its own observer
    EXPECT_EQ(center.observerCount(), 0u);
}

TEST(NotificationCenter, AnExceptionFromAnObserverReachesThePoster)
{
    NotificationCenter center;
    bool later = false;
    center.addObserver(QStringLiteral("N"), nullptr, [](const Notification&) { throw std::runtime_error("boom"); });
    auto token = center.addObserver(QStringLiteral("N"), nullptr, [&](const Notification&) { later = true; });
    EXPECT_THROW(center.postNotification(QStringLiteral("N")), std::runtime_error);
    EXPECT_FALSE(later);
    // The throwing call left no stale bookkeeping behind: removal does not hang.
    EXPECT_TRUE(center.removeObserver(token));
}

}  // namespace
