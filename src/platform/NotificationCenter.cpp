#include "NotificationCenter.h"

#include <algorithm>
#include <condition_variable>
#include <thread>

// One registration.  `running` lists the threads currently inside the
// callback, so that removal can wait for calls on other threads to end.
struct NotificationCenter::Observer {
    Token token = 0;
    QString name;
    const void* sender = nullptr;
    Callback callback;

    std::mutex mutex;
    std::condition_variable idle;
    bool active = true;
    std::vector<std::thread::id> running;

    bool matches(const Notification& n) const
    {
        return (name.isEmpty() || name == n.name) && (sender == nullptr || sender == n.sender);
    }
};

namespace {

// Marks the calling thread as inside an observer's callback for its lifetime.
class RunningScope {
public:
    RunningScope(std::mutex& mutex, std::condition_variable& idle, std::vector<std::thread::id>& running)
        : mutex_(mutex), idle_(idle), running_(running)
    {
        running_.push_back(std::this_thread::get_id());  // caller holds the mutex
    }
    ~RunningScope()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = std::find(running_.begin(), running_.end(), std::this_thread::get_id());
        if (it != running_.end())
            running_.erase(it);
        idle_.notify_all();
    }
    RunningScope(const RunningScope&) = delete;
    RunningScope& operator=(const RunningScope&) = delete;

private:
    std::mutex& mutex_;
    std::condition_variable& idle_;
    std::vector<std::thread::id>& running_;
};

}  // namespace

NotificationCenter::NotificationCenter() = default;
NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter()
{
    // Never destroyed: worker threads may still post while the process exits.
    static NotificationCenter* center = new NotificationCenter;
    return *center;
}

NotificationCenter::Token NotificationCenter::addObserver(const QString& name, const void* sender,
                                                          Callback callback)
{
    if (!callback)
        return 0;
    auto observer = std::make_shared<Observer>();
    observer->name = name;
    observer->sender = sender;
    observer->callback = std::move(callback);
    std::lock_guard<std::mutex> lock(mutex_);
    observer->token = nextToken_++;
    observers_.push_back(observer);
    return observer->token;
}

bool NotificationCenter::removeObserver(Token token)
{
    std::shared_ptr<Observer> observer;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = std::find_if(observers_.begin(), observers_.end(),
                               [token](const std::shared_ptr<Observer>& o) { return o->token == token; });
        if (it == observers_.end())
            return false;
        observer = *it;
        observers_.erase(it);
    }
    std::unique_lock<std::mutex> lock(observer->mutex);
    observer->active = false;
    const auto self = std::this_thread::get_id();
    observer->idle.wait(lock, [&] {
        return std::all_of(observer->running.begin(), observer->running.end(),
                           [self](std::thread::id id) { return id == self; });
    });
    return true;
}

void NotificationCenter::postNotification(const Notification& notification)
{
    // A post reaches few observers: up to kInline of them are held on the
    // stack, any further ones in a vector.
    constexpr std::size_t kInline = 8;
    std::shared_ptr<Observer> inlineTargets[kInline];
    std::size_t inlineCount = 0;
    std::vector<std::shared_ptr<Observer>> moreTargets;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& o : observers_) {
            if (!o->matches(notification))
                continue;
            if (inlineCount < kInline)
                inlineTargets[inlineCount++] = o;
            else
                moreTargets.push_back(o);
        }
    }
    auto call = [&notification](const std::shared_ptr<Observer>& o) {
        std::unique_lock<std::mutex> lock(o->mutex);
        if (!o->active)
            return;  // removed by an earlier observer of this post
        RunningScope scope(o->mutex, o->idle, o->running);
        lock.unlock();
        o->callback(notification);
    };
    for (std::size_t i = 0; i < inlineCount; ++i)
        call(inlineTargets[i]);
    for (const auto& o : moreTargets)
        call(o);
}

void NotificationCenter::postNotification(const QString& name, const QVariant& object, const void* sender)
{
    postNotification(Notification{name, object, sender});
}

bool NotificationCenter::hasObservers(const QString& name, const void* sender) const
{
    const Notification probe{name, QVariant(), sender};
    std::lock_guard<std::mutex> lock(mutex_);
    return std::any_of(observers_.begin(), observers_.end(),
                       [&probe](const std::shared_ptr<Observer>& o) { return o->matches(probe); });
}

std::size_t NotificationCenter::observerCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return observers_.size();
}
