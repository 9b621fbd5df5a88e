// The per-thread dictionary: one map of values per thread, which the batch
// worker uses as its per-file context.  Only the thread itself finds its
// dictionary (current()); another thread writes into it through a handle
// the thread gave out (the batch driver keeps its worker's handle for the
// stop request).  There is no lookup by thread: a dictionary lives exactly
// as long as its thread's run (and the handles to it), so a thread started
// again, or a new thread in an old one's place, always begins with an empty
// one.
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

class ThreadDictionary {
public:
    // The key whose value lives in the atomic.
    static const QString kLastErrorKey;  // "ZuLastError"

    // The calling thread's dictionary, made on first use; it ends with the
    // thread's run.
    static ThreadDictionary current();

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
