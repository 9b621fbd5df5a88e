#include "FileByDescriptor.h"

#include "FileOperations.h"

#include <unistd.h>

FileByDescriptor::~FileByDescriptor()
{
    if (fd_ >= 0)
        ::close(fd_);
}

OSErr FileByDescriptor::open(const std::string& path)
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    name_.clear();
    if (const OSErr err = OpenFileDescriptor(path, false, &fd_))
        return err;
    static const bool named = ::access("/proc/self/fd", X_OK) == 0;
    name_ = named ? "/proc/self/fd/" + std::to_string(fd_) : path;
    return noErr;
}
