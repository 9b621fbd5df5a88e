#include "ThreadDictionary.h"

#include <QMutex>
#include <QMutexLocker>

#include <atomic>
#include <limits>

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

// The calling thread's dictionary: made by its first current(), released
// with the thread's other thread-local state (and kept alive by handles).
thread_local std::shared_ptr<ThreadDictionary::Storage> t_storage;

}  // namespace

ThreadDictionary::ThreadDictionary() = default;

ThreadDictionary ThreadDictionary::current()
{
    if (!t_storage)
        t_storage = std::make_shared<Storage>();
    return ThreadDictionary(t_storage);
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
