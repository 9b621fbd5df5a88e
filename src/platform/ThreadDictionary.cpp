#include "ThreadDictionary.h"

#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QThread>

#include <atomic>
#include <limits>
#include <map>
#include <mutex>

const QString ThreadDictionary::kLastErrorKey = QStringLiteral("ZuLastError");

namespace {

// Marks "no stop value" in the atomic; a stored code of this value is kept
// as the next one up so that it still reads as set.
constexpr std::int64_t kNoLastError = std::numeric_limits<std::int64_t>::min();

}  // namespace

struct ThreadDictionary::Storage {
    mutable QMutex mutex;
    QVariantMap map;
    std::atomic<std::int64_t> lastError{kNoLastError};
};

namespace {

using StoragePtr = std::shared_ptr<ThreadDictionary::Storage>;

// The dictionaries of the running threads by their QThread object.  A thread
// makes its entry on first use and drops it when it ends (ThreadSlot).  An
// entry made for a running thread by another thread, before the thread used
// its dictionary, is also dropped when that thread finishes or its QThread
// object is destroyed, so that it never outlives the run it was made for.
struct Entry {
    StoragePtr storage;
    QMetaObject::Connection finished;
    QMetaObject::Connection destroyed;
};

struct Registry {
    std::mutex mutex;
    std::map<QThread*, Entry> byThread;
};

Registry& registry()
{
    static Registry* r = new Registry;  // outlives every thread's clean-up
    return *r;
}

// Called with the registry locked: drops the entry of `thread` when it still
// holds `storage`.
void dropEntryLocked(Registry& r, QThread* thread, const ThreadDictionary::Storage* storage)
{
    auto it = r.byThread.find(thread);
    if (it == r.byThread.end() || it->second.storage.get() != storage)
        return;
    QObject::disconnect(it->second.finished);
    QObject::disconnect(it->second.destroyed);
    r.byThread.erase(it);
}

void dropEntry(QThread* thread, const ThreadDictionary::Storage* storage)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    dropEntryLocked(r, thread, storage);
}

// Drops the registry entry when the owning thread ends.
struct ThreadSlot {
    QThread* thread = nullptr;
    StoragePtr storage;
    ~ThreadSlot()
    {
        if (storage)
            dropEntry(thread, storage.get());
    }
};

thread_local ThreadSlot t_slot;

}  // namespace

ThreadDictionary::ThreadDictionary() = default;

ThreadDictionary ThreadDictionary::current()
{
    if (t_slot.storage)
        return ThreadDictionary(t_slot.storage);
    QThread* self = QThread::currentThread();
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    Entry& entry = r.byThread[self];  // made here unless made ahead
    if (!entry.storage)
        entry.storage = std::make_shared<Storage>();
    t_slot.thread = self;
    t_slot.storage = entry.storage;
    return ThreadDictionary(entry.storage);
}

ThreadDictionary ThreadDictionary::forThread(QThread* thread)
{
    if (!thread || thread == QThread::currentThread())
        return current();
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.byThread.find(thread);
    if (it != r.byThread.end())
        return ThreadDictionary(it->second.storage);
    if (!thread->isRunning())
        return ThreadDictionary();  // nobody would ever read it
    Entry& entry = r.byThread[thread];
    entry.storage = std::make_shared<Storage>();
    const Storage* key = entry.storage.get();
    entry.finished = QObject::connect(thread, &QThread::finished, [thread, key]() { dropEntry(thread, key); });
    entry.destroyed = QObject::connect(thread, &QObject::destroyed, [thread, key]() { dropEntry(thread, key); });
    return ThreadDictionary(entry.storage);
}

QVariant ThreadDictionary::value(const QString& key) const
{
    if (!storage_)
        return QVariant();
    if (key == kLastErrorKey) {
        auto code = lastError();
        if (!code)
            return QVariant();
        if (*code >= std::numeric_limits<int>::min() && *code <= std::numeric_limits<int>::max())
            return QVariant(static_cast<int>(*code));
        return QVariant(static_cast<qlonglong>(*code));
    }
    QMutexLocker lock(&storage_->mutex);
    return storage_->map.value(key);
}

bool ThreadDictionary::contains(const QString& key) const
{
    if (!storage_)
        return false;
    if (key == kLastErrorKey)
        return lastError().has_value();
    QMutexLocker lock(&storage_->mutex);
    return storage_->map.contains(key);
}

bool ThreadDictionary::setValue(const QString& key, const QVariant& value)
{
    if (!storage_)
        return false;
    if (!value.isValid()) {
        remove(key);
        return true;
    }
    if (key == kLastErrorKey) {
        bool ok = false;
        const qlonglong code = value.toLongLong(&ok);
        if (!ok)
            return false;
        setLastError(code);
        return true;
    }
    QMutexLocker lock(&storage_->mutex);
    storage_->map.insert(key, value);
    return true;
}

void ThreadDictionary::remove(const QString& key)
{
    if (!storage_)
        return;
    if (key == kLastErrorKey) {
        clearLastError();
        return;
    }
    QMutexLocker lock(&storage_->mutex);
    storage_->map.remove(key);
}

QStringList ThreadDictionary::keys() const
{
    return toMap().keys();
}

QVariantMap ThreadDictionary::toMap() const
{
    if (!storage_)
        return QVariantMap();
    QVariantMap copy;
    {
        QMutexLocker lock(&storage_->mutex);
        copy = storage_->map;
    }
    const QVariant code = value(kLastErrorKey);
    if (code.isValid())
        copy.insert(kLastErrorKey, code);
    return copy;
}

void ThreadDictionary::clear()
{
    if (!storage_)
        return;
    {
        QMutexLocker lock(&storage_->mutex);
        storage_->map.clear();
    }
    clearLastError();
}

std::optional<std::int64_t> ThreadDictionary::lastError() const
{
    if (!storage_)
        return std::nullopt;
    const std::int64_t code = storage_->lastError.load(std::memory_order_acquire);
    if (code == kNoLastError)
        return std::nullopt;
    return code;
}

void ThreadDictionary::setLastError(std::int64_t code)
{
    if (!storage_)
        return;
    storage_->lastError.store(code == kNoLastError ? kNoLastError + 1 : code, std::memory_order_release);
}

void ThreadDictionary::clearLastError()
{
    if (storage_)
        storage_->lastError.store(kNoLastError, std::memory_order_release);
}
