#include "TemporaryLedger.h"

#include "AppleDoubleFile.h"
#include "EmptyFolder.h"
#include "FileOperations.h"
#include "FilePublishing.h"
#include "FolderListing.h"
#include "MacErrorMapping.h"
#include "MadeFiles.h"
#include "PathMemo.h"
#include "PathResolution.h"
#include "ProvenItems.h"
#include "TemporaryFiles.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <new>
#include <unordered_set>
#include <vector>

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kLedgerSuffix[] = ".run";
constexpr char kKeySuffix[] = ".key";
constexpr char kMagic[] = "QMLEDGER2";
constexpr char kKeyMagic[] = "QMKEY1";
// Bytes of entries of items settled (gone) a ledger keeps before it
// starts afresh.
constexpr off_t kSettledEntriesKept = 64 * 1024;
// The time the kernel stamps a new item with may lag the clock read when
// the ledger began by a tick.
constexpr SInt64 kClockSlackSeconds = 1;
// Attempts at a new key before the ledger is given up.
constexpr int kKeyAttempts = 100;
// The bytes of a key, and of an entry's seal (hex digits: twice as many).
constexpr std::size_t kKeyBytes = 32;
constexpr std::size_t kSealBytes = 16;

// The kinds of entry: an item about to be made (file, folder), one made
// (with its identity), one that could not be made.
enum Kind : char {
    kFileIntent = 'f',
    kFolderIntent = 'd',
    kFileMade = 'F',
    kFolderMade = 'D',
    kWithdrawn = '-',
};

// What a ledger says of one path: the identity of the item last made
// there, and whether a making was begun and not ended (the run was killed
// between noting the path and the item's identity).
struct Item {
    std::string relative;  // to the ledger's folder
    bool folder = false;
    bool made = false;
    bool pending = false;
    UInt64 device = 0;
    UInt64 inode = 0;
    ItemProof proof;  // tells the item made from a later one on its inode
    bool sidecarLeft = false;  // its file gone, its sidecar could not be removed
};

class Items {
public:
    void apply(char kind, const std::string& relative, UInt64 device, UInt64 inode, const ItemProof& proof = {})
    {
        auto found = index_.find(relative);
        if (found == index_.end()) {
            found = index_.emplace(relative, items_.size()).first;
            items_.push_back(Item{relative, false, false, false, 0, 0, ItemProof(), false});
        }
        Item& item = items_[found->second];
        switch (kind) {
        case kFileIntent:
        case kFolderIntent:
            item.folder = kind == kFolderIntent;
            item.pending = true;
            break;
        case kFileMade:
        case kFolderMade:
            item.folder = kind == kFolderMade;
            item.made = true;
            item.pending = false;
            item.device = device;
            item.inode = inode;
            item.proof = proof;
            break;
        default:  // withdrawn: what was made before stays
            item.pending = false;
            break;
        }
    }
    // An item as it is, kept from another record.
    void keep(const Item& item)
    {
        index_[item.relative] = items_.size();
        items_.push_back(item);
    }
    const std::vector<Item>& all() const { return items_; }

private:
    std::vector<Item> items_;
    std::map<std::string, std::size_t> index_;
};

void AppendField(std::string* out, const std::string& field)
{
    out->append(field);
    out->push_back('\0');
}

std::string Entry(char kind, const std::string& relative, UInt64 device = 0, UInt64 inode = 0,
                  const ItemProof& proof = {})
{
    std::string entry;
    AppendField(&entry, std::string(1, kind));
    AppendField(&entry, relative);
    if (kind == kFileMade || kind == kFolderMade) {
        AppendField(&entry, std::to_string(device));
        AppendField(&entry, std::to_string(inode));
        AppendField(&entry, proof.text());
    }
    return entry;
}

// A ledger's first fields: what it is, its own identity (a copy names
// another file), when its run began ("b" and the ledger's birth time where
// the file system keeps one, else "t" and the clock's second), and the
// identity of its key file.
std::string Header(UInt64 device, UInt64 inode, const std::string& start, UInt64 keyDevice, UInt64 keyInode)
{
    std::string header;
    AppendField(&header, kMagic);
    AppendField(&header, std::to_string(device));
    AppendField(&header, std::to_string(inode));
    AppendField(&header, start);
    AppendField(&header, std::to_string(keyDevice));
    AppendField(&header, std::to_string(keyInode));
    return header;
}

// The seal that follows `bytes` (a header or an entry) after the seal
// `before` ("" after none): a keyed hash of both, so that nobody without
// the key (who could write into the ledger) adds, changes or reorders an
// entry unseen.
std::string Seal(const QByteArray& key, const std::string& before, const std::string& bytes)
{
    const QByteArray message = QByteArray::fromStdString(before + bytes);
    return QMessageAuthenticationCode::hash(message, key, QCryptographicHash::Sha256)
        .left(int(kSealBytes))
        .toHex()
        .toStdString();
}

bool ParseNumber(const std::string& text, UInt64* value)
{
    if (text.empty() || text.size() > 20 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    errno = 0;
    *value = std::strtoull(text.c_str(), nullptr, 10);
    return errno == 0;
}

struct Ledger {
    UInt64 device = 0;
    UInt64 inode = 0;
    std::string start;
    UInt64 keyDevice = 0;
    UInt64 keyInode = 0;
    Items items;
};

bool IsLedgerName(const std::string& name);

std::string NameOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsKeyName(const std::string& name);

// The names an entry may give: the program's temporaries and their
// sidecars, never a ledger or its key.
bool IsEntryName(const std::string& name)
{
    const std::string bare = name.compare(0, 2, "._") == 0 ? name.substr(2) : name;
    return IsTemporaryItemName(bare) && !IsLedgerName(bare) && !IsKeyName(bare);
}

// The moment no item a ledger proves can be older than: its run's start,
// as it states it.  False for a start that cannot be: later than the
// ledger's birth (where the file system keeps it; else than its last
// change).
bool EarliestItem(int fd, const struct stat& st, const std::string& start, ItemBirth* bound)
{
    UInt64 device = 0, inode = 0;
    ItemBirth born;
    if (start.size() < 2 || !IdentityOf(fd, std::string(), &device, &inode, &born))
        return false;
    if (start[0] == 'b') {
        ItemProof stated;
        if (!born.exact || !ItemProof::FromText(start, &stated) || !stated.born || stated.birthSeconds <= 0)
            return false;
        *bound = ItemBirth{stated.birthSeconds, stated.birthNanoseconds, true};
        return born.notBefore(*bound);
    }
    UInt64 seconds = 0;
    if (start[0] != 't' || !ParseNumber(start.substr(1), &seconds) || seconds == 0)
        return false;
    *bound = ItemBirth{SInt64(seconds) - kClockSlackSeconds, 0, false};
    return SInt64(seconds) <= SInt64(born.exact ? born.seconds : st.st_ctim.tv_sec) + kClockSlackSeconds;
}

// The fields of a ledger's text, each with where it ends (past its NUL);
// a last one without its NUL is not read.
std::vector<std::pair<std::string, std::size_t>> Fields(const std::string& text)
{
    std::vector<std::pair<std::string, std::size_t>> fields;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\0', start);
        if (end == std::string::npos)
            break;
        fields.emplace_back(text.substr(start, end - start), end + 1);
        start = end + 1;
    }
    return fields;
}

// A ledger's header: false when the text is none of ours.
bool ParseHeader(const std::string& text, Ledger* ledger)
{
    const auto fields = Fields(text);
    return fields.size() >= 7 && fields[0].first == kMagic && ParseNumber(fields[1].first, &ledger->device) &&
           ParseNumber(fields[2].first, &ledger->inode) && !(ledger->start = fields[3].first).empty() &&
           ParseNumber(fields[4].first, &ledger->keyDevice) && ParseNumber(fields[5].first, &ledger->keyInode);
}

// A ledger's entries, each sealed with `key` after the one before (the
// header first): false when one is not (written by someone without the
// key), or names what the program never records; entries after one cut
// short are not read.
bool ParseEntries(const std::string& text, const QByteArray& key, Ledger* ledger)
{
    const auto fields = Fields(text);
    if (fields.size() < 7 || Seal(key, std::string(), text.substr(0, fields[5].second)) != fields[6].first)
        return false;
    std::string seal = fields[6].first;
    for (std::size_t i = 7; i + 1 < fields.size();) {
        const std::string& kind = fields[i].first;
        const std::string& relative = fields[i + 1].first;
        if (kind.size() != 1)
            return false;
        UInt64 device = 0, inode = 0;
        ItemProof proof;
        std::size_t count = 2;
        if (kind[0] == kFileMade || kind[0] == kFolderMade)
            count = 5;
        else if (kind[0] != kFileIntent && kind[0] != kFolderIntent && kind[0] != kWithdrawn)
            return false;
        if (i + count >= fields.size())
            break;
        const std::size_t begin = fields[i - 1].second;
        if (Seal(key, seal, text.substr(begin, fields[i + count - 1].second - begin)) != fields[i + count].first)
            return false;
        seal = fields[i + count].first;
        if (!StaysInside(relative) || !IsEntryName(NameOf(relative)))
            return false;
        if (count == 5 && (!ParseNumber(fields[i + 2].first, &device) || !ParseNumber(fields[i + 3].first, &inode) ||
                           !ItemProof::FromText(fields[i + 4].first, &proof)))
            return false;
        ledger->items.apply(kind[0], relative, device, inode, proof);
        i += count + 1;
    }
    return true;
}

bool HasRecordShape(const std::string& name, const char* suffix)
{
    const std::size_t length = sizeof kTemporaryNameWord - 1 + 7 + std::strlen(suffix);
    return name.size() == length && IsTemporaryItemName(name) &&
           name.compare(name.size() - std::strlen(suffix), std::string::npos, suffix) == 0;
}

bool IsLedgerName(const std::string& name)
{
    return HasRecordShape(name, kLedgerSuffix);
}

bool IsKeyName(const std::string& name)
{
    return HasRecordShape(name, kKeySuffix);
}

// The name of the key of the ledger `name` (and the other way round).
std::string KeyNameOf(const std::string& ledgerName)
{
    return ledgerName.substr(0, ledgerName.size() - (sizeof kLedgerSuffix - 1)) + kKeySuffix;
}

std::string LedgerNameOf(const std::string& keyName)
{
    return keyName.substr(0, keyName.size() - (sizeof kKeySuffix - 1)) + kLedgerSuffix;
}

// The six letters of a temporary name (of its sidecar too), or "".
std::string TagOf(const std::string& name)
{
    const std::string bare = name.compare(0, 2, "._") == 0 ? name.substr(2) : name;
    if (!IsTemporaryItemName(bare))
        return std::string();
    return bare.substr(sizeof kTemporaryNameWord, 6);
}

bool SameItem(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

enum class Found { Ours, Gone, Other };

// Whether `name` in the folder `parentFd` is of the running user and made
// no earlier than `bound` (*st gets its status).
bool OwnSince(int parentFd, const std::string& name, const ItemBirth& bound, struct stat* st)
{
    ItemBirth born;
    return IsOwnItem(*st) && BirthOf(parentFd, name, &born) && born.notBefore(bound);
}

// Whether `name` in the folder `parentFd` is still an item `item` records
// (*st gets its status): the one last made there (its device, inode and
// proof: not a later item given the same inode), or one whose making was
// noted when the run was killed; in both cases the running user's and made
// since the ledger began (`bound`).
Found Look(int parentFd, const std::string& name, const Item& item, const ItemBirth& bound, struct stat* st)
{
    if (::fstatat(parentFd, name.c_str(), st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? Found::Gone : Found::Other;
    if (item.folder ? !S_ISDIR(st->st_mode) : !S_ISREG(st->st_mode))
        return Found::Other;
    if (!OwnSince(parentFd, name, bound, st))
        return Found::Other;
    ItemProof proof;
    if (item.made && UInt64(st->st_dev) == item.device && UInt64(st->st_ino) == item.inode &&
        ProofOf(parentFd, name, &proof) && proof.matches(item.proof))
        return Found::Ours;
    return item.pending ? Found::Ours : Found::Other;
}

void RemoveFile(int parentFd, const std::string& name, const std::string& path)
{
    PathMemo::Forget(path);
    ::unlinkat(parentFd, name.c_str(), 0);
}

// The sidecar "._name" of a recorded file, when it is a plain file of the
// running user made since the ledger began.  True when such a sidecar is
// there still (it could not be removed).
bool RemoveSidecar(int parentFd, const std::string& name, const std::string& path, const ItemBirth& bound)
{
    const std::string sidecar = "._" + name;
    struct stat st;
    if (::fstatat(parentFd, sidecar.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        !OwnSince(parentFd, sidecar, bound, &st))
        return false;
    if (::unlinkat(parentFd, sidecar.c_str(), 0) != 0)
        return errno != ENOENT;
    PathMemo::SidecarChanged(AppleDoubleFile::SidecarPathFor(path), false);
    return false;
}

void RemoveFolder(int parentFd, const std::string& name, const std::string& path, const struct stat& seen)
{
    const int fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st;
    // The folder opened is the one looked at.
    if (::fstat(fd, &st) == 0 && SameItem(st, seen) && EmptyOpenFolder(fd, path) == noErr) {
        PathMemo::Forget(path);
        ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR);
    }
    ::close(fd);
}

// Removes what `items` proves (recorded in the ledger of the folder at
// `folder`, open as `folderFd` or -1, no item older than `bound`):
// unfinished publications first, then files and folders.  Every path is
// opened from the folder down, never through a link.  `killed`: the run
// was killed, so a sidecar may have outlived its file.  The paths of
// publication records named that are there and prove nothing (another
// user's, one not of the identity recorded, one others may write) go to
// *untrusted (when given).  Returns the items that are there still, proven
// ours, and could not be removed (their folder cannot be written or
// entered, say), to be kept recorded until they are gone.
std::vector<Item> RemoveItems(int folderFd, const std::string& folder, const std::vector<Item>& items,
                              const ItemBirth& bound, bool killed, std::vector<std::string>* untrusted = nullptr)
{
    std::vector<Item> left;
    int opened = -1;
    for (const bool records : {true, false}) {
        for (const Item& item : items) {
            if (!item.made && !item.pending)
                continue;
            const std::size_t slash = item.relative.rfind('/');
            const std::string name = slash == std::string::npos ? item.relative : item.relative.substr(slash + 1);
            const bool record = !item.folder && IsPublicationRecordName(name);
            if (record != records)
                continue;
            const std::string path = folder + "/" + item.relative;
            // A folder that is there and cannot be entered keeps what it holds.
            auto reachable = [] { return errno == ENOENT || errno == ENOTDIR || errno == ELOOP || errno == EINVAL; };
            if (folderFd < 0 && opened < 0 &&
                (opened = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) < 0) {
                if (!reachable())
                    left = items;
                return left;
            }
            const int top = folderFd >= 0 ? folderFd : opened;
            const std::string parent = slash == std::string::npos ? std::string() : item.relative.substr(0, slash);
            const int parentFd = OpenFolderBelow(top, parent);
            if (parentFd < 0) {
                if (!reachable())
                    left.push_back(item);
                continue;
            }
            struct stat st {};
            const Found found = Look(parentFd, name, item, bound, &st);
            bool untrustedRecord = false;
            if (found == Found::Ours && record) {
                const PublicationUndo undo = UndoUnfinishedPublication(
                    parentFd, path.substr(0, path.size() - name.size() - 1), name, UInt64(st.st_dev),
                    UInt64(st.st_ino), bound);
                untrustedRecord = undo == PublicationUndo::Untrusted;
                if (untrustedRecord && untrusted)
                    untrusted->push_back(path);
            } else if (found == Found::Other && record) {
                if (untrusted)
                    untrusted->push_back(path);
            } else if (found == Found::Ours && item.folder) {
                RemoveFolder(parentFd, name, path, st);
            } else if (found == Found::Ours) {
                RemoveFile(parentFd, name, path);
            }
            // A sidecar outlives its file only when the file's removal was
            // cut short, or its own failed.
            bool sidecarLeft = false;
            if (!item.folder && !record &&
                (found == Found::Ours || (found == Found::Gone && (killed || item.sidecarLeft))))
                sidecarLeft = RemoveSidecar(parentFd, name, path, bound);
            struct stat now {};
            const bool itemLeft =
                found == Found::Ours && !untrustedRecord && Look(parentFd, name, item, bound, &now) == Found::Ours;
            if (itemLeft || sidecarLeft) {
                left.push_back(item);
                left.back().sidecarLeft = sidecarLeft && !itemLeft;
            }
            ::close(parentFd);
        }
    }
    if (opened >= 0)
        ::close(opened);
    return left;
}

struct HookSlot {
    std::mutex mutex;
    TemporaryLedger::CleanUpHook hook;
};

HookSlot& Hook()
{
    static HookSlot slot;
    return slot;
}

void RunHook(const std::string& path)
{
    TemporaryLedger::CleanUpHook hook;
    {
        std::lock_guard<std::mutex> lock(Hook().mutex);
        hook = Hook().hook;
    }
    if (hook)
        hook(path);
}

bool ReadAll(int fd, std::size_t size, std::string* text)
{
    try {
        text->assign(size, '\0');
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, text->data() + done, size - done, off_t(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += std::size_t(got);
    }
    text->resize(done);
    return true;
}

// A new random key.
QByteArray NewKey()
{
    QByteArray key(int(kKeyBytes), '\0');
    for (std::size_t done = 0; done < kKeyBytes;) {
        const ssize_t got = ::getrandom(key.data() + done, kKeyBytes - done, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return QByteArray();
        done += std::size_t(got);
    }
    return key;
}

// Makes the key of a new ledger in `folder` (stem + ".key", the stem a new
// temporary name): made exclusively with mode 0600 and locked, holding a
// new random key from its birth on, written at once before anything asks
// its status, and made anew when its status shows a change after its birth
// (the clock's tick passed while it was written, or someone asked its
// status meanwhile), so that the clean-up can tell that nobody else could
// ever read it (UnchangedSinceBirth).  The descriptor (*stem, *key), or -1
// with errno set (nothing left behind).
int MakeKeyFile(const std::string& folder, std::string* stem, QByteArray* key)
{
    const std::string base = folder == "/" ? std::string() : folder;
    int e = EEXIST;
    for (int attempt = 0; attempt < kKeyAttempts; ++attempt) {
        *stem = NewTemporaryItemName(std::string());
        const std::string path = base + "/" + *stem + kKeySuffix;
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return -1;
        }
        // A clean-up may take the new file a moment for a key without its
        // ledger: its name no longer holds it then, and the key is begun
        // anew.
        UInt64 device = 0, inode = 0, atDevice = 0, atInode = 0;
        if (::flock(fd, LOCK_EX) != 0 || !IdentityOf(fd, std::string(), &device, &inode) ||
            !IdentityOf(AT_FDCWD, path, &atDevice, &atInode) || atDevice != device || atInode != inode) {
            e = errno ? errno : EIO;
            ::close(fd);
            continue;
        }
        *key = NewKey();
        std::string text;
        AppendField(&text, kKeyMagic);
        AppendField(&text, key->toHex().toStdString());
        if (key->isEmpty() || !WriteAll(fd, text.data(), text.size())) {
            e = errno ? errno : EIO;
            ::unlink(path.c_str());
            ::close(fd);
            errno = e;
            return -1;
        }
        if (UnchangedSinceBirth(fd))
            return fd;
        e = EAGAIN;
        ::unlink(path.c_str());
        ::close(fd);
    }
    errno = e;
    return -1;
}

// The key in the file `name` of the folder `folderFd`, when the file
// proves it secret: a regular file of the running user with one name and
// the identity a ledger gives, that nobody else may read or write, nor
// could since its birth (where the file system tells).
bool ReadKey(int folderFd, const std::string& name, UInt64 device, UInt64 inode, QByteArray* key)
{
    const int fd = ::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    char text[128];
    ssize_t got = -1;
    if (::fstat(fd, &st) == 0 && IsOwnRecordFile(st) && (st.st_mode & 077) == 0 && UInt64(st.st_dev) == device &&
        UInt64(st.st_ino) == inode && UnchangedSinceBirth(fd))
        got = ::pread(fd, text, sizeof text, 0);
    ::close(fd);
    const std::string expected = std::string(kKeyMagic) + '\0';
    const std::size_t hex = kKeyBytes * 2;
    if (got != ssize_t(expected.size() + hex + 1) || std::string(text, expected.size()) != expected ||
        text[got - 1] != '\0')
        return false;
    const QByteArray digits(text + expected.size(), int(hex));
    if (digits.toLower() != digits || !std::all_of(digits.begin(), digits.end(), [](char c) { return std::isxdigit(uchar(c)); }))
        return false;
    *key = QByteArray::fromHex(digits);
    return key->size() == int(kKeyBytes);
}

// Removes the key `name` in the folder `folderFd` of a ledger that is gone
// or that this clean-up holds: the user's own file whose lock is free.
// False for one that is not the user's (left alone).
bool RemoveKey(int folderFd, const std::string& name)
{
    const int fd = ::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT;
    struct stat st, at;
    if (::fstat(fd, &st) != 0 || !IsOwnRecordFile(st)) {
        ::close(fd);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstatat(folderFd, name.c_str(), &at, AT_SYMLINK_NOFOLLOW) == 0 &&
        SameItem(st, at))
        ::unlinkat(folderFd, name.c_str(), 0);
    ::close(fd);
    return true;
}

} // namespace

struct TemporaryLedger::State {
    std::uint64_t serial = 0;           // tells this ledger from any other made since
    int fd = -1;                        // the ledger's file, locked
    int keyFd = -1;                     // its key's, locked
    std::string path;
    std::string keyPath;
    std::string folder;                 // absolute, as given
    std::vector<std::string> prefixes;  // the folder's forms, each with a trailing '/'
    ItemBirth bound;                    // no item recorded is older
    QByteArray key;
    std::string headerSeal;
    std::string seal;                   // of the last entry written whole
    off_t header = 0;                   // length of the header
    off_t length = 0;                   // of the entries written whole
    OSErr error = noErr;
    Items items;

    // Writes `bytes` sealed after the last entry, whole (cut back on
    // failure): 0 or the errno value.
    int write(const std::string& bytes)
    {
        const std::string next = Seal(key, seal, bytes);
        std::string sealed = bytes;
        AppendField(&sealed, next);
        if (WriteAll(fd, sealed.data(), sealed.size())) {
            length += off_t(sealed.size());
            seal = next;
            return 0;
        }
        const int e = errno ? errno : EIO;
        while (::ftruncate(fd, length) != 0 && errno == EINTR) {
        }
        return e;
    }

    // Closes the files, and removes them unless `keep` (what they record
    // is left for a later run's clean-up).
    void drop(bool keep = false)
    {
        for (const auto& [file, name] : {std::pair<int&, std::string&>{fd, path}, {keyFd, keyPath}}) {
            if (file >= 0) {
                if (!keep)
                    ::unlink(name.c_str());
                ::close(file);
            }
            file = -1;
            name.clear();
        }
    }
};

namespace {

// The open ledgers, and the temporary names drawn while one is open.
struct Registry {
    std::mutex mutex;
    std::vector<TemporaryLedger::State*> open;
    std::unordered_set<std::string> tags;
    std::atomic<int> count{0};
    std::uint64_t serials = 0;
};

Registry& Ledgers()
{
    static Registry registry;
    return registry;
}

// One item being made by a creating call: its path is written into the
// ledger that covers it before the call, the outcome after.
class Noting {
public:
    Noting(const std::string& path, bool folder) : folder_(folder)
    {
        Registry& r = Ledgers();
        if (r.count.load(std::memory_order_acquire) == 0)
            return;
        const std::string tag = TagOf(NameOf(path));
        if (tag.empty())
            return;
        std::lock_guard<std::mutex> lock(r.mutex);
        if (r.tags.count(tag) == 0)
            return;
        const std::string absolute = AbsolutePath(path);
        for (TemporaryLedger::State* state : r.open) {
            for (const std::string& prefix : state->prefixes) {
                if (absolute.size() <= prefix.size() || absolute.compare(0, prefix.size(), prefix) != 0)
                    continue;
                relative_ = absolute.substr(prefix.size());
                error_ = state->write(Entry(folder ? kFolderIntent : kFileIntent, relative_));
                if (error_ == 0) {
                    state->items.apply(folder ? kFolderIntent : kFileIntent, relative_, 0, 0);
                    serial_ = state->serial;
                }
                return;
            }
        }
    }

    // errno of a note that could not be written (the item must not be made).
    int error() const { return error_; }
    // The item is one being recorded.
    bool active() const { return serial_ != 0; }

    void made(const struct stat& st, const ItemProof& proof)
    {
        finish(folder_ ? kFolderMade : kFileMade, UInt64(st.st_dev), UInt64(st.st_ino), proof);
    }
    void withdraw() { finish(kWithdrawn, 0, 0, ItemProof()); }

private:
    void finish(char kind, UInt64 device, UInt64 inode, const ItemProof& proof)
    {
        if (serial_ == 0)
            return;
        // The run's own clean-up proves an item as a later run's does: by
        // the proof as the entry holds it (a file's change time and size
        // only where it has neither birth time nor handle, since it is
        // written after it is made).
        ItemProof held;
        if (!ItemProof::FromText(proof.text(), &held))
            held = proof;
        Registry& r = Ledgers();
        std::lock_guard<std::mutex> lock(r.mutex);
        // The ledger may have closed meanwhile (its sweep then ran).
        for (TemporaryLedger::State* state : r.open) {
            if (state->serial == serial_ && state->write(Entry(kind, relative_, device, inode, proof)) == 0)
                state->items.apply(kind, relative_, device, inode, held);
        }
        serial_ = 0;
    }

    bool folder_;
    std::uint64_t serial_ = 0;
    std::string relative_;
    int error_ = 0;
};

} // namespace

TemporaryLedger::TemporaryLedger(const std::string& folder) : state_(std::make_unique<State>())
{
    State& s = *state_;
    s.folder = AbsolutePath(folder);
    s.prefixes.push_back(s.folder == "/" ? s.folder : s.folder + "/");
    std::string resolved;
    if (ResolvePath(s.folder, &resolved) == noErr && resolved != s.folder)
        s.prefixes.push_back(resolved == "/" ? resolved : resolved + "/");
    // The key first, then the ledger of the same stem.  A clean-up may take
    // the new ledger a moment for one a killed run left empty: it is begun
    // anew under another stem then.
    const std::string base = s.folder == "/" ? std::string() : s.folder;
    int e = EEXIST;
    struct stat st {};
    for (int attempt = 0; attempt < kKeyAttempts && s.fd < 0; ++attempt) {
        std::string stem;
        s.keyFd = MakeKeyFile(s.folder, &stem, &s.key);
        if (s.keyFd < 0) {
            e = errno;
            break;
        }
        s.keyPath = base + "/" + stem + kKeySuffix;
        s.path = base + "/" + stem + kLedgerSuffix;
        s.fd = ::open(s.path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
        UInt64 atDevice = 0, atInode = 0;
        if (s.fd >= 0 && ::flock(s.fd, LOCK_EX) == 0 && ::fstat(s.fd, &st) == 0 &&
            IdentityOf(AT_FDCWD, s.path, &atDevice, &atInode) && atDevice == UInt64(st.st_dev) &&
            atInode == UInt64(st.st_ino))
            break;
        e = s.fd < 0 ? errno : EEXIST;
        if (s.fd >= 0)
            ::close(s.fd);
        s.fd = -1;
        s.path.clear();
        s.drop();
        if (e != EEXIST)
            break;
    }
    struct stat key {};
    ItemBirth born;
    UInt64 device = 0, inode = 0;
    if (s.fd < 0) {
        s.error = e == EEXIST ? OSErr(dupFNErr) : MacErrorFromErrno(e);
    } else if (::fstat(s.keyFd, &key) != 0 || !IdentityOf(s.fd, std::string(), &device, &inode, &born)) {
        s.error = MacErrorFromLastErrno();
    } else {
        const std::string start = born.exact ? "b" + std::to_string(born.seconds) + "." + std::to_string(born.nanoseconds)
                                             : "t" + std::to_string(SInt64(std::time(nullptr)));
        const std::string header = Header(UInt64(st.st_dev), UInt64(st.st_ino), start, UInt64(key.st_dev),
                                          UInt64(key.st_ino));
        if (const int written = s.write(header))
            s.error = MacErrorFromErrno(written);
        s.headerSeal = s.seal;
        s.header = s.length;
        if (!EarliestItem(s.fd, st, start, &s.bound))
            s.bound = ItemBirth{SInt64(std::time(nullptr)) - kClockSlackSeconds, 0, false};
    }
    if (s.error != noErr) {
        s.drop();
        return;
    }
    Registry& r = Ledgers();
    std::lock_guard<std::mutex> lock(r.mutex);
    s.serial = ++r.serials;
    r.open.push_back(&s);
    r.count.fetch_add(1, std::memory_order_release);
}

TemporaryLedger::~TemporaryLedger()
{
    State& s = *state_;
    if (s.fd < 0)
        return;
    {
        Registry& r = Ledgers();
        std::lock_guard<std::mutex> lock(r.mutex);
        r.open.erase(std::remove(r.open.begin(), r.open.end(), &s), r.open.end());
        if (r.count.fetch_sub(1, std::memory_order_acq_rel) == 1)
            r.tags.clear();
    }
    // What could not be removed stays recorded: the ledger stays, for the
    // next run's clean-up.
    s.drop(!RemoveItems(-1, s.folder, s.items.all(), s.bound, false).empty());
}

OSErr TemporaryLedger::error() const
{
    return state_->error;
}

void TemporaryLedger::settle()
{
    // The files of the piece of work that are gone (replaced, or removed
    // by others) are let go.
    MadeFiles::Prune();
    State& s = *state_;
    if (s.fd < 0)
        return;
    std::lock_guard<std::mutex> lock(Ledgers().mutex);
    if (s.items.all().empty())
        return;
    // What could not be removed stays recorded, and is tried again.
    const std::vector<Item> left = RemoveItems(-1, s.folder, s.items.all(), s.bound, false);
    s.items = Items();
    for (const Item& item : left)
        s.items.keep(item);
    // The entries of what is gone, once they are many (none of them records
    // an item that is there still).
    if (left.empty() && s.length - s.header > kSettledEntriesKept && ::ftruncate(s.fd, s.header) == 0) {
        s.length = s.header;
        s.seal = s.headerSeal;
    }
}

int TemporaryLedger::RemoveLeftovers(const std::string& folder, std::vector<std::string>* untrusted)
{
    std::vector<std::string> names;
    if (ListFolderNames(folder, &names) != noErr)
        return 0;
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return 0;
    std::vector<std::string> said;
    auto leftAlone = [&said](const std::string& path) {
        if (std::find(said.begin(), said.end(), path) == said.end())
            said.push_back(path);
    };
    int removed = 0;
    for (const std::string& name : names) {
        if (!IsLedgerName(name))
            continue;
        const std::string path = (folder == "/" ? std::string() : folder) + "/" + name;
        const int fd = ::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            // Gone meanwhile; anything else (a link, a file the user may not
            // read) is no ledger of the user's.
            if (errno != ENOENT)
                leftAlone(path);
            continue;
        }
        RunHook(path);
        // Whose it is comes first: another user's file, or one others may
        // write, proves nothing, whoever holds its lock.  Then a locked
        // ledger is a running batch's; once locked, the name must still
        // hold the file (a finished run removes its ledger before it lets
        // go of it).
        struct stat st, at;
        if (::fstat(fd, &st) != 0 || !IsOwnRecordFile(st)) {
            leftAlone(path);
            ::close(fd);
            continue;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &st) != 0 ||
            ::fstatat(folderFd, name.c_str(), &at, AT_SYMLINK_NOFOLLOW) != 0 || !SameItem(st, at)) {
            ::close(fd);
            continue;
        }
        // The user's own and empty: made by a run killed before it wrote a
        // byte into it (a run beginning its ledger now finds its name gone
        // and begins anew).  Its key goes with it.
        const std::string keyName = KeyNameOf(name);
        if (IsOwnRecordFile(st) && st.st_size == 0) {
            ::unlinkat(folderFd, name.c_str(), 0);
            RemoveKey(folderFd, keyName);
            ::close(fd);
            ++removed;
            continue;
        }
        // A ledger proves something only when it is the user's own, that
        // nobody else may write, unchanged but by writes since the last
        // (no mode or owner changed), and one of ours: it names itself and
        // its key (a file nobody else could ever read), every entry is
        // sealed with that key, it names only items of the temporary shape,
        // and a start no later than its birth.
        std::string text;
        Ledger ledger;
        ItemBirth bound;
        QByteArray key;
        if (!IsOwnRecordFile(st) || !UnchangedSinceWritten(fd) || !ReadAll(fd, std::size_t(st.st_size), &text) ||
            !ParseHeader(text, &ledger) || ledger.device != UInt64(st.st_dev) || ledger.inode != UInt64(st.st_ino) ||
            !ReadKey(folderFd, keyName, ledger.keyDevice, ledger.keyInode, &key) ||
            !ParseEntries(text, key, &ledger) || !EarliestItem(fd, st, ledger.start, &bound)) {
            leftAlone(path);
            ::close(fd);
            continue;
        }
        std::vector<std::string> records;
        const bool left =
            !RemoveItems(folderFd, AbsolutePath(folder), ledger.items.all(), bound, true, &records).empty();
        for (const std::string& record : records)
            leftAlone(record);
        // What could not be removed stays recorded, for a later run.
        if (left) {
            ::close(fd);
            continue;
        }
        if (::fstatat(folderFd, name.c_str(), &at, AT_SYMLINK_NOFOLLOW) == 0 && SameItem(st, at))
            ::unlinkat(folderFd, name.c_str(), 0);
        RemoveKey(folderFd, keyName);
        ::close(fd);
        ++removed;
    }
    // Keys whose ledger is gone (a run killed as it began its ledger, or
    // as it removed it at its end); another user's is said.
    for (const std::string& name : names) {
        struct stat at;
        if (IsKeyName(name) && ::fstatat(folderFd, LedgerNameOf(name).c_str(), &at, AT_SYMLINK_NOFOLLOW) != 0 &&
            errno == ENOENT && !RemoveKey(folderFd, name))
            leftAlone((folder == "/" ? std::string() : folder) + "/" + name);
    }
    ::close(folderFd);
    if (untrusted)
        untrusted->insert(untrusted->end(), said.begin(), said.end());
    return removed;
}

int TemporaryLedger::CreateFile(const std::string& path, int flags, mode_t mode, struct stat* made,
                                const std::string* firstBytes)
{
    Noting note(path, false);
    if (note.error()) {
        errno = note.error();
        return -1;
    }
    int fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL | O_NOFOLLOW, mode);
    int e = errno;
    // The first bytes go in before anything asks the file's status (see
    // IdentityOf).
    if (fd >= 0 && firstBytes && !WriteAll(fd, firstBytes->data(), firstBytes->size())) {
        e = errno ? errno : EIO;
        ::unlink(path.c_str());
        ::close(fd);
        fd = -1;
    }
    struct stat st {};
    ItemProof proof;
    if (fd < 0)
        note.withdraw();
    else if ((made || note.active()) && ::fstat(fd, &st) == 0 && (!note.active() || ProofOf(fd, std::string(), &proof)))
        note.made(st, proof);
    else
        st.st_nlink = 0;
    if (made)
        *made = st;
    errno = e;
    return fd;
}

int TemporaryLedger::CreateFolder(const std::string& path, mode_t mode)
{
    Noting note(path, true);
    if (note.error()) {
        errno = note.error();
        return -1;
    }
    const int result = ::mkdir(path.c_str(), mode);
    const int e = errno;
    struct stat st;
    ItemProof proof;
    if (result == 0 && ::lstat(path.c_str(), &st) == 0 && ProofOf(AT_FDCWD, path, &proof))
        note.made(st, proof);
    else if (result != 0)
        note.withdraw();
    errno = e;
    return result;
}

void TemporaryLedger::NameDrawn(const std::string& name)
{
    // Also without a ledger: the tags tell the run's temporaries from a
    // user's names of their shape.
    Registry& r = Ledgers();
    const std::string tag = TagOf(name);
    if (tag.empty())
        return;
    std::lock_guard<std::mutex> lock(r.mutex);
    r.tags.insert(tag);
}

bool TemporaryLedger::WasDrawn(const std::string& name)
{
    Registry& r = Ledgers();
    const std::string tag = TagOf(name);
    if (tag.empty())
        return false;
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.tags.count(tag) != 0;
}

void TemporaryLedger::SetCleanUpHook(CleanUpHook hook)
{
    std::lock_guard<std::mutex> lock(Hook().mutex);
    Hook().hook = std::move(hook);
}
