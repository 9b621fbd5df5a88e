#include "PathMemo.h"

#include "FileImage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

thread_local PathMemo* tCurrent = nullptr;

void SplitSidecarPath(const std::string& sidecarPath, std::string* folder, std::string* name)
{
    const size_t slash = sidecarPath.rfind('/');
    if (slash == std::string::npos) {
        folder->clear();
        *name = sidecarPath;
        return;
    }
    *folder = slash == 0 ? std::string("/") : sidecarPath.substr(0, slash);
    *name = sidecarPath.substr(slash + 1);
}

} // namespace

PathMemo::PathMemo() : outer_(tCurrent)
{
    tCurrent = this;
}

PathMemo::~PathMemo()
{
    for (const Parked& p : parked_)
        ::close(p.fd);
    tCurrent = outer_;
}

PathMemo* PathMemo::Current()
{
    return tCurrent;
}

void PathMemo::pin(const std::string& path)
{
    if (!path.empty())
        pinned_.try_emplace(path);
}

void PathMemo::setSidecarNames(const std::string& folder, std::set<std::string> names)
{
    sidecars_[folder] = std::move(names);
}

PathMemo::Entry* PathMemo::Find(const std::string& path)
{
    Entry* found = nullptr;
    for (PathMemo* memo = tCurrent; memo && !found; memo = memo->outer_) {
        const auto it = memo->pinned_.find(path);
        if (it != memo->pinned_.end())
            found = &it->second;
    }
    if (!found)
        return nullptr;
    for (PathMemo* memo = tCurrent; memo; memo = memo->outer_) {
        const auto it = memo->folders_.find(path);
        if (it == memo->folders_.end())
            continue;
        for (int follow = 0; follow < 2; ++follow) {
            if (!found->stat[follow] && it->second.stat[follow])
                found->stat[follow] = it->second.stat[follow];
            if (!found->status[follow] && it->second.status[follow])
                found->status[follow] = it->second.status[follow];
        }
        break;
    }
    return found;
}

void PathMemo::KeepFolder(const std::string& path, bool followLinks, const PathStatus* status, const struct stat* st)
{
    if ((status && !status->isFolder) || (st && !S_ISDIR(st->st_mode)))
        return;
    PathMemo* outermost = tCurrent;
    while (outermost && outermost->outer_)
        outermost = outermost->outer_;
    if (!outermost)
        return;
    Entry& entry = outermost->folders_[path];
    if (status)
        entry.status[followLinks] = *status;
    if (st)
        entry.stat[followLinks] = *st;
}

bool PathMemo::IsPinned(const std::string& path)
{
    for (PathMemo* memo = tCurrent; memo; memo = memo->outer_) {
        if (memo->pinned_.count(path))
            return true;
    }
    return false;
}

int PathMemo::Stat(const std::string& path, struct stat* st, bool followLinks)
{
    Entry* entry = tCurrent ? Find(path) : nullptr;
    if (entry && entry->stat[followLinks]) {
        *st = *entry->stat[followLinks];
        return 0;
    }
    if (entry && !entry->status[followLinks]) {
        // One asking gives both records (statx fills them).
        PathStatus asked;
        const int error = StatPathAt(AT_FDCWD, path, followLinks, &asked);
        if (error != 0) {
            errno = error;
            return -1;
        }
        if (entry->stat[followLinks]) {
            *st = *entry->stat[followLinks];
            return 0;
        }
    }
    const int result = followLinks ? ::stat(path.c_str(), st) : ::lstat(path.c_str(), st);
    if (result == 0 && entry) {
        entry->stat[followLinks] = *st;
        KeepFolder(path, followLinks, nullptr, st);
    }
    return result;
}

const PathStatus* PathMemo::KnownStatus(const std::string& path, bool followLinks)
{
    Entry* entry = tCurrent ? Find(path) : nullptr;
    return entry && entry->status[followLinks] ? &*entry->status[followLinks] : nullptr;
}

void PathMemo::RememberStatus(const std::string& path, bool followLinks, const PathStatus& status,
                              const struct stat* st)
{
    if (Entry* entry = tCurrent ? Find(path) : nullptr) {
        entry->status[followLinks] = status;
        if (st)
            entry->stat[followLinks] = *st;
        KeepFolder(path, followLinks, &status, st);
    }
}

void PathMemo::Made(const std::string& path, const struct stat& st)
{
    if (tCurrent)
        tCurrent->made_[path] = {st.st_dev, st.st_ino};
}

bool PathMemo::MadeIdentity(const std::string& path, dev_t* device, ino_t* inode)
{
    for (PathMemo* memo = tCurrent; memo; memo = memo->outer_) {
        const auto it = memo->made_.find(path);
        if (it != memo->made_.end()) {
            *device = it->second.first;
            *inode = it->second.second;
            return true;
        }
    }
    return false;
}

bool PathMemo::KnownToExist(const std::string& path)
{
    for (PathMemo* memo = tCurrent; memo; memo = memo->outer_) {
        if (memo->made_.count(path))
            return true;
    }
    return false;
}

void PathMemo::KeepImage(const std::string& path, dev_t device, ino_t inode, std::shared_ptr<const FileImage> image)
{
    PathMemo* memo = tCurrent;
    if (!memo || !image || !image->valid())
        return;
    for (auto it = memo->images_.begin(); it != memo->images_.end(); ++it) {
        if (it->path == path) {
            memo->images_.erase(it);
            break;
        }
    }
    if (memo->images_.size() >= kMaxParked)
        memo->images_.erase(memo->images_.begin());
    memo->images_.push_back(Kept{path, device, inode, std::move(image)});
}

std::shared_ptr<const FileImage> PathMemo::Image(const std::string& path)
{
    for (PathMemo* memo = tCurrent; memo; memo = memo->outer_) {
        for (const Kept& kept : memo->images_) {
            if (kept.path == path)
                return kept.image;
        }
    }
    return nullptr;
}

bool PathMemo::SidecarMayExist(const std::string& sidecarPath)
{
    if (!tCurrent)
        return true;
    std::string folder, name;
    SplitSidecarPath(sidecarPath, &folder, &name);
    for (PathMemo* memo = tCurrent; memo; memo = memo->outer_) {
        const auto it = memo->sidecars_.find(folder);
        if (it != memo->sidecars_.end())
            return it->second.count(name) != 0;
    }
    return true;
}

void PathMemo::SidecarChanged(const std::string& sidecarPath, bool exists)
{
    if (!tCurrent)
        return;
    std::string folder, name;
    SplitSidecarPath(sidecarPath, &folder, &name);
    for (PathMemo* memo = tCurrent; memo; memo = memo->outer_) {
        const auto it = memo->sidecars_.find(folder);
        if (it == memo->sidecars_.end())
            continue;
        if (exists)
            it->second.insert(name);
        else
            it->second.erase(name);
    }
}

bool PathMemo::Park(const std::string& path, int fd, const struct stat& st, bool writable, long long length,
                    unsigned long long generation, bool fresh)
{
    PathMemo* memo = tCurrent;
    if (!memo || fd < 0 || path.empty())
        return false;
    for (auto it = memo->parked_.begin(); it != memo->parked_.end(); ++it) {
        if (it->path == path) {
            ::close(it->fd);
            memo->parked_.erase(it);
            break;
        }
    }
    if (memo->parked_.size() >= kMaxParked) {
        ::close(memo->parked_.front().fd);
        memo->parked_.erase(memo->parked_.begin());
    }
    memo->parked_.push_back(Parked{path, fd, st.st_dev, st.st_ino, writable, length, generation, fresh, st});
    return true;
}

bool PathMemo::FreshStatus(const std::string& path, struct stat* st)
{
    if (PathMemo* memo = tCurrent) {
        for (const Parked& p : memo->parked_) {
            if (p.path == path && p.fresh) {
                *st = p.st;
                return true;
            }
        }
    }
    return false;
}

int PathMemo::Unpark(const std::string& path, const struct stat& st, bool writable, long long* length,
                     unsigned long long* generation, bool* fresh)
{
    PathMemo* memo = tCurrent;
    if (!memo)
        return -1;
    for (auto it = memo->parked_.begin(); it != memo->parked_.end(); ++it) {
        if (it->path != path)
            continue;
        if (it->device != st.st_dev || it->inode != st.st_ino || (writable && !it->writable))
            return -1;
        const int fd = it->fd;
        if (length)
            *length = it->length;
        if (generation)
            *generation = it->generation;
        if (fresh)
            *fresh = it->fresh;
        memo->parked_.erase(it);
        return fd;
    }
    return -1;
}

void PathMemo::Forget(const std::string& path)
{
    for (PathMemo* memo = tCurrent; memo; memo = memo->outer_) {
        memo->pinned_.erase(path);
        for (auto it = memo->folders_.begin(); it != memo->folders_.end();) {
            // The folder and anything that was inside it.
            if (it->first == path || (it->first.size() > path.size() && it->first.compare(0, path.size(), path) == 0 &&
                                      it->first[path.size()] == '/'))
                it = memo->folders_.erase(it);
            else
                ++it;
        }
        memo->made_.erase(path);
        for (auto it = memo->images_.begin(); it != memo->images_.end();) {
            if (it->path == path)
                it = memo->images_.erase(it);
            else
                ++it;
        }
        // Heads are known by device and inode, which a deleted file's
        // successor may take over: none is trusted after a rename or delete.
        memo->heads_.clear();
        for (auto it = memo->parked_.begin(); it != memo->parked_.end();) {
            if (it->path == path) {
                ::close(it->fd);
                it = memo->parked_.erase(it);
            } else {
                ++it;
            }
        }
    }
}

bool PathMemo::ReadHead(dev_t device, ino_t inode, long long offset, long long request, char* out, long long* done)
{
    for (PathMemo* memo = tCurrent; memo; memo = memo->outer_) {
        for (const Head& head : memo->heads_) {
            if (head.device != device || head.inode != inode)
                continue;
            const long long size = static_cast<long long>(head.bytes.size());
            if (offset < 0 || request < 0 || offset > size || (offset + request > size && !head.toEnd))
                return false;
            const long long n = std::min(request, size - offset);
            if (n > 0)
                std::memcpy(out, head.bytes.data() + offset, size_t(n));
            *done = n;
            return true;
        }
    }
    return false;
}

void PathMemo::RememberHead(dev_t device, ino_t inode, const char* data, long long size, bool toEnd)
{
    PathMemo* memo = tCurrent;
    if (!memo || size < 0 || size > kMaxHeadBytes)
        return;
    FileWritten(device, inode);
    if (memo->heads_.size() >= 2)
        memo->heads_.erase(memo->heads_.begin());
    memo->heads_.push_back(Head{device, inode, std::string(data, size_t(size)), toEnd});
}

void PathMemo::FileWritten(dev_t device, ino_t inode)
{
    for (PathMemo* memo = tCurrent; memo; memo = memo->outer_) {
        for (auto it = memo->images_.begin(); it != memo->images_.end();) {
            if (it->device == device && it->inode == inode)
                it = memo->images_.erase(it);
            else
                ++it;
        }
        for (auto it = memo->heads_.begin(); it != memo->heads_.end();) {
            if (it->device == device && it->inode == inode)
                it = memo->heads_.erase(it);
            else
                ++it;
        }
    }
}
