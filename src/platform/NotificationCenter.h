// The process's notification center.  Delivery is synchronous: observers run
// on the posting thread, inside postNotification, in the order in which they
// were registered.  Nothing is ever queued.
#pragma once

#include "Notification.h"

#include <QString>
#include <QVariant>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class NotificationCenter {
public:
    using Callback = std::function<void(const Notification&)>;
    // 0 is never a valid token.
    using Token = std::uint64_t;

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // The center the whole process posts on.
    static NotificationCenter& defaultCenter();

    // Registers `callback` for notifications called `name` (an empty name
    // observes every notification) posted by `sender` (null: any sender).
    // Safe from any thread, also from inside a callback; an observer added
    // during a post is first called by the next post.  A null callback
    // registers nothing and returns 0.
    Token addObserver(const QString& name, const void* sender, Callback callback);

    // Unregisters; false for an unknown token.  Once this returns, the
    // callback is not running on any other thread and will not be called
    // again (it may still be on the calling thread's stack when an observer
    // removes itself; that call finishes normally).  An observer removed
    // during a post is not called by the rest of that post.
    bool removeObserver(Token token);

    // Calls every matching observer on this thread before returning.  The
    // registry lock is not held while callbacks run, so observers may post,
    // add or remove observers.  An exception from a callback ends the post and
    // propagates to the poster.
    void postNotification(const Notification& notification);
    void postNotification(const QString& name, const QVariant& object = QVariant(),
                          const void* sender = nullptr);

    // Whether a notification called `name` posted by `sender` would reach an
    // observer now, so that a poster can skip building a payload nobody
    // reads.
    bool hasObservers(const QString& name, const void* sender) const;

    // Number of registered observers (for diagnostics and tests).
    std::size_t observerCount() const;

private:
    struct Observer;

    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Observer>> observers_;  // in registration order
    Token nextToken_ = 1;
};
