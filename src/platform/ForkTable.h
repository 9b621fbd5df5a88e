// The process-wide table behind fork reference numbers (refNums): each
// entry is one open data fork (a POSIX descriptor) or one open resource
// fork (held in memory, written back to the sidecar on close).
// Internal to the platform layer; the File Manager calls use it.
#pragma once

#include "FileImage.h"
#include "MacTypes.h"

#include <QByteArray>
#include <map>
#include <memory>
#include <mutex>
#include <string>

struct OpenFork {
    enum class Kind { Data, Resource };

    std::mutex mutex;          // held for each operation on the fork
    Kind kind = Kind::Data;
    std::string path;          // the data file's path
    UInt64 device = 0;         // identity of the data file
    UInt64 inode = 0;
    SInt8 permission = 0;      // as asked (fsRdPerm ...)
    bool writable = false;
    bool closed = false;       // set by FSClose while another thread may hold the entry
    int fd = -1;               // data fork
    SInt64 mark = 0;
    QByteArray resourceFork;   // resource fork contents
    bool dirty = false;        // resource fork changed since it was opened

    // What a data fork remembers between calls, each valid while no fork of
    // the process has written since (the write generation it was taken at):
    // the file's length, and a block read ahead for small reads.
    SInt64 length = -1;
    UInt64 lengthGeneration = 0;
    std::unique_ptr<char[]> ahead;
    SInt64 aheadStart = 0;
    SInt64 aheadSize = 0;
    UInt64 aheadGeneration = 0;
    // A writer of a file it made knows the bytes of its small writes
    // (FileImage): reads of them need not ask the file.  Valid at the
    // write generation it was last brought up to date.
    std::shared_ptr<FileImage> image;
    UInt64 imageGeneration = 0;
};

class ForkTable {
public:
    static ForkTable& Instance();

    // Enters a fork; *refNum gets its number (1..32767).  tmfoErr when full.
    // A writable fork (other than fsRdWrShPerm) is refused with opWrErr when
    // the same fork of the same file is already open with write access;
    // *refNum then names that fork.
    OSErr Add(const std::shared_ptr<OpenFork>& fork, SInt16* refNum);
    // The fork of a refNum, or null.
    std::shared_ptr<OpenFork> Get(SInt16 refNum) const;
    // Takes the fork out of the table (null when unknown).
    std::shared_ptr<OpenFork> Remove(SInt16 refNum);
    int Count() const;

private:
    ForkTable() = default;
    SInt16 FindWriterLocked(const OpenFork& fork) const;

    mutable std::mutex mutex_;
    std::map<SInt16, std::shared_ptr<OpenFork>> forks_;
    SInt16 next_ = 1;
};
