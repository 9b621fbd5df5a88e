// A file opened for reading as OpenFileDescriptor opens it (a file this
// process made goes by the descriptor that made it), and named by that
// descriptor ("/proc/self/fd/N") for a library that opens files only by
// name: what it opens by that name is the very file opened here, whatever
// the file's own name holds by now.  Where /proc names no descriptors, the
// name is the file's own.  Closed with the object.
#pragma once

#include "MacTypes.h"

#include <string>

class FileByDescriptor {
public:
    FileByDescriptor() = default;
    ~FileByDescriptor();
    FileByDescriptor(const FileByDescriptor&) = delete;
    FileByDescriptor& operator=(const FileByDescriptor&) = delete;

    OSErr open(const std::string& path);
    // The name to open it by (empty until opened).
    const std::string& name() const { return name_; }

private:
    int fd_ = -1;
    std::string name_;
};
