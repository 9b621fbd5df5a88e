#include "ProvenItems.h"

#include "FileOperations.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
