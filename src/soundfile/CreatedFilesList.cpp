#include "CreatedFilesList.h"

#include "ZuFiles.h"

#include <cstring>
#include <mutex>

namespace {

std::mutex& ListMutex()
{
    static std::mutex mutex;
    return mutex;
}

QStringList& List()
{
    static QStringList list;
    return list;
}

} // namespace

const char kTemporaryNameWord[] = ".QuillOutFile";

std::string WithoutTemporaryTag(const std::string& name)
{
    constexpr std::size_t kWord = sizeof kTemporaryNameWord - 1;
    constexpr std::size_t kTag = 7;  // "-" and six letters or digits
    if (name.size() < kWord + kTag || name.compare(0, kWord, kTemporaryNameWord) != 0 || name[kWord] != '-')
        return name;
    for (std::size_t i = kWord + 1; i < kWord + kTag; ++i) {
        const char c = name[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return name;
    }
    return name.substr(0, kWord) + name.substr(kWord + kTag);
}

void CreatedFilesListInit()
{
    std::lock_guard<std::mutex> lock(ListMutex());
    List().clear();
}

void CreatedFilesListRelease()
{
    std::lock_guard<std::mutex> lock(ListMutex());
    List().clear();
}

void CreatedFilesListAdd(ConstStr255Param name)
{
    if (!name || name[0] == 0)
        return;
    CreatedFilesListAdd(NSStringFromPascalString(name));
}

void CreatedFilesListAdd(const QString& name)
{
    if (name.isEmpty())
        return;
    std::lock_guard<std::mutex> lock(ListMutex());
    List().append(name);
}

void CreatedFilesListAppendComponent(const HFSUniStr255& folder)
{
    const QString component = HFSUniStr255ToQString(folder);
    std::lock_guard<std::mutex> lock(ListMutex());
    QStringList& list = List();
    if (list.isEmpty())
        return;
    list.last() = QStringLiteral("%1/%2").arg(component, list.last());
}

QStringList GetCreatedFilesList()
{
    std::lock_guard<std::mutex> lock(ListMutex());
    return List();
}

void CreatedFilesListClear()
{
    std::lock_guard<std::mutex> lock(ListMutex());
    List().clear();
}
