#include "FolderListing.h"

#include "AppleDoubleFile.h"
#include "MacErrorMapping.h"

#include <QString>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int CompareFolded(const std::string& a, const std::string& b)
{
    return QString::fromUtf8(a.data(), qsizetype(a.size()))
        .compare(QString::fromUtf8(b.data(), qsizetype(b.size())), Qt::CaseInsensitive);
}

// Opens `folder` for listing: dirNFErr when it is not a folder, else the
// mapped errno of a failure.
OSErr OpenFolder(const std::string& folder, DIR** dir)
{
    *dir = ::opendir(folder.c_str());
    if (!*dir) {
        const int e = errno;
        return e == ENOTDIR ? dirNFErr : MacErrorFromErrno(e);
    }
    return noErr;
}

} // namespace

bool FolderNameLess(const std::string& a, const std::string& b)
{
    const int folded = CompareFolded(a, b);
    if (folded != 0)
        return folded < 0;
    return a < b;
}

OSErr ListFolder(const std::string& folder, std::vector<FolderEntry>* entries)
{
    if (!entries)
        return paramErr;
    entries->clear();
    DIR* dir = nullptr;
    if (const OSErr err = OpenFolder(folder, &dir))
        return err;
    const int dirFd = ::dirfd(dir);
    std::vector<FolderEntry> found;
    for (;;) {
        errno = 0;
        const dirent* d = ::readdir(dir);
        if (!d) {
            if (errno != 0) {
                const int e = errno;
                ::closedir(dir);
                return MacErrorFromErrno(e);
            }
            break;
        }
        const std::string name = d->d_name;
        if (name == "." || name == ".." || AppleDoubleFile::IsSidecarFileAt(dirFd, name))
            continue;
        FolderEntry entry;
        entry.name = name;
        PathStatus status;
        // The listing's own type answers for all but links (and file
        // systems that give no type).
        if ((d->d_type == DT_LNK || d->d_type == DT_UNKNOWN) && StatPathAt(dirFd, name, false, &status) == 0 &&
            status.isSymlink)
            entry.isSymlink = true;
        if (StatPathAt(dirFd, name, true, &status) == 0) {
            entry.isFolder = status.isFolder;
            entry.device = status.device;
            entry.inode = status.inode;
            entry.birthTime = status.birthTime;
        }
        found.push_back(std::move(entry));
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return FolderNameLess(a.name, b.name); });
    *entries = std::move(found);
    return noErr;
}

OSErr ListSidecarNames(const std::string& folder, std::set<std::string>* names)
{
    if (!names)
        return paramErr;
    names->clear();
    DIR* dir = nullptr;
    if (const OSErr err = OpenFolder(folder, &dir))
        return err;
    for (;;) {
        errno = 0;
        const dirent* d = ::readdir(dir);
        if (!d) {
            const int e = errno;
            ::closedir(dir);
            return e != 0 ? MacErrorFromErrno(e) : noErr;
        }
        if (AppleDoubleFile::IsSidecarName(d->d_name))
            names->insert(d->d_name);
    }
}

OSErr ListFolderNames(const std::string& folder, std::vector<std::string>* names)
{
    if (!names)
        return paramErr;
    std::vector<FolderEntry> entries;
    const OSErr err = ListFolder(folder, &entries);
    names->clear();
    if (err != noErr)
        return err;
    for (FolderEntry& e : entries)
        names->push_back(std::move(e.name));
    return noErr;
}

OSErr FindNameCaseInsensitive(const std::string& folder, const std::string& name, std::string* storedName)
{
    if (name.empty() || name.find('/') != std::string::npos || AppleDoubleFile::IsSidecarName(name))
        return fnfErr;
    // The name as given wins when it exists.
    struct stat st;
    const std::string exact = (folder.empty() ? std::string(".") : folder) + "/" + name;
    if (::lstat(exact.c_str(), &st) == 0) {
        if (storedName)
            *storedName = name;
        return noErr;
    }
    std::vector<FolderEntry> entries;
    const OSErr err = ListFolder(folder.empty() ? std::string(".") : folder, &entries);
    if (err != noErr)
        return err;
    for (const FolderEntry& e : entries) {
        if (CompareFolded(e.name, name) == 0) {
            if (storedName)
                *storedName = e.name;
            return noErr;
        }
    }
    return fnfErr;
}
