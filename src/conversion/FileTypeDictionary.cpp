#include "FileTypeDictionary.h"

#include "CreateSoundFile.h"
#include "SoundFileRegistry.h"

#include <mutex>
#include <optional>

const QString kFileTypeDispatcherKey = QStringLiteral("dispatcher");

namespace {

struct InstalledDictionary {
    std::mutex mutex;
    std::optional<QVariantMap> dictionary;
};

InstalledDictionary& Installed()
{
    static InstalledDictionary installed;
    return installed;
}

} // namespace

QVariantMap GetFileTypeDictionary()
{
    InstalledDictionary& installed = Installed();
    {
        std::lock_guard<std::mutex> lock(installed.mutex);
        if (installed.dictionary)
            return *installed.dictionary;
    }
    return LoadSoundFileProperties();
}

void SetFileTypeDictionary(const QVariantMap& dictionary)
{
    InstalledDictionary& installed = Installed();
    std::lock_guard<std::mutex> lock(installed.mutex);
    installed.dictionary = dictionary;
}

void ResetFileTypeDictionary()
{
    InstalledDictionary& installed = Installed();
    std::lock_guard<std::mutex> lock(installed.mutex);
    installed.dictionary.reset();
}

QVariantMap GetFileTypeEntry(OSType type)
{
    const QVariant entry = GetFileTypeDictionary().value(FileTypeForHFSTypeCode(type));
    if (entry.typeId() != QMetaType::QVariantMap)
        return QVariantMap();
    return entry.toMap();
}

SoundFileDispatcherRef GetEntryDispatcher(const QVariantMap& entry)
{
    const QVariant value = entry.value(kFileTypeDispatcherKey);
    if (!value.canConvert<SoundFileDispatcherRef>() || value.typeId() != qMetaTypeId<SoundFileDispatcherRef>())
        return nullptr;
    return value.value<SoundFileDispatcherRef>();
}

void SetEntryDispatcher(QVariantMap* entry, const SoundFileDispatcherRef& dispatcher)
{
    if (entry)
        entry->insert(kFileTypeDispatcherKey, QVariant::fromValue(dispatcher));
}

bool FileTypeCanBeWritten(OSType type)
{
    return GetSoundFileFactory(type) != nullptr &&
           GetFileTypeEntry(type).value(QStringLiteral("canBeWritten")).toBool();
}
