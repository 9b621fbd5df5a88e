#include "ZuPath.h"

#include "ByteOrder.h"
#include "FileOperations.h"
#include "FolderListing.h"
#include "PathResolution.h"
#include "PropertyList.h"

#include <QtEndian>
#include <QtGlobal>
#include <cstring>
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

// What an alias record holds.  Records in the older form (an FSRef's
// stored form) know neither the kind nor the birth time.
struct AliasRecord {
    std::string path;
    UInt64 device = 0;
    UInt64 inode = 0;
    std::optional<bool> isFolder;
    std::optional<ItemBirthTime> birthTime;
};

// Stored form: "QZA1", flags (1 byte: 1 = folder, 2 = birth time present),
// device, inode, birth seconds, birth nanoseconds, path length, path; all
// numbers big-endian.
constexpr char kAliasMagic[4] = {'Q', 'Z', 'A', '1'};
constexpr UInt8 kAliasFolderFlag = 1;
constexpr UInt8 kAliasBirthTimeFlag = 2;
constexpr qsizetype kAliasHeaderSize = 4 + 1 + 8 + 8 + 8 + 4 + 4;

QByteArray SerializeAlias(const AliasRecord& alias)
{
    QByteArray out(kAliasMagic, 4);
    UInt8 flags = 0;
    if (alias.isFolder.value_or(false))
        flags |= kAliasFolderFlag;
    if (alias.birthTime)
        flags |= kAliasBirthTimeFlag;
    out.append(char(flags));
    AppendBE64(out, alias.device);
    AppendBE64(out, alias.inode);
    const ItemBirthTime birth = alias.birthTime.value_or(ItemBirthTime{});
    AppendBE64(out, UInt64(birth.seconds));
    AppendBE32(out, birth.nanoseconds);
    AppendBE32(out, UInt32(alias.path.size()));
    out.append(alias.path.data(), qsizetype(alias.path.size()));
    return out;
}

// False for anything malformed.
bool DeserializeAlias(const QByteArray& data, AliasRecord* alias)
{
    if (data.size() >= 4 && std::memcmp(data.constData(), kAliasMagic, 4) == 0) {
        if (data.size() < kAliasHeaderSize)
            return false;
        const char* p = data.constData();
        const UInt8 flags = UInt8(p[4]);
        const UInt32 nanoseconds = qFromBigEndian<UInt32>(p + 29);
        const UInt32 length = qFromBigEndian<UInt32>(p + 33);
        if ((flags & ~(kAliasFolderFlag | kAliasBirthTimeFlag)) != 0 || nanoseconds >= 1000000000u ||
            UInt64(length) != UInt64(data.size() - kAliasHeaderSize))
            return false;
        std::string path(p + kAliasHeaderSize, length);
        if (path.find('\0') != std::string::npos)
            return false;
        alias->path = std::move(path);
        alias->device = qFromBigEndian<UInt64>(p + 5);
        alias->inode = qFromBigEndian<UInt64>(p + 13);
        alias->isFolder = (flags & kAliasFolderFlag) != 0;
        if (flags & kAliasBirthTimeFlag)
            alias->birthTime = ItemBirthTime{qFromBigEndian<SInt64>(p + 21), nanoseconds};
        else
            alias->birthTime.reset();
        return true;
    }
    FSRef ref;
    if (!FSRefDeserialize(data, &ref))
        return false;
    alias->path = std::move(ref.path);
    alias->device = ref.device;
    alias->inode = ref.inode;
    alias->isFolder.reset();
    alias->birthTime.reset();
    return true;
}

enum class Identity {
    Different,
    Same,        // device, inode and birth time agree
    Unconfirmed, // device and inode agree, but a birth time is unknown
};

Identity CompareIdentity(const AliasRecord& alias, UInt64 device, UInt64 inode, bool isFolder,
                         const std::optional<ItemBirthTime>& birthTime)
{
    if (device != alias.device || inode != alias.inode)
        return Identity::Different;
    if (alias.isFolder && *alias.isFolder != isFolder)
        return Identity::Different;
    if (alias.birthTime && birthTime)
        return *alias.birthTime == *birthTime ? Identity::Same : Identity::Different;
    return Identity::Unconfirmed;
}

// Where the item was: an entry whose identity is unconfirmed is taken for
// it only in the former folder or under the former name.
struct FormerPlace {
    std::string folder;
    std::string name;
};

// Breadth-first search below `root` (to `maxDepth` levels) for the item of
// `alias`.  Symbolic links are neither matched nor entered, nor are folders
// of other devices or the subtree `skip` (searched before).
bool SearchBelow(const std::string& root, int maxDepth, const std::string& skip, const AliasRecord& alias,
                 const FormerPlace& former, size_t* budget, std::string* found)
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
            const Identity identity =
                CompareIdentity(alias, entry.device, entry.inode, entry.isFolder, entry.birthTime);
            if (identity == Identity::Same ||
                (identity == Identity::Unconfirmed && (folder == former.folder || entry.name == former.name))) {
                *found = path;
                return true;
            }
            if (entry.isFolder && depth < maxDepth && entry.device == alias.device && path != skip)
                queue.emplace_back(path, depth + 1);
        }
    }
    return false;
}

// The item of `alias` (whose path may be stale).
bool FindMovedItem(const AliasRecord& alias, std::string* found)
{
    size_t budget = kSearchEntryBudget;
    std::string previous = alias.path;
    std::string folder = DeletingLastComponent(alias.path);
    const FormerPlace former{folder, LastComponent(alias.path)};
    for (int level = 0; level < kSearchAncestors && !folder.empty() && folder != "/"; ++level) {
        PathStatus status;
        if (StatPath(folder, &status) == 0 && status.isFolder && status.device == alias.device &&
            SearchBelow(folder, level + 1, previous, alias, former, &budget, found))
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
    AliasRecord alias;
    if (data.isEmpty() || !DeserializeAlias(data, &alias) || alias.path.empty())
        return QString();

    // At its stored path the item is in its former folder under its former
    // name, so an unconfirmed identity will do.
    PathStatus status;
    if (StatPath(alias.path, &status) == 0 &&
        CompareIdentity(alias, status.device, status.inode, status.isFolder, status.birthTime) !=
            Identity::Different)
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

// The FSSpec of an item that may not exist yet: its folder must.
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
    AliasRecord alias;
    PathStatus status;
    if (ResolvePath(ref.path, &alias.path) != noErr || StatPath(alias.path, &status) != 0)
        return QByteArray();
    alias.device = status.device;
    alias.inode = status.inode;
    alias.isFolder = status.isFolder;
    alias.birthTime = status.birthTime;
    return SerializeAlias(alias);
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
