#include "EmptyFolder.h"

#include "MacErrorMapping.h"

#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Deepest subfolder removed (each level holds a descriptor open).
constexpr int kMaxDepth = 256;

struct Removal {
    std::vector<std::string>* failed;
    OSErr first = noErr;

    void fail(const std::string& path, OSErr err)
    {
        if (first == noErr)
            first = err ? err : ioErr;
        if (failed)
            failed->push_back(path);
    }
};

std::vector<std::string> ListNames(int folderFd)
{
    std::vector<std::string> names;
    const int copy = ::dup(folderFd);
    if (copy < 0)
        return names;
    DIR* dir = ::fdopendir(copy);
    if (!dir) {
        ::close(copy);
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

bool RemoveEntry(int folderFd, const std::string& name, const std::string& path, int depth, Removal& removal);

// Removes what the open folder holds; true when all of it went.
bool RemoveContents(int folderFd, const std::string& path, int depth, Removal& removal)
{
    bool all = true;
    for (const std::string& name : ListNames(folderFd))
        all = RemoveEntry(folderFd, name, path + "/" + name, depth, removal) && all;
    return all;
}

bool RemoveEntry(int folderFd, const std::string& name, const std::string& path, int depth, Removal& removal)
{
    struct stat st;
    if (::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return true;  // gone already
        removal.fail(path, MacErrorFromLastErrno());
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        // Files, links (the link itself), sockets, FIFOs.
        if (::unlinkat(folderFd, name.c_str(), 0) != 0 && errno != ENOENT) {
            removal.fail(path, MacErrorFromLastErrno());
            return false;
        }
        return true;
    }
    if (depth >= kMaxDepth) {
        removal.fail(path, fBsyErr);
        return false;
    }
    // O_NOFOLLOW: a link put in the folder's place since the look is not
    // entered.
    const int sub = ::openat(folderFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (sub < 0) {
        removal.fail(path, MacErrorFromLastErrno());
        return false;
    }
    const bool emptied = RemoveContents(sub, path, depth + 1, removal);
    ::close(sub);
    if (!emptied)
        return false;
    if (::unlinkat(folderFd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
        removal.fail(path, MacErrorFromLastErrno());
        return false;
    }
    return true;
}

} // namespace

OSErr EmptyFolder(const std::string& folder, std::vector<std::string>* failed)
{
    // The folder itself may be reached through a link (the user chose it);
    // nothing inside it is.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOTDIR ? dirNFErr : MacErrorFromLastErrno();
    const OSErr err = EmptyOpenFolder(fd, folder, failed);
    ::close(fd);
    return err;
}

OSErr EmptyOpenFolder(int folderFd, const std::string& path, std::vector<std::string>* failed)
{
    Removal removal{failed};
    RemoveContents(folderFd, path, 0, removal);
    return removal.first;
}
