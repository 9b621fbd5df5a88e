// The per-thread dictionary: one map of values per thread, which the batch
// worker uses as its per-file context.  A handle can also name another
// thread's dictionary, so that the main thread can write into a worker's
// context (the stop request).
//
// The stop value "ZuLastError" is not kept in the map but in an atomic beside
// it, so that the worker can poll it on every block without taking a lock
// while another thread sets it; reading and writing it through value(),
// setValue() and remove() works as for any other key.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>
#include <cstdint>
#include <memory>
#include <optional>

class QThread;

class ThreadDictionary {
public:
    // The key whose value lives in the atomic.
    static const QString kLastErrorKey;  // "ZuLastError"

    // The calling thread's dictionary, made on first use.
    static ThreadDictionary current();
    // The dictionary of `thread` (null: the calling thread).  When that thread
    // runs but has not used its dictionary yet, the dictionary is made now
    // and the thread finds these values in it.  A thread that is not running
    // has no dictionary: the result is then an empty handle.
    //
    // A dictionary lives for one run of its thread: a thread started again
    // begins with an empty one, and a handle kept past the run stays usable
    // but is no longer seen by any thread.
    static ThreadDictionary forThread(QThread* thread);

    // A handle that names no dictionary: reads give nothing, writes are dropped.
    ThreadDictionary();

    bool isValid() const { return static_cast<bool>(storage_); }

    QVariant value(const QString& key) const;  // invalid QVariant when absent
    bool contains(const QString& key) const;
    // Stores a value; an invalid QVariant removes the key.  "ZuLastError"
    // takes only numbers (false, and nothing stored, otherwise).
    bool setValue(const QString& key, const QVariant& value);
    void remove(const QString& key);
    QStringList keys() const;
    // A copy of the whole dictionary, "ZuLastError" included when set.
    QVariantMap toMap() const;
    void clear();

    // Direct access to the stop value.
    std::optional<std::int64_t> lastError() const;
    void setLastError(std::int64_t code);
    void clearLastError();

    bool operator==(const ThreadDictionary& other) const { return storage_ == other.storage_; }
    bool operator!=(const ThreadDictionary& other) const { return storage_ != other.storage_; }

    struct Storage;

private:
    explicit ThreadDictionary(std::shared_ptr<Storage> storage) : storage_(std::move(storage)) {}
    std::shared_ptr<Storage> storage_;
};
