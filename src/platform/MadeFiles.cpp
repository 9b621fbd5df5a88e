#include "MadeFiles.h"

#include "FileOperations.h"
#include "MacErrorMapping.h"
#include "TemporaryLedger.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// A made file held by its descriptor; once its last name is gone (and its
// descriptor closed), only what it was: its name, asked, holds something
// else.
struct Held {
    int fd = -1;  // -1: gone, or removed
    dev_t device = 0;
    ino_t inode = 0;
    bool removed = false;  // by this process: nothing at the name is ours
};

struct Registry {
    std::mutex mutex;
    std::unordered_map<std::string, Held> files;
    std::atomic<std::size_t> count{0};
    MadeFiles::MadeHook hook;
    std::mutex hookMutex;
};

Registry& Files()
{
    static Registry registry;
    return registry;
}

// Every made file is held open until it is published: a batch whose
// region files wait for their folder holds as many.  The soft limit of
// open descriptors goes up to what the system allows, once.
void RaiseDescriptorLimit()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct rlimit limit;
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
            return;
        const rlim_t wanted = limit.rlim_max == RLIM_INFINITY ? rlim_t(65536) : std::min<rlim_t>(limit.rlim_max, 65536);
        if (wanted > limit.rlim_cur) {
            limit.rlim_cur = wanted;
            ::setrlimit(RLIMIT_NOFILE, &limit);
        }
    });
}

// `path` itself, or a path below the folder `folder`.
bool AtOrBelow(const std::string& path, const std::string& folder)
{
    return path.size() >= folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           (path.size() == folder.size() || path[folder.size()] == '/' || folder == "/");
}

// The name `path` holds the regular file of `device` and `inode` (no link).
bool NameHolds(const std::string& path, dev_t device, ino_t inode)
{
    struct stat at;
    return ::lstat(path.c_str(), &at) == 0 && S_ISREG(at.st_mode) && at.st_dev == device && at.st_ino == inode;
}

// Closes what the caller took out of the registry, outside its lock.
void CloseAll(const std::vector<int>& fds)
{
    for (const int fd : fds)
        ::close(fd);
}

} // namespace

int MadeFiles::Create(const std::string& path, int flags, mode_t mode, struct stat* made)
{
    struct stat st {};
    const int fd = TemporaryLedger::CreateFile(path, flags | O_NOFOLLOW | O_CLOEXEC, mode, &st);
    if (fd < 0)
        return -1;
    if ((st.st_nlink == 0 && ::fstat(fd, &st) != 0) || !Add(path, fd, st)) {
        const int e = errno;
        ::unlink(path.c_str());
        ::close(fd);
        errno = e;
        return -1;
    }
    if (made)
        *made = st;
    return fd;
}

bool MadeFiles::Add(const std::string& path, int fd, const struct stat& st)
{
    RaiseDescriptorLimit();
    const int held = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (held < 0)
        return false;
    // The lock says "in use" for as long as the file is held.
    ::flock(held, LOCK_EX | LOCK_NB);
    const std::string absolute = AbsolutePath(path);
    Registry& r = Files();
    int replaced = -1;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        auto [at, added] = r.files.try_emplace(absolute, Held{held, st.st_dev, st.st_ino});
        if (!added) {
            replaced = at->second.fd;  // (-1 when gone)
            at->second = Held{held, st.st_dev, st.st_ino};
        }
        r.count.store(r.files.size(), std::memory_order_release);
    }
    if (replaced >= 0)
        ::close(replaced);
    MadeHook hook;
    {
        std::lock_guard<std::mutex> lock(r.hookMutex);
        hook = r.hook;
    }
    if (hook)
        hook(absolute);
    return true;
}

int MadeFiles::Duplicate(const std::string& path, struct stat* st)
{
    Registry& r = Files();
    if (r.count.load(std::memory_order_acquire) == 0) {
        errno = ENOENT;
        return -1;
    }
    const std::string absolute = AbsolutePath(path);
    std::lock_guard<std::mutex> lock(r.mutex);
    const auto found = r.files.find(absolute);
    if (found == r.files.end() || found->second.fd < 0) {
        errno = found == r.files.end() ? ENOENT : ESTALE;
        return -1;
    }
    const int fd = ::fcntl(found->second.fd, F_DUPFD_CLOEXEC, 0);
    if (fd >= 0 && st && ::fstat(fd, st) != 0) {
        const int e = errno;
        ::close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

bool MadeFiles::Contains(const std::string& path)
{
    Registry& r = Files();
    if (r.count.load(std::memory_order_acquire) == 0)
        return false;
    const std::string absolute = AbsolutePath(path);
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.files.count(absolute) != 0;
}

MadeFiles::Name MadeFiles::Check(const std::string& path)
{
    Registry& r = Files();
    if (r.count.load(std::memory_order_acquire) == 0)
        return Name::NotMade;
    const std::string absolute = AbsolutePath(path);
    Held held;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        const auto found = r.files.find(absolute);
        if (found == r.files.end())
            return Name::NotMade;
        held = found->second;
    }
    if (held.removed)
        return Name::Removed;
    return held.fd >= 0 && NameHolds(absolute, held.device, held.inode) ? Name::Holds : Name::Replaced;
}

OSErr MadeFiles::Link(const std::string& from, const std::string& to, bool* moved)
{
    *moved = false;
    Registry& r = Files();
    const std::string absolute = AbsolutePath(from);
    Held held;
    int e = 0;
    bool named = false;
    {
        // (Under the lock, so that the descriptor stays open meanwhile.)
        std::lock_guard<std::mutex> lock(r.mutex);
        const auto found = r.files.find(absolute);
        if (found == r.files.end())
            return paramErr;
        held = found->second;
        if (held.fd < 0)
            return kFileReplacedErr;
        // The file behind the descriptor, whatever its name holds now: a
        // file whose last name another program took has none, and is not
        // linked (ENOENT).
        const std::string descriptor = DescriptorPath(held.fd);
        named = !descriptor.empty();
        if (named && ::linkat(AT_FDCWD, descriptor.c_str(), AT_FDCWD, to.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return noErr;
        e = named ? errno : ENOENT;
        struct stat now;
        if (e == ENOENT && ::fstat(held.fd, &now) == 0 && now.st_nlink == 0)
            return kFileReplacedErr;
    }
    if (e == EEXIST)
        return dupFNErr;
    if (named && e != EPERM && e != ENOTSUP && e != EMLINK && e != ENOENT)
        return MacErrorFromErrno(e);
    // No links here: moved by its name, which held it a moment ago.
    if (!NameHolds(from, held.device, held.inode))
        return kFileReplacedErr;
    const int moveErr = MovePathNoReplace(from, to);
    *moved = moveErr == 0;
    return moveErr == EEXIST ? OSErr(dupFNErr) : MacErrorFromErrno(moveErr);
}

bool MadeFiles::Identity(const std::string& path, dev_t* device, ino_t* inode)
{
    Registry& r = Files();
    if (r.count.load(std::memory_order_acquire) == 0)
        return false;
    const std::string absolute = AbsolutePath(path);
    std::lock_guard<std::mutex> lock(r.mutex);
    const auto found = r.files.find(absolute);
    if (found == r.files.end() || found->second.fd < 0)
        return false;
    *device = found->second.device;
    *inode = found->second.inode;
    return true;
}

bool MadeFiles::RemoveName(const std::string& path, dev_t device, ino_t inode)
{
    return NameHolds(path, device, inode) && ::unlink(path.c_str()) == 0;
}

OSErr MadeFiles::Move(const std::string& from, const std::string& to)
{
    dev_t device = 0;
    ino_t inode = 0;
    if (!Identity(from, &device, &inode))
        return Contains(from) ? kFileReplacedErr : paramErr;
    bool moved = false;
    if (const OSErr err = Link(from, to, &moved))
        return err;
    if (!moved)
        RemoveName(from, device, inode);
    Moved(from, to);
    return noErr;
}

void MadeFiles::Moved(const std::string& from, const std::string& to)
{
    Registry& r = Files();
    if (r.count.load(std::memory_order_acquire) == 0)
        return;
    const std::string source = AbsolutePath(from);
    const std::string target = AbsolutePath(to);
    std::vector<int> closed;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        std::vector<std::pair<std::string, Held>> moving;
        for (auto it = r.files.begin(); it != r.files.end();) {
            if (AtOrBelow(it->first, source)) {
                moving.emplace_back(target + it->first.substr(source.size()), it->second);
                it = r.files.erase(it);
            } else {
                ++it;
            }
        }
        for (auto& [path, held] : moving) {
            auto [at, added] = r.files.try_emplace(path, held);
            if (!added) {
                if (at->second.fd >= 0)
                    closed.push_back(at->second.fd);
                at->second = held;
            }
        }
        r.count.store(r.files.size(), std::memory_order_release);
    }
    CloseAll(closed);
}

namespace {

// Closes the descriptors of the files held at or below `path`, and either
// keeps them as removed or forgets them.
void LetGo(const std::string& path, bool keepAsRemoved)
{
    Registry& r = Files();
    if (r.count.load(std::memory_order_acquire) == 0)
        return;
    const std::string absolute = AbsolutePath(path);
    std::vector<int> closed;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        for (auto it = r.files.begin(); it != r.files.end();) {
            if (!AtOrBelow(it->first, absolute)) {
                ++it;
                continue;
            }
            if (it->second.fd >= 0)
                closed.push_back(it->second.fd);
            if (keepAsRemoved) {
                it->second.fd = -1;
                it->second.removed = true;
                ++it;
            } else {
                it = r.files.erase(it);
            }
        }
        r.count.store(r.files.size(), std::memory_order_release);
    }
    CloseAll(closed);
}

} // namespace

void MadeFiles::Forget(const std::string& path)
{
    LetGo(path, false);
}

void MadeFiles::Removed(const std::string& path)
{
    LetGo(path, true);
}

void MadeFiles::Prune()
{
    Registry& r = Files();
    if (r.count.load(std::memory_order_acquire) == 0)
        return;
    std::vector<int> closed;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        for (auto it = r.files.begin(); it != r.files.end();) {
            Held& held = it->second;
            struct stat st;
            if (held.removed) {
                it = r.files.erase(it);
                continue;
            }
            if (held.fd >= 0 && ::fstat(held.fd, &st) == 0 && st.st_nlink == 0) {
                closed.push_back(held.fd);
                held.fd = -1;
            }
            ++it;
        }
        r.count.store(r.files.size(), std::memory_order_release);
    }
    CloseAll(closed);
}

void MadeFiles::SetMadeHook(MadeHook hook)
{
    Registry& r = Files();
    std::lock_guard<std::mutex> lock(r.hookMutex);
    r.hook = std::move(hook);
}
