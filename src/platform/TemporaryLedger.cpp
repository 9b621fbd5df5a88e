#include "TemporaryLedger.h"

#include "AppleDoubleFile.h"
#include "EmptyFolder.h"
#include "FileOperations.h"
#include "FilePublishing.h"
#include "FolderListing.h"
#include "MacErrorMapping.h"
#include "PathMemo.h"
#include "PathResolution.h"
#include "ProvenItems.h"
#include "TemporaryFiles.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <map>
#include <mutex>
#include <new>
#include <unordered_set>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kLedgerSuffix[] = ".run";
constexpr char kMagic[] = "QMLEDGER1";
// Bytes of entries of items settled (gone) a ledger keeps before it
// starts afresh.
constexpr off_t kSettledEntriesKept = 64 * 1024;
// The time the kernel stamps a new item with may lag the clock read when
// the ledger began by a tick.
constexpr SInt64 kClockSlackSeconds = 1;

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
};

class Items {
public:
    void apply(char kind, const std::string& relative, UInt64 device, UInt64 inode)
    {
        auto found = index_.find(relative);
        if (found == index_.end()) {
            found = index_.emplace(relative, items_.size()).first;
            items_.push_back(Item{relative});
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
            break;
        default:  // withdrawn: what was made before stays
            item.pending = false;
            break;
        }
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

std::string Entry(char kind, const std::string& relative, UInt64 device = 0, UInt64 inode = 0)
{
    std::string entry;
    AppendField(&entry, std::string(1, kind));
    AppendField(&entry, relative);
    if (kind == kFileMade || kind == kFolderMade) {
        AppendField(&entry, std::to_string(device));
        AppendField(&entry, std::to_string(inode));
    }
    return entry;
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
    SInt64 start = 0;
    Items items;
};

// The moment no item a ledger proves can be older than: the ledger's own
// birth where the file system keeps it (then the start it states must
// agree), else the start it states (which must not be later than the
// ledger's last change).  False for a ledger whose start cannot be.
bool EarliestItem(int fd, const struct stat& st, SInt64 start, ItemBirth* bound)
{
    ItemBirth born;
    if (start <= 0 || !BirthOf(fd, std::string(), &born))
        return false;
    if (born.exact) {
        *bound = born;
        return start >= born.seconds - kClockSlackSeconds;
    }
    *bound = ItemBirth{start - kClockSlackSeconds, 0, false};
    return start <= SInt64(st.st_ctim.tv_sec) + kClockSlackSeconds;
}

// A ledger's text: false when it is not one (a copy, another file);
// entries after one cut short are not read.
bool ParseLedger(const std::string& text, Ledger* ledger)
{
    std::vector<std::string> fields;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\0', start);
        if (end == std::string::npos)
            break;
        fields.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    UInt64 start = 0;
    if (fields.size() < 4 || fields[0] != kMagic || !ParseNumber(fields[1], &ledger->device) ||
        !ParseNumber(fields[2], &ledger->inode) || !ParseNumber(fields[3], &start))
        return false;
    ledger->start = SInt64(start);
    for (std::size_t i = 4; i + 1 < fields.size();) {
        const std::string& kind = fields[i];
        const std::string& relative = fields[i + 1];
        if (kind.size() != 1 || !StaysInside(relative))
            break;
        UInt64 device = 0, inode = 0;
        if (kind[0] == kFileMade || kind[0] == kFolderMade) {
            if (i + 3 >= fields.size() || !ParseNumber(fields[i + 2], &device) || !ParseNumber(fields[i + 3], &inode))
                break;
            i += 4;
        } else if (kind[0] == kFileIntent || kind[0] == kFolderIntent || kind[0] == kWithdrawn) {
            i += 2;
        } else {
            break;
        }
        ledger->items.apply(kind[0], relative, device, inode);
    }
    return true;
}

bool IsLedgerName(const std::string& name)
{
    const std::size_t length = sizeof kTemporaryNameWord - 1 + 7 + sizeof kLedgerSuffix - 1;
    return name.size() == length && IsTemporaryItemName(name) &&
           name.compare(name.size() - (sizeof kLedgerSuffix - 1), std::string::npos, kLedgerSuffix) == 0;
}

std::string NameOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
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
// (*st gets its status): the one last made there, or one whose making was
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
    if (item.made && UInt64(st->st_dev) == item.device && UInt64(st->st_ino) == item.inode)
        return Found::Ours;
    return item.pending ? Found::Ours : Found::Other;
}

void RemoveFile(int parentFd, const std::string& name, const std::string& path)
{
    PathMemo::Forget(path);
    ::unlinkat(parentFd, name.c_str(), 0);
}

// The sidecar "._name" of a recorded file, when it is a plain file of the
// running user made since the ledger began.
void RemoveSidecar(int parentFd, const std::string& name, const std::string& path, const ItemBirth& bound)
{
    const std::string sidecar = "._" + name;
    struct stat st;
    if (::fstatat(parentFd, sidecar.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        OwnSince(parentFd, sidecar, bound, &st) && ::unlinkat(parentFd, sidecar.c_str(), 0) == 0)
        PathMemo::SidecarChanged(AppleDoubleFile::SidecarPathFor(path), false);
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
// publication records that prove nothing go to *untrusted (when given).
void RemoveItems(int folderFd, const std::string& folder, const std::vector<Item>& items, const ItemBirth& bound,
                 bool killed, std::vector<std::string>* untrusted = nullptr)
{
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
            if (folderFd < 0 && opened < 0 &&
                (opened = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) < 0)
                return;
            const int top = folderFd >= 0 ? folderFd : opened;
            const std::string parent = slash == std::string::npos ? std::string() : item.relative.substr(0, slash);
            const int parentFd = OpenFolderBelow(top, parent);
            if (parentFd < 0)
                continue;
            struct stat st {};
            const Found found = Look(parentFd, name, item, bound, &st);
            if (found == Found::Ours && record) {
                const PublicationUndo undo = UndoUnfinishedPublication(
                    parentFd, path.substr(0, path.size() - name.size() - 1), name, UInt64(st.st_dev),
                    UInt64(st.st_ino), bound);
                if (undo == PublicationUndo::Untrusted && untrusted)
                    untrusted->push_back(path);
            } else if (found == Found::Other && record && item.made && UInt64(st.st_dev) == item.device &&
                       UInt64(st.st_ino) == item.inode) {
                // The record recorded, but not the user's own (since).
                if (untrusted)
                    untrusted->push_back(path);
            } else if (found == Found::Ours && item.folder) {
                RemoveFolder(parentFd, name, path, st);
            } else if (found == Found::Ours) {
                RemoveFile(parentFd, name, path);
            }
            // A sidecar outlives its file only when the file's removal was
            // cut short.
            if (!item.folder && !record && (found == Found::Ours || (found == Found::Gone && killed)))
                RemoveSidecar(parentFd, name, path, bound);
            ::close(parentFd);
        }
    }
    if (opened >= 0)
        ::close(opened);
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

} // namespace

struct TemporaryLedger::State {
    std::uint64_t serial = 0;           // tells this ledger from any other made since
    int fd = -1;
    std::string path;
    std::string folder;                 // absolute, as given
    std::vector<std::string> prefixes;  // the folder's forms, each with a trailing '/'
    SInt64 start = 0;
    ItemBirth bound;                    // no item recorded is older
    off_t header = 0;                   // length of the header
    off_t length = 0;                   // of the entries written whole
    OSErr error = noErr;
    Items items;

    // Writes one entry whole (cut back on failure): 0 or the errno value.
    int write(const std::string& entry)
    {
        if (WriteAll(fd, entry.data(), entry.size())) {
            length += off_t(entry.size());
            return 0;
        }
        const int e = errno ? errno : EIO;
        while (::ftruncate(fd, length) != 0 && errno == EINTR) {
        }
        return e;
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

    void made(const struct stat& st) { finish(folder_ ? kFolderMade : kFileMade, UInt64(st.st_dev), UInt64(st.st_ino)); }
    void withdraw() { finish(kWithdrawn, 0, 0); }

private:
    void finish(char kind, UInt64 device, UInt64 inode)
    {
        if (serial_ == 0)
            return;
        Registry& r = Ledgers();
        std::lock_guard<std::mutex> lock(r.mutex);
        // The ledger may have closed meanwhile (its sweep then ran).
        for (TemporaryLedger::State* state : r.open) {
            if (state->serial == serial_ && state->write(Entry(kind, relative_, device, inode)) == 0)
                state->items.apply(kind, relative_, device, inode);
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
    for (int attempt = 0; attempt < 100 && s.fd < 0; ++attempt) {
        s.path = (s.folder == "/" ? std::string() : s.folder) + "/" + NewTemporaryItemName(kLedgerSuffix);
        s.fd = ::open(s.path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (s.fd < 0 && errno != EEXIST)
            break;
    }
    // (Another run's clean-up may hold the new file a moment: it finds no
    // ledger in it and lets go.)
    struct stat st;
    if (s.fd < 0 || ::flock(s.fd, LOCK_EX) != 0 || ::fstat(s.fd, &st) != 0) {
        s.error = s.fd < 0 && errno == EEXIST ? OSErr(dupFNErr) : MacErrorFromLastErrno();
    } else {
        s.start = SInt64(std::time(nullptr));
        std::string header;
        AppendField(&header, kMagic);
        AppendField(&header, std::to_string(UInt64(st.st_dev)));
        AppendField(&header, std::to_string(UInt64(st.st_ino)));
        AppendField(&header, std::to_string(s.start));
        if (const int e = s.write(header))
            s.error = MacErrorFromErrno(e);
        s.header = s.length;
        if (!EarliestItem(s.fd, st, s.start, &s.bound))
            s.bound = ItemBirth{s.start - kClockSlackSeconds, 0, false};
    }
    if (s.error != noErr) {
        if (s.fd >= 0) {
            ::unlink(s.path.c_str());
            ::close(s.fd);
        }
        s.fd = -1;
        s.path.clear();
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
    RemoveItems(-1, s.folder, s.items.all(), s.bound, false);
    ::unlink(s.path.c_str());
    ::close(s.fd);
}

OSErr TemporaryLedger::error() const
{
    return state_->error;
}

void TemporaryLedger::settle()
{
    State& s = *state_;
    if (s.fd < 0)
        return;
    std::lock_guard<std::mutex> lock(Ledgers().mutex);
    if (s.items.all().empty())
        return;
    RemoveItems(-1, s.folder, s.items.all(), s.bound, false);
    s.items = Items();
    // The entries of what is gone, once they are many.
    if (s.length - s.header > kSettledEntriesKept && ::ftruncate(s.fd, s.header) == 0)
        s.length = s.header;
}

int TemporaryLedger::RemoveLeftovers(const std::string& folder, std::vector<std::string>* untrusted)
{
    std::vector<std::string> names;
    if (ListFolderNames(folder, &names) != noErr)
        return 0;
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return 0;
    int removed = 0;
    for (const std::string& name : names) {
        if (!IsLedgerName(name))
            continue;
        const std::string path = (folder == "/" ? std::string() : folder) + "/" + name;
        const int fd = ::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            // Gone meanwhile; anything else (a link, a file the user may not
            // read) is no ledger of the user's.
            if (errno != ENOENT && untrusted)
                untrusted->push_back(path);
            continue;
        }
        RunHook(path);
        // Locked: a running batch's.  Then the name must still hold the
        // file locked (a finished run removes its ledger before it lets go
        // of it).
        struct stat st, at;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &st) != 0 ||
            ::fstatat(folderFd, name.c_str(), &at, AT_SYMLINK_NOFOLLOW) != 0 || !SameItem(st, at) ||
            (IsOwnRecordFile(st) && st.st_size == 0)) {  // (an empty one: a ledger being begun)
            ::close(fd);
            continue;
        }
        // A ledger proves something only when it is the user's own, that
        // nobody else may write, and one of ours: it names itself and its
        // start agrees with its age.
        std::string text;
        Ledger ledger;
        ItemBirth bound;
        if (!IsOwnRecordFile(st) || !ReadAll(fd, std::size_t(st.st_size), &text) || !ParseLedger(text, &ledger) ||
            ledger.device != UInt64(st.st_dev) || ledger.inode != UInt64(st.st_ino) ||
            !EarliestItem(fd, st, ledger.start, &bound)) {
            if (untrusted)
                untrusted->push_back(path);
            ::close(fd);
            continue;
        }
        RemoveItems(folderFd, AbsolutePath(folder), ledger.items.all(), bound, true, untrusted);
        if (::fstatat(folderFd, name.c_str(), &at, AT_SYMLINK_NOFOLLOW) == 0 && SameItem(st, at))
            ::unlinkat(folderFd, name.c_str(), 0);
        ::close(fd);
        ++removed;
    }
    ::close(folderFd);
    return removed;
}

int TemporaryLedger::CreateFile(const std::string& path, int flags, mode_t mode, struct stat* made)
{
    Noting note(path, false);
    if (note.error()) {
        errno = note.error();
        return -1;
    }
    const int fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, mode);
    const int e = errno;
    struct stat st {};
    if (fd < 0)
        note.withdraw();
    else if ((made || note.active()) && ::fstat(fd, &st) == 0)
        note.made(st);
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
    if (result == 0 && ::lstat(path.c_str(), &st) == 0)
        note.made(st);
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
