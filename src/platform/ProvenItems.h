// What the clean-up of a killed run needs to prove an item its own before
// it removes it.  A record found in an output folder (a ledger of
// temporaries, a publication record) may have been put there by anyone who
// can write into the folder (a shared folder, mode 1777), so a record
// counts only when it is a regular file of the running user that nobody
// else may write; a path it names is opened one component at a time from
// the output folder, never through a symbolic link; and an item it names
// is the running user's own and was made no earlier than the record.
#pragma once

#include "MacTypes.h"

#include <string>
#include <sys/stat.h>

// When an item was made, as closely as the file system tells: its birth
// time where one is kept, else its status change time (never earlier than
// the birth).
struct ItemBirth {
    SInt64 seconds = 0;
    long nanoseconds = 0;
    bool exact = false;  // a birth time, not a status change time

    bool notBefore(const ItemBirth& other) const
    {
        return seconds != other.seconds ? seconds > other.seconds : nanoseconds >= other.nanoseconds;
    }
};

// The birth of `name` in the folder open as `folderFd` (of the file open as
// `folderFd` itself when `name` is empty); links are not followed.
bool BirthOf(int folderFd, const std::string& name, ItemBirth* birth);

// A record the running user may trust: a regular file it owns, with one
// name, that neither its group nor others may write.
bool IsOwnRecordFile(const struct stat& st);

// An item (file or folder) of the running user.
bool IsOwnItem(const struct stat& st);

// Opens the folder `relative` below the folder open as `topFd` (`relative`
// empty: a new descriptor of that folder) one component at a time, never
// through a symbolic link.  The descriptor, or -1 with errno set.
int OpenFolderBelow(int topFd, const std::string& relative);
