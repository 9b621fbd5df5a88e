#include "FileOperations.h"

#include "AppleDoubleFile.h"
#include "EmptyFolder.h"
#include "FolderListing.h"
#include "MacErrorMapping.h"
#include "MadeFiles.h"
#include "PathMemo.h"
#include "TemporaryFiles.h"
#include "TemporaryLedger.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace {

void FillStatus(const struct stat& st, PathStatus* status)
{
    if (!status)
        return;
    status->isFolder = S_ISDIR(st.st_mode);
    status->isFile = S_ISREG(st.st_mode);
    status->isSymlink = S_ISLNK(st.st_mode);
    status->size = st.st_size > 0 ? UInt64(st.st_size) : 0;
    status->device = UInt64(st.st_dev);
    status->inode = UInt64(st.st_ino);
    status->mode = UInt32(st.st_mode);
    status->modTime = SInt64(st.st_mtim.tv_sec);
    status->birthTime.reset();
}

void FillStatus(const struct statx& stx, PathStatus* status)
{
    if (!status)
        return;
    const mode_t mode = mode_t(stx.stx_mode);
    status->isFolder = S_ISDIR(mode);
    status->isFile = S_ISREG(mode);
    status->isSymlink = S_ISLNK(mode);
    status->size = UInt64(stx.stx_size);
    // The same number stat gives as st_dev.
    status->device = UInt64(makedev(stx.stx_dev_major, stx.stx_dev_minor));
    status->inode = UInt64(stx.stx_ino);
    status->mode = UInt32(mode);
    status->modTime = SInt64(stx.stx_mtime.tv_sec);
    if ((stx.stx_mask & STATX_BTIME) && stx.stx_btime.tv_nsec < 1000000000u)
        status->birthTime = ItemBirthTime{SInt64(stx.stx_btime.tv_sec), UInt32(stx.stx_btime.tv_nsec)};
    else
        status->birthTime.reset();
}

// The stat record of the same item (every field of STATX_BASIC_STATS).
void StatFromStatx(const struct statx& stx, struct stat* st)
{
    *st = {};
    st->st_dev = makedev(stx.stx_dev_major, stx.stx_dev_minor);
    st->st_ino = ino_t(stx.stx_ino);
    st->st_mode = mode_t(stx.stx_mode);
    st->st_nlink = nlink_t(stx.stx_nlink);
    st->st_uid = uid_t(stx.stx_uid);
    st->st_gid = gid_t(stx.stx_gid);
    st->st_rdev = makedev(stx.stx_rdev_major, stx.stx_rdev_minor);
    st->st_size = off_t(stx.stx_size);
    st->st_blksize = blksize_t(stx.stx_blksize);
    st->st_blocks = blkcnt_t(stx.stx_blocks);
    st->st_atim = {time_t(stx.stx_atime.tv_sec), long(stx.stx_atime.tv_nsec)};
    st->st_mtim = {time_t(stx.stx_mtime.tv_sec), long(stx.stx_mtime.tv_nsec)};
    st->st_ctim = {time_t(stx.stx_ctime.tv_sec), long(stx.stx_ctime.tv_nsec)};
}

std::string NameOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Exists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// The kernel's no-replace rename; ENOSYS/EINVAL-like results mean the file
// system (or kernel) cannot do it.
int RenameNoReplaceSyscall(const char* from, const char* to)
{
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

bool NoReplaceUnsupported(int e)
{
    return e == EINVAL || e == ENOSYS || e == ENOTSUP;
}

} // namespace

int MovePathNoReplace(const std::string& from, const std::string& to)
{
    if (RenameNoReplaceSyscall(from.c_str(), to.c_str()) == 0)
        return 0;
    const int e = errno;
    if (!NoReplaceUnsupported(e))
        return e;
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode)) {
        // link fails when the target exists, so nothing is replaced.
        if (::link(from.c_str(), to.c_str()) == 0) {
            if (::unlink(from.c_str()) == 0)
                return 0;
            const int unlinkErr = errno;
            ::unlink(to.c_str());
            return unlinkErr;
        }
        const int linkErr = errno;
        if (linkErr == EEXIST)
            return EEXIST;
        if (linkErr != EPERM && linkErr != ENOTSUP && linkErr != EMLINK)
            return linkErr;
        // No hard links here (e.g. FAT): fall through to check-then-rename.
    }
    if (Exists(to))
        return EEXIST;
    if (::rename(from.c_str(), to.c_str()) != 0)
        return errno;
    return 0;
}

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

namespace {

// Copies all of `in` to `out`; errno value, 0 on success.
int CopyDescriptor(int in, int out)
{
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return 0;
        if (!WriteAll(out, buffer.data(), size_t(n)))
            return errno;
    }
}

// Removes a stale sidecar at `toSide`: noErr, or the failure.
OSErr RemoveStaleSidecar(const std::string& toSide)
{
    if (PathMemo::SidecarMayExist(toSide) && ::unlink(toSide.c_str()) != 0 && errno != ENOENT &&
        errno != ENAMETOOLONG)
        return MacErrorFromLastErrno();
    MadeFiles::Removed(toSide);
    PathMemo::SidecarChanged(toSide, false);
    return noErr;
}

// Makes `to`'s sidecar what `from`'s was (moved): a stale sidecar of `to`
// is discarded.  A sidecar this process made moves only while its name
// holds it.
OSErr MoveSidecar(const std::string& from, const std::string& to)
{
    const std::string fromSide = AppleDoubleFile::SidecarPathFor(from);
    const std::string toSide = AppleDoubleFile::SidecarPathFor(to);
    struct stat st;
    if (MadeFiles::Contains(fromSide)) {
        if (MadeFiles::Check(fromSide) != MadeFiles::Name::Holds)
            return kFileReplacedErr;
        if (const OSErr err = RemoveStaleSidecar(toSide))
            return err;
        if (const OSErr err = MadeFiles::Move(fromSide, toSide))
            return err;
    } else if (PathMemo::SidecarMayExist(fromSide) && ::lstat(fromSide.c_str(), &st) == 0) {
        if (::rename(fromSide.c_str(), toSide.c_str()) != 0)
            return MacErrorFromLastErrno();
        MadeFiles::Forget(toSide);
    } else {
        return RemoveStaleSidecar(toSide);
    }
    PathMemo::SidecarChanged(fromSide, false);
    PathMemo::SidecarChanged(toSide, true);
    return noErr;
}

// Moves the item at `from` to `to` without replacing: a made file by its
// descriptor (MadeFiles::Move), anything else by its name.
OSErr MoveItem(const std::string& from, const std::string& to)
{
    if (MadeFiles::Contains(from))
        return MadeFiles::Move(from, to);
    if (const int e = MovePathNoReplace(from, to))
        return MacErrorFromErrno(e);
    // What was held below a folder moves with it.
    MadeFiles::Moved(from, to);
    return noErr;
}

} // namespace

int StatPathAt(int folderFd, const std::string& name, bool followLinks, PathStatus* status)
{
    const bool memo = folderFd == AT_FDCWD && PathMemo::Current();
    if (memo) {
        if (const PathStatus* known = PathMemo::KnownStatus(name, followLinks)) {
            if (status)
                *status = *known;
            return 0;
        }
        // Whether it exists, of a file this thread made.
        if (!status && PathMemo::KnownToExist(name))
            return 0;
    }
    struct statx stx;
    // A pinned path is asked without following links first: when it is no
    // link, that one answer serves both askings.
    if (memo && followLinks && PathMemo::IsPinned(name) && !PathMemo::KnownStatus(name, false)) {
        if (::statx(folderFd, name.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &stx) == 0) {
            PathStatus filled;
            FillStatus(stx, &filled);
            struct stat st;
            StatFromStatx(stx, &st);
            PathMemo::RememberStatus(name, false, filled, &st);
            if (!filled.isSymlink) {
                PathMemo::RememberStatus(name, true, filled, &st);
                if (status)
                    *status = filled;
                return 0;
            }
        } else if (errno == ENOENT || errno == ENOTDIR) {
            return errno;  // nothing there, link or not
        }
    }
    const int flags = followLinks ? 0 : AT_SYMLINK_NOFOLLOW;
    if (::statx(folderFd, name.c_str(), flags, STATX_BASIC_STATS | STATX_BTIME, &stx) == 0) {
        if (memo) {
            PathStatus filled;
            FillStatus(stx, &filled);
            struct stat st;
            StatFromStatx(stx, &st);
            PathMemo::RememberStatus(name, followLinks, filled, &st);
        }
        FillStatus(stx, status);
        return 0;
    }
    if (errno != ENOSYS)
        return errno;
    // A kernel without statx: no birth time.
    struct stat st;
    if (::fstatat(folderFd, name.c_str(), &st, flags) != 0)
        return errno;
    FillStatus(st, status);
    return 0;
}

int StatPath(const std::string& path, PathStatus* status)
{
    return StatPathAt(AT_FDCWD, path, true, status);
}

int StatPathNoFollow(const std::string& path, PathStatus* status)
{
    return StatPathAt(AT_FDCWD, path, false, status);
}

int ReadLinkTarget(const std::string& path, std::string* target)
{
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (length < 0)
            return errno;
        if (size_t(length) < buffer.size()) {
            target->assign(buffer.data(), size_t(length));
            return 0;
        }
        if (buffer.size() >= 65536)
            return ENAMETOOLONG;
        buffer.resize(buffer.size() * 4);
    }
}

bool PathExists(const std::string& path)
{
    return StatPath(path, nullptr) == 0;
}

bool IsFolder(const std::string& path)
{
    PathStatus status;
    return StatPath(path, &status) == 0 && status.isFolder;
}

OSErr CreateFileExclusive(const std::string& path)
{
    const int fd = MadeFiles::Create(path, O_RDWR, 0666);
    if (fd < 0)
        return MacErrorFromLastErrno();
    ::close(fd);
    return noErr;
}

OSErr OpenFileDescriptor(const std::string& path, bool writing, int* fd)
{
    if (!fd)
        return paramErr;
    *fd = -1;
    struct stat st;
    int opened = MadeFiles::Duplicate(path, &st);
    if (opened < 0 && errno == ESTALE)
        return kFileReplacedErr;  // gone: its name is not opened instead
    if (opened >= 0) {
        ::lseek(opened, 0, SEEK_SET);
    } else {
        // (Non-blocking, so that a FIFO put at the name is never waited for.)
        opened = ::open(path.c_str(), (writing ? O_RDWR | O_NOFOLLOW : O_RDONLY) | O_CLOEXEC | O_NONBLOCK);
        if (opened < 0)
            return errno == ELOOP && writing ? OSErr(permErr) : MacErrorFromLastErrno();
        if (::fstat(opened, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(opened);
            return notAFileErr;
        }
        ::fcntl(opened, F_SETFL, ::fcntl(opened, F_GETFL) & ~O_NONBLOCK);
    }
    *fd = opened;
    return noErr;
}

bool OpenFileDevice(QFile* file, const std::string& path, bool writing)
{
    int fd = -1;
    if (!file || OpenFileDescriptor(path, writing, &fd) != noErr)
        return false;
    if (!file->open(fd, writing ? QIODevice::ReadWrite : QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

std::FILE* OpenFileStream(const std::string& path, const char* mode)
{
    const std::string m = mode ? mode : "";
    const bool emptied = !m.empty() && m[0] == 'w';
    const bool writing = emptied || m.find('+') != std::string::npos || (!m.empty() && m[0] == 'a');
    int fd = -1;
    if (const OSErr err = OpenFileDescriptor(path, writing, &fd)) {
        errno = err == fnfErr ? ENOENT : err == notAFileErr ? EISDIR : EACCES;
        return nullptr;
    }
    if (emptied && ::ftruncate(fd, 0) != 0) {
        const int e = errno;
        ::close(fd);
        errno = e;
        return nullptr;
    }
    std::FILE* stream = ::fdopen(fd, mode);
    if (!stream)
        ::close(fd);
    return stream;
}

OSErr CheckMadeFile(const std::string& path)
{
    return MadeFiles::Check(path) == MadeFiles::Name::Replaced ? kFileReplacedErr : noErr;
}

MadeFileState MadeFileStateOf(const std::string& path)
{
    switch (MadeFiles::Check(path)) {
    case MadeFiles::Name::Holds:
        return MadeFileState::Held;
    case MadeFiles::Name::Replaced:
        return MadeFileState::Replaced;
    case MadeFiles::Name::Removed:
        return MadeFileState::Removed;
    case MadeFiles::Name::NotMade:
        break;
    }
    return MadeFileState::NotMade;
}

void LetGoOfMadeFile(const std::string& path)
{
    MadeFiles::Forget(path);
}

namespace {

// noErr when `folder` is a folder; dirNFErr when it is missing or not one.
OSErr CheckFolder(const std::string& folder)
{
    PathStatus status;
    const int e = StatPath(folder, &status);
    if (e == ENOENT || (e == 0 && !status.isFolder))
        return dirNFErr;
    return e != 0 ? MacErrorFromErrno(e) : noErr;
}

} // namespace

OSErr CreateUniqueFile(const std::string& folder, const std::string& prefix, const std::string& suffix,
                       std::string* path)
{
    if (!path)
        return paramErr;
    if (const OSErr err = CheckFolder(folder); err != noErr)
        return err;
    const std::string base = folder == "/" ? std::string() : folder;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string name = prefix + RandomLetters(6) + suffix;
        TemporaryLedger::NameDrawn(name);
        const std::string candidate = base + "/" + name;
        const int fd = MadeFiles::Create(candidate, O_RDWR, 0666);
        if (fd >= 0) {
            ::close(fd);
            *path = candidate;
            return noErr;
        }
        if (errno != EEXIST)
            return MacErrorFromLastErrno();
    }
    return dupFNErr;
}

OSErr PickUnusedName(const std::string& folder, const std::string& prefix, const std::string& suffix,
                     std::string* name)
{
    if (!name)
        return paramErr;
    if (const OSErr err = CheckFolder(folder); err != noErr)
        return err;
    const std::string base = folder == "/" ? std::string() : folder;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string candidate = prefix + RandomLetters(6) + suffix;
        TemporaryLedger::NameDrawn(candidate);
        struct stat st;
        if (::lstat((base + "/" + candidate).c_str(), &st) == 0)
            continue;
        if (errno != ENOENT)
            return MacErrorFromLastErrno();
        *name = candidate;
        return noErr;
    }
    return dupFNErr;
}

OSErr PickRandomName(const std::string& folder, const std::string& prefix, const std::string& suffix,
                     std::string* name)
{
    if (!name)
        return paramErr;
    if (const OSErr err = CheckFolder(folder); err != noErr)
        return err;
    *name = prefix + RandomLetters(6) + suffix;
    TemporaryLedger::NameDrawn(*name);
    return noErr;
}

OSErr CreateFolder(const std::string& path)
{
    if (TemporaryLedger::CreateFolder(path, 0777) != 0)
        return MacErrorFromLastErrno();
    return noErr;
}

OSErr CreateFolderPath(const std::string& path)
{
    if (path.empty())
        return paramErr;
    const std::string absolute = AbsolutePath(path);
    size_t pos = 1;
    for (;;) {
        const size_t slash = absolute.find('/', pos);
        const std::string part = absolute.substr(0, slash);
        if (TemporaryLedger::CreateFolder(part, 0777) != 0) {
            const int e = errno;
            if (e != EEXIST)
                return MacErrorFromErrno(e);
            if (!IsFolder(part))
                return dupFNErr;
        }
        if (slash == std::string::npos)
            return noErr;
        pos = slash + 1;
    }
}

OSErr RenameNoReplace(const std::string& from, const std::string& to)
{
    PathMemo::Forget(from);
    PathMemo::Forget(to);
    if (from.empty() || to.empty())
        return paramErr;
    if (AppleDoubleFile::IsSidecarName(NameOf(to)))
        return bdNamErr;  // would pose as another file's sidecar
    // (A missing `from` fails the move with fnfErr.)
    if (const OSErr err = MoveItem(from, to))
        return err;
    if (const OSErr err = MoveSidecar(from, to)) {
        // Keep the pair together: move the file back and report the failure.
        MoveItem(to, from);
        return err;
    }
    return noErr;
}

OSErr CopyFileNoReplace(const std::string& from, const std::string& to)
{
    if (AppleDoubleFile::IsSidecarName(NameOf(to)))
        return bdNamErr;
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return MacErrorFromLastErrno();
    struct stat st;
    if (::fstat(in, &st) != 0) {
        const OSErr err = MacErrorFromLastErrno();
        ::close(in);
        return err;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(in);
        return notAFileErr;
    }
    const int out = TemporaryLedger::CreateFile(to, O_WRONLY | O_CLOEXEC, st.st_mode & 0666);
    if (out < 0) {
        const OSErr err = MacErrorFromLastErrno();
        ::close(in);
        return err;
    }
    int e = CopyDescriptor(in, out);
    ::close(in);
    if (::close(out) != 0 && e == 0)
        e = errno;
    OSErr err = MacErrorFromErrno(e);
    if (err == noErr) {
        // The sidecar goes along (a bare resource fork becomes AppleDouble);
        // a stale sidecar at the target is replaced or removed.
        AppleDoubleFile source(from);
        err = source.Read();
        if (err == noErr) {
            AppleDoubleFile target(to);
            target.Parse(source.Serialize());
            err = target.Write();
        }
    }
    if (err != noErr) {
        ::unlink(to.c_str());
        AppleDoubleFile(to).Remove();
    }
    return err;
}

OSErr DeletePath(const std::string& path)
{
    PathMemo::Forget(path);
    // A file of ours goes only while its name holds it; what another
    // program put there is left alone (its sidecar, ours, still goes).
    if (MadeFiles::Contains(path)) {
        const MadeFiles::Name name = MadeFiles::Check(path);
        MadeFiles::Removed(path);
        if (name == MadeFiles::Name::Removed)
            return fnfErr;  // gone already: what is there is not ours
        if (name == MadeFiles::Name::Replaced) {
            AppleDoubleFile(path).Remove();
            return kFileReplacedErr;
        }
    }
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return MacErrorFromLastErrno();
    if (S_ISDIR(st.st_mode)) {
        if (::rmdir(path.c_str()) != 0) {
            const int e = errno;
            return (e == ENOTEMPTY || e == EEXIST || e == EBUSY) ? fBsyErr : MacErrorFromErrno(e);
        }
    } else if (::unlink(path.c_str()) != 0) {
        return MacErrorFromLastErrno();
    }
    // The item is gone; its sidecar goes too.
    return AppleDoubleFile(path).Remove();
}

OSErr CheckRoomToWrite(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int e = errno;
        if (e != EOPNOTSUPP && e != EISDIR && e != EINVAL)
            return MacErrorFromErrno(e);
        // No unnamed files here: what the file system says it has left.
        struct statvfs vfs;
        if (::statvfs(folder.c_str(), &vfs) != 0)
            return MacErrorFromLastErrno();
        return vfs.f_bavail == 0 ? OSErr(dskFulErr) : OSErr(noErr);
    }
    const std::vector<char> block(4096, '\0');
    int e = WriteAll(fd, block.data(), block.size()) ? 0 : errno;
    if (::close(fd) != 0 && e == 0)
        e = errno;
    return MacErrorFromErrno(e);
}

std::string TemporaryFolderPath()
{
    const char* tmpdir = std::getenv("TMPDIR");
    if (tmpdir && *tmpdir && IsFolder(tmpdir)) {
        std::string path = AbsolutePath(tmpdir);
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        return path;
    }
    return "/tmp";
}

namespace {

// An absolute path with no empty, "." or ".." part and no trailing '/'
// (the usual case) is its own clean form.
bool IsCleanAbsolute(const std::string& path)
{
    return path == "/" || (!path.empty() && path[0] == '/' && StaysInside(std::string_view(path).substr(1)));
}

} // namespace

bool StaysInside(std::string_view relative)
{
    if (relative.empty() || relative.front() == '/')
        return false;
    for (std::size_t start = 0; start <= relative.size();) {
        std::size_t end = relative.find('/', start);
        if (end == std::string_view::npos)
            end = relative.size();
        const std::string_view part = relative.substr(start, end - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        start = end + 1;
    }
    return true;
}

std::string DescriptorPath(int fd)
{
    static const bool named = ::access("/proc/self/fd", X_OK) == 0;
    return named ? "/proc/self/fd/" + std::to_string(fd) : std::string();
}

std::string AbsolutePath(const std::string& path)
{
    if (IsCleanAbsolute(path))
        return path;
    std::string full;
    if (!path.empty() && path[0] == '/') {
        full = path;
    } else {
        std::string cwd;
        std::vector<char> buffer(4096);
        while (!::getcwd(buffer.data(), buffer.size())) {
            if (errno != ERANGE || buffer.size() > (1u << 20)) {
                buffer.assign(2, '\0');
                buffer[0] = '/';
                break;
            }
            buffer.resize(buffer.size() * 2);
        }
        cwd = buffer.data();
        full = cwd + "/" + path;
    }
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= full.size()) {
        size_t slash = full.find('/', pos);
        if (slash == std::string::npos)
            slash = full.size();
        const std::string part = full.substr(pos, slash - pos);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        pos = slash + 1;
    }
    std::string result;
    for (const std::string& part : parts)
        result += "/" + part;
    return result.empty() ? "/" : result;
}

bool FileLockHolder::Hold(const std::string& path)
{
    Release();
    // A file this process made holds its lock from its making on.
    if ((fd_ = MadeFiles::Duplicate(path)) >= 0)
        return true;
    if (errno == ESTALE)
        return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0)
        return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

bool FileLockHolder::HoldFolder(const std::string& path)
{
    Release();
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

bool FileLockHolder::HeldAt(const std::string& path) const
{
    struct stat held, at;
    return fd_ >= 0 && ::fstat(fd_, &held) == 0 && ::lstat(path.c_str(), &at) == 0 &&
           (at.st_mode & S_IFMT) == (held.st_mode & S_IFMT) && at.st_dev == held.st_dev && at.st_ino == held.st_ino;
}

OSErr CheckMadeFolder(const std::string& path, const FileLockHolder& held)
{
    // The folder held, still at its name, and the user's own (not one of
    // another's put in its place before it was held).
    struct stat st;
    if (!held.HeldAt(path) || ::lstat(path.c_str(), &st) != 0 || st.st_uid != ::geteuid())
        return kFileReplacedErr;
    std::vector<std::string> names;
    if (const OSErr err = ListFolderNames(path, &names))
        return err;
    for (const std::string& name : names) {
        const std::string item = path + "/" + name;
        const std::string file = AppleDoubleFile::IsSidecarName(name) ? path + "/" + name.substr(2) : item;
        // Only files of ours, each still under its name, and their sidecars.
        if (!MadeFiles::Contains(file) || MadeFiles::Check(item) != MadeFiles::Name::Holds)
            return kFileReplacedErr;
    }
    return noErr;
}

void FileLockHolder::Release()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

namespace {

// The folder open as `fd` (at `path`) removed with its contents.
OSErr DeleteOpenFolderTree(int fd, const std::string& path)
{
    PathMemo::Forget(path);
    if (EmptyOpenFolder(fd, path) != noErr)
        return fBsyErr;
    if (::rmdir(path.c_str()) != 0)
        return MacErrorFromLastErrno();
    return noErr;
}

} // namespace

OSErr DeleteFolderTree(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return errno == ENOTDIR || errno == ELOOP ? OSErr(paramErr) : MacErrorFromLastErrno();
    const OSErr err = DeleteOpenFolderTree(fd, path);
    ::close(fd);
    MadeFiles::Removed(path);
    return err;
}

