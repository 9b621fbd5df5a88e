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
    name_ = DescriptorPath(fd_);
    if (name_.empty())
        name_ = path;
    return noErr;
}
