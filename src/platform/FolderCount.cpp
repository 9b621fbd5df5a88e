#include "FolderCount.h"

#include "AppleDoubleFile.h"
#include "MacErrorMapping.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The items under the open folder `fd` (closed here).  Only the listing's
// types are used (a stat only where it gives none).
int CountFolderItems(int fd)
{
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return 0;
    }
    int count = 0;
    while (const dirent* d = ::readdir(dir)) {
        const char* name = d->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 ||
            (AppleDoubleFile::IsSidecarName(name) && AppleDoubleFile::IsSidecarFileAt(::dirfd(dir), name)))
            continue;
        bool folder = d->d_type == DT_DIR;
        if (d->d_type == DT_UNKNOWN) {
            struct stat st;
            folder = ::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        if (!folder) {
            ++count;
            continue;
        }
        const int sub = ::openat(::dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub >= 0)
            count += CountFolderItems(sub);
    }
    ::closedir(dir);
    return count;
}

}  // namespace

int DeepFileCount(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return fd < 0 ? 0 : CountFolderItems(fd);
}

OSErr CheckFolderWritable(const std::string& folder)
{
    if (::access(folder.c_str(), W_OK | X_OK) == 0)
        return noErr;
    return MacErrorFromErrno(errno);
}
