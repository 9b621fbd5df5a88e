#include "ZuPath.h"

#include "FileOperations.h"
#include "FolderListing.h"
#include "PathResolution.h"
#include "PropertyList.h"

#include <QtGlobal>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace {

// How far a moved item is looked for: its former folder, then below each of
// the next ancestors (never from "/"), one level deeper per ancestor, and no
// more than this many folder entries in all.
constexpr int kSearchAncestors = 4;
constexpr size_t kSearchEntryBudget = 20000;

// The path without trailing '/' characters ("/" stays "/").
std::string WithoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// The path without its last component: "/a/b" -> "/a", "/a" -> "/",
// "a" -> "" (as a path that names no folder).
std::string DeletingLastComponent(const std::string& input)
{
    const std::string path = WithoutTrailingSlashes(input);
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    if (slash == 0)
        return path.size() > 1 ? std::string("/") : std::string();
    return WithoutTrailingSlashes(path.substr(0, slash));
}

std::string LastComponent(const std::string& input)
{
    const std::string path = WithoutTrailingSlashes(input);
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// Breadth-first search below `root` (to `maxDepth` levels) for the item
// with the given identity.  Symbolic links are neither matched nor entered,
// nor are folders of other devices or the subtree `skip` (searched before).
bool SearchBelow(const std::string& root, int maxDepth, const std::string& skip, UInt64 device,
                 UInt64 inode, size_t* budget, std::string* found)
{
    std::deque<std::pair<std::string, int>> queue;
    queue.emplace_back(root, 1);
    std::vector<FolderEntry> entries;
    while (!queue.empty()) {
        const auto [folder, depth] = queue.front();
        queue.pop_front();
        entries.clear();
        if (ListFolder(folder, &entries) != noErr)
            continue;
        for (const FolderEntry& entry : entries) {
            if (*budget == 0)
                return false;
            --*budget;
            if (entry.isSymlink)
                continue;
            const std::string path = JoinPath(folder, entry.name);
            if (entry.device == device && entry.inode == inode) {
                *found = path;
                return true;
            }
            if (entry.isFolder && depth < maxDepth && entry.device == device && path != skip)
                queue.emplace_back(path, depth + 1);
        }
    }
    return false;
}

// The item with the identity of `former` (an FSRef whose path may be stale).
bool FindMovedItem(const FSRef& former, std::string* found)
{
    size_t budget = kSearchEntryBudget;
    std::string previous = former.path;
    std::string folder = DeletingLastComponent(former.path);
    for (int level = 0; level < kSearchAncestors && !folder.empty() && folder != "/"; ++level) {
        PathStatus status;
        if (StatPath(folder, &status) == 0 && status.isFolder && status.device == former.device &&
            SearchBelow(folder, level + 1, previous, former.device, former.inode, &budget, found))
            return true;
        if (budget == 0)
            return false;
        previous = folder;
        folder = DeletingLastComponent(folder);
    }
    return false;
}

QString ResolvedString(const std::string& path)
{
    std::string real;
    if (ResolvePath(path, &real) != noErr)
        real = path;
    return QString::fromStdString(real);
}

} // namespace

QString ZuPath::stringWithAliasData(const QByteArray& data)
{
    FSRef alias;
    if (data.isEmpty() || !FSRefDeserialize(data, &alias) || alias.path.empty())
        return QString();

    PathStatus status;
    if (StatPath(alias.path, &status) == 0 && status.device == alias.device && status.inode == alias.inode)
        return ResolvedString(alias.path);
    std::string moved;
    if (FindMovedItem(alias, &moved))
        return ResolvedString(moved);
    if (PathExists(alias.path))
        return ResolvedString(alias.path);
    return QString();
}

QString ZuPath::pathFromFSRef(const FSRef* ref)
{
    if (!ref)
        return QString();
    std::string path;
    const OSErr err = FSRefMakePath(ref, &path);
    if (err != noErr) {
        qWarning("Error %ld from FSRefMakePath() in file %s, function %s", long(err), "ZuFiles",
                 "ZuPath::pathFromFSRef");
        return QString();
    }
    return QString::fromStdString(path);
}

ZuPath::ZuPath(const QVariantMap& dictionary)
{
    const QVariant alias = dictionary.value(QLatin1String(kAliasDataKey));
    if (alias.typeId() == QMetaType::QByteArray) {
        const QString resolved = stringWithAliasData(alias.toByteArray());
        if (!resolved.isNull()) {
            stringValue_ = resolved;
            return;
        }
    }
    const QVariant string = dictionary.value(QLatin1String(kStringValueKey));
    if (string.typeId() == QMetaType::QString)
        stringValue_ = string.toString();
}

std::optional<ZuPath> ZuPath::fromFindFolder(SInt16 domain, OSType folderType)
{
    FSRef ref;
    if (FSFindFolder(domain, folderType, kDontCreateFolder, &ref) != noErr)
        return std::nullopt;
    return fromFSRef(&ref);
}

std::optional<ZuPath> ZuPath::fromFSRef(const FSRef* ref)
{
    const QString path = pathFromFSRef(ref);
    if (path.isNull())
        return std::nullopt;
    return ZuPath(path);
}

void ZuPath::encodeWithCoder(QVariantMap* coder) const
{
    if (coder)
        coder->insert(QLatin1String(kArchivePathKey), stringValue_);
}

std::optional<ZuPath> ZuPath::initWithCoder(const QVariantMap& coder)
{
    const QVariant path = coder.value(QLatin1String(kArchivePathKey));
    if (path.typeId() != QMetaType::QString)
        return std::nullopt;
    return ZuPath(path.toString());
}

QByteArray ZuPath::archivedData() const
{
    QVariantMap coder;
    encodeWithCoder(&coder);
    return PropertyList::toBinary(coder);
}

std::optional<ZuPath> ZuPath::fromArchivedData(const QByteArray& data)
{
    if (data.isEmpty())
        return std::nullopt;
    const QVariant value = PropertyList::fromData(data);
    if (value.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    return initWithCoder(value.toMap());
}

bool ZuPath::exists() const
{
    return !stringValue_.isEmpty() && PathExists(stringValue_.toStdString());
}

bool ZuPath::toFSRef(FSRef* ref) const
{
    if (!ref || stringValue_.isEmpty())
        return false;
    return FSPathMakeRef(stringValue_.toStdString(), ref) == noErr;
}

bool ZuPath::toFSSpec(FSSpec* spec) const
{
    if (!spec)
        return false;
    FSRef ref;
    if (toFSRef(&ref))
        return FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, nullptr, spec, nullptr) == noErr;
    return toFSSpecOfNewItem(spec);
}

// The specification of an item that may not exist yet: its folder must.
bool ZuPath::toFSSpecOfNewItem(FSSpec* spec) const
{
    const std::string path = stringValue_.toStdString();
    FSRef folder;
    if (!ZuPath(QString::fromStdString(DeletingLastComponent(path))).toFSRef(&folder))
        return false;
    FSSpec made;
    const OSErr err = FSMakeFSSpec(&folder, LastComponent(path), &made);
    if (err != noErr && err != fnfErr)
        return false;
    *spec = made;
    return true;
}

QByteArray ZuPath::dataWithAlias() const
{
    FSRef ref;
    if (!toFSRef(&ref))
        return QByteArray();
    std::string real;
    if (ResolvePath(ref.path, &real) != noErr)
        return QByteArray();
    ref.path = real;
    return FSRefSerialize(ref);
}

QVariantMap ZuPath::dictionary() const
{
    QVariantMap result;
    result.insert(QLatin1String(kStringValueKey), stringValue_);
    const QByteArray alias = dataWithAlias();
    if (!alias.isNull())
        result.insert(QLatin1String(kAliasDataKey), alias);
    return result;
}

QString ZuPath::description() const
{
    const QVariantMap dict = dictionary();
    QString text = QStringLiteral("{\n");
    for (auto it = dict.constBegin(); it != dict.constEnd(); ++it) {
        text += QStringLiteral("    ") + it.key() + QStringLiteral(" = ");
        if (it.value().typeId() == QMetaType::QByteArray)
            text += QLatin1Char('<') + QString::fromLatin1(it.value().toByteArray().toHex()) + QLatin1Char('>');
        else
            text += QLatin1Char('"') + it.value().toString() + QLatin1Char('"');
        text += QStringLiteral(";\n");
    }
    text += QLatin1Char('}');
    return text;
}
