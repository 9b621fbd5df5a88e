#include "ForkTable.h"

#include "FileManager.h"

ForkTable& ForkTable::Instance()
{
    static ForkTable table;
    return table;
}

OSErr ForkTable::Add(const std::shared_ptr<OpenFork>& fork, SInt16* refNum)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (fork->writable && fork->permission != fsRdWrShPerm) {
        if (const SInt16 writer = FindWriterLocked(*fork)) {
            *refNum = writer;
            return opWrErr;
        }
    }
    if (forks_.size() >= 32767)
        return tmfoErr;
    // Numbers are handed out in turn rather than reused at once, so that a
    // stale refNum rarely names another file.
    while (forks_.count(next_))
        next_ = next_ == 32767 ? 1 : SInt16(next_ + 1);
    *refNum = next_;
    forks_[next_] = fork;
    next_ = next_ == 32767 ? 1 : SInt16(next_ + 1);
    return noErr;
}

std::shared_ptr<OpenFork> ForkTable::Get(SInt16 refNum) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = forks_.find(refNum);
    return it == forks_.end() ? nullptr : it->second;
}

std::shared_ptr<OpenFork> ForkTable::Remove(SInt16 refNum)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = forks_.find(refNum);
    if (it == forks_.end())
        return nullptr;
    std::shared_ptr<OpenFork> fork = it->second;
    forks_.erase(it);
    return fork;
}

SInt16 ForkTable::FindWriterLocked(const OpenFork& candidate) const
{
    // kind, identity and write access are fixed for a fork's life
    for (const auto& [number, fork] : forks_) {
        if (fork->kind == candidate.kind && fork->writable && fork->device == candidate.device &&
            fork->inode == candidate.inode && fork->permission != fsRdWrShPerm)
            return number;
    }
    return 0;
}

int ForkTable::Count() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return int(forks_.size());
}
