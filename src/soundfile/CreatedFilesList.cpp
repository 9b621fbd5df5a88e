#include "CreatedFilesList.h"

#include "ZuFiles.h"

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
