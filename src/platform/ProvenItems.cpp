#include "ProvenItems.h"

#include "FileOperations.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// Up to `digits` decimal digits and nothing else.
bool ParseDigits(const std::string& text, std::size_t digits, unsigned long long* value)
{
    if (text.empty() || text.size() > digits)
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    *value = std::strtoull(text.c_str(), nullptr, 10);
    return true;
}

// "seconds.nanoseconds" (the seconds may be negative).
bool ParseTime(const std::string& text, SInt64* seconds, long* nanoseconds)
{
    const std::size_t dot = text.find('.');
    if (dot == std::string::npos)
        return false;
    const bool negative = text[0] == '-';
    unsigned long long s = 0, ns = 0;
    if (!ParseDigits(text.substr(negative ? 1 : 0, dot - (negative ? 1 : 0)), 18, &s) ||
        !ParseDigits(text.substr(dot + 1), 9, &ns))
        return false;
    *seconds = negative ? -SInt64(s) : SInt64(s);
    *nanoseconds = long(ns);
    return true;
}

std::string TimeText(SInt64 seconds, long nanoseconds)
{
    return std::to_string(seconds) + "." + std::to_string(nanoseconds);
}

bool SameTime(const statx_timestamp& a, const statx_timestamp& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

} // namespace

std::string ItemProof::text() const
{
    // Parts: "b" birth, "h" handle, "c" change time and size; ',' between.
    std::string out;
    if (born)
        out += "b" + TimeText(birthSeconds, birthNanoseconds);
    if (!handle.empty())
        out += (out.empty() ? "h" : ",h") + handle;
    if (out.empty() && changed)
        out = "c" + TimeText(changeSeconds, changeNanoseconds) + ":" + std::to_string(size);
    return out;
}

bool ItemProof::FromText(const std::string& text, ItemProof* proof)
{
    *proof = ItemProof();
    if (text.empty())
        return false;
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = text.find(',', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string part = text.substr(start, end - start);
        start = end + 1;
        if (part.size() < 2)
            return false;
        const std::string value = part.substr(1);
        switch (part[0]) {
        case 'b':
            if (proof->born || !ParseTime(value, &proof->birthSeconds, &proof->birthNanoseconds))
                return false;
            proof->born = true;
            break;
        case 'h':
            if (!proof->handle.empty() || value.size() > 300 ||
                value.find_first_not_of("0123456789abcdef:") != std::string::npos)
                return false;
            proof->handle = value;
            break;
        case 'c': {
            const std::size_t colon = value.find(':');
            unsigned long long size = 0;
            if (proof->changed || colon == std::string::npos ||
                !ParseTime(value.substr(0, colon), &proof->changeSeconds, &proof->changeNanoseconds) ||
                !ParseDigits(value.substr(colon + 1), 20, &size))
                return false;
            proof->changed = true;
            proof->size = UInt64(size);
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

bool ItemProof::matches(const ItemProof& recorded) const
{
    if (!recorded.born && recorded.handle.empty() && !recorded.changed)
        return false;
    if (recorded.born &&
        !(born && birthSeconds == recorded.birthSeconds && birthNanoseconds == recorded.birthNanoseconds))
        return false;
    if (!recorded.handle.empty() && handle != recorded.handle)
        return false;
    if (recorded.changed && !(changed && changeSeconds == recorded.changeSeconds &&
                              changeNanoseconds == recorded.changeNanoseconds && size == recorded.size))
        return false;
    return true;
}

bool ProofOf(int folderFd, const std::string& name, ItemProof* proof)
{
    *proof = ItemProof();
    struct statx sx;
    const int flags = AT_SYMLINK_NOFOLLOW | (name.empty() ? AT_EMPTY_PATH : 0);
    if (::statx(folderFd, name.c_str(), flags, STATX_BTIME | STATX_CTIME | STATX_SIZE, &sx) != 0)
        return false;
    if (sx.stx_mask & STATX_BTIME) {
        proof->born = true;
        proof->birthSeconds = SInt64(sx.stx_btime.tv_sec);
        proof->birthNanoseconds = long(sx.stx_btime.tv_nsec);
    }
    proof->changed = true;
    proof->changeSeconds = SInt64(sx.stx_ctime.tv_sec);
    proof->changeNanoseconds = long(sx.stx_ctime.tv_nsec);
    proof->size = UInt64(sx.stx_size);
    alignas(struct file_handle) unsigned char space[sizeof(struct file_handle) + MAX_HANDLE_SZ];
    auto* handle = reinterpret_cast<struct file_handle*>(space);
    handle->handle_bytes = MAX_HANDLE_SZ;
    int mount = 0;
    if (::name_to_handle_at(folderFd, name.c_str(), handle, &mount, name.empty() ? AT_EMPTY_PATH : 0) == 0 &&
        handle->handle_bytes <= MAX_HANDLE_SZ) {
        const unsigned char* bytes = space + sizeof(struct file_handle);
        char hex[3];
        proof->handle = std::to_string(handle->handle_type) + ":";
        for (unsigned i = 0; i < handle->handle_bytes; ++i) {
            std::snprintf(hex, sizeof hex, "%02x", unsigned(bytes[i]));
            proof->handle += hex;
        }
    }
    return true;
}

bool UnchangedSinceBirth(int fd)
{
    struct statx sx;
    if (::statx(fd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_CTIME, &sx) != 0)
        return false;
    if (!(sx.stx_mask & STATX_BTIME))
        return true;
    return SameTime(sx.stx_ctime, sx.stx_btime) || sx.stx_ctime.tv_sec < sx.stx_btime.tv_sec ||
           (sx.stx_ctime.tv_sec == sx.stx_btime.tv_sec && sx.stx_ctime.tv_nsec < sx.stx_btime.tv_nsec);
}

bool UnchangedSinceWritten(int fd)
{
    struct statx sx;
    if (::statx(fd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_CTIME | STATX_MTIME, &sx) != 0)
        return false;
    return sx.stx_ctime.tv_sec < sx.stx_mtime.tv_sec ||
           (sx.stx_ctime.tv_sec == sx.stx_mtime.tv_sec && sx.stx_ctime.tv_nsec <= sx.stx_mtime.tv_nsec);
}

bool IdentityOf(int folderFd, const std::string& name, UInt64* device, UInt64* inode, ItemBirth* birth)
{
    struct statx sx;
    const int flags = AT_SYMLINK_NOFOLLOW | (name.empty() ? AT_EMPTY_PATH : 0);
    if (::statx(folderFd, name.c_str(), flags, STATX_INO | (birth ? STATX_BTIME : 0), &sx) != 0 ||
        !(sx.stx_mask & STATX_INO))
        return false;
    *device = UInt64(makedev(sx.stx_dev_major, sx.stx_dev_minor));
    *inode = UInt64(sx.stx_ino);
    if (birth)
        *birth = (sx.stx_mask & STATX_BTIME) ? ItemBirth{SInt64(sx.stx_btime.tv_sec), long(sx.stx_btime.tv_nsec), true}
                                             : ItemBirth{};
    return true;
}

bool BirthOf(int folderFd, const std::string& name, ItemBirth* birth)
{
    struct statx sx;
    const int flags = AT_SYMLINK_NOFOLLOW | (name.empty() ? AT_EMPTY_PATH : 0);
    if (::statx(folderFd, name.c_str(), flags, STATX_BTIME | STATX_CTIME, &sx) != 0)
        return false;
    const statx_timestamp& t = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_ctime;
    birth->seconds = SInt64(t.tv_sec);
    birth->nanoseconds = long(t.tv_nsec);
    birth->exact = (sx.stx_mask & STATX_BTIME) != 0;
    return true;
}

bool IsOwnRecordFile(const struct stat& st)
{
    return S_ISREG(st.st_mode) && st.st_nlink == 1 && IsOwnItem(st) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool IsOwnItem(const struct stat& st)
{
    return st.st_uid == ::geteuid();
}

int OpenFolderBelow(int topFd, const std::string& relative)
{
    int fd = ::openat(topFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (relative.empty() || fd < 0)
        return fd;
    if (!StaysInside(relative)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    for (std::size_t start = 0; start < relative.size();) {
        std::size_t end = relative.find('/', start);
        if (end == std::string::npos)
            end = relative.size();
        const std::string part = relative.substr(start, end - start);
        const int next = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int e = errno;
        ::close(fd);
        if (next < 0) {
            errno = e;
            return -1;
        }
        fd = next;
        start = end + 1;
    }
    return fd;
}

FolderBelowProblem EnterFolderBelow(const std::string& top, const std::string& relative, bool make)
{
    FolderBelowProblem problem;
    std::string path = top;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    auto failed = [&](FolderBelowProblem::Kind kind, int error) {
        problem.kind = kind;
        problem.error = error;
        problem.path = path;
        return problem;
    };
    if (!relative.empty() && !StaysInside(relative))
        return failed(FolderBelowProblem::Failed, EINVAL);
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return failed(FolderBelowProblem::Failed, errno);
    for (std::size_t start = 0; start < relative.size();) {
        std::size_t end = relative.find('/', start);
        if (end == std::string::npos)
            end = relative.size();
        const std::string part = relative.substr(start, end - start);
        start = end + 1;
        path += (path == "/" ? "" : "/") + part;
        const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        int next = ::openat(fd, part.c_str(), flags);
        if (next < 0 && errno == ENOENT && make) {
            if (::mkdirat(fd, part.c_str(), 0777) != 0 && errno != EEXIST) {
                const int e = errno;
                ::close(fd);
                return failed(FolderBelowProblem::Failed, e);
            }
            next = ::openat(fd, part.c_str(), flags);
        }
        const int e = errno;
        struct stat st;
        FolderBelowProblem::Kind kind = FolderBelowProblem::None;
        if (next < 0) {
            if (::fstatat(fd, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                kind = FolderBelowProblem::Failed;
            else
                kind = S_ISLNK(st.st_mode) ? FolderBelowProblem::Link
                       : S_ISDIR(st.st_mode) ? FolderBelowProblem::Failed
                                             : FolderBelowProblem::NotFolder;
        } else if (::fstat(next, &st) != 0 || (!IsOwnItem(st) && st.st_uid != 0)) {
            kind = FolderBelowProblem::OthersFolder;
        }
        ::close(fd);
        fd = next;
        if (kind != FolderBelowProblem::None) {
            if (fd >= 0)
                ::close(fd);
            return failed(kind, kind == FolderBelowProblem::Failed ? e : 0);
        }
    }
    ::close(fd);
    return problem;
}
