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

constexpr std::size_t kWordLength = sizeof kTemporaryNameWord - 1;
constexpr std::size_t kTagLength = 7;  // "-" and six letters or digits

} // namespace

std::string WithoutTemporaryTag(const std::string& name)
{
    if (!BeginsWithTemporaryTag(name))
        return name;
    return name.substr(0, kWordLength) + name.substr(kWordLength + kTagLength);
}

std::string PublishedFileName(const std::string& name, const std::string& baseName)
{
    if (!BeginsWithTemporaryTag(name))
        return name;
    return baseName + name.substr(kWordLength + kTagLength);
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

void CreatedFilesListRenameFolder(const QString& from, const QString& to)
{
    const QString prefix = from + QLatin1Char('/');
    std::lock_guard<std::mutex> lock(ListMutex());
    for (QString& entry : List()) {
        if (entry.startsWith(prefix))
            entry = to + QLatin1Char('/') + entry.mid(prefix.size());
    }
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
