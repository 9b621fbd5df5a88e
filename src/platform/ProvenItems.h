// What the clean-up of a killed run needs to prove an item its own before
// it removes it.  A record found in an output folder (a ledger of
// temporaries, a publication record) may have been put there by anyone who
// can write into the folder (a shared folder, mode 1777), so a record
// counts only when it is a regular file of the running user that nobody
// else may write, nor could since its birth: a record written once (a
// publication record, a ledger's key) is made exclusively with mode 0600
// and written whole at once, and where the file system keeps birth times
// its status change time must be its birth time (no mode, owner or byte of
// it changed since: UnchangedSinceBirth); a ledger, which grows, seals each
// entry with the key of such a file (TemporaryLedger.h).  A path it names
// is opened one
// component at a time from the output folder, never through a symbolic
// link; and an item it names is the running user's own, made no earlier
// than the record and, where the record gives its identity, the very item
// recorded (ItemProof: not a later one on the same inode).
//
// The batch makes and enters its output subfolders the same way
// (EnterFolderBelow), so that no other user's link or folder decides where
// its outputs go.
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

// What tells an item from a later one that took over its device and inode
// once it was removed (ext4 and ext2 give a freed inode to the next file
// made): its birth time where the file system keeps one, the handle the
// file system gives it (which changes when its inode is reused), and only
// where it has neither, its status change time and size.
struct ItemProof {
    bool born = false;
    SInt64 birthSeconds = 0;
    long birthNanoseconds = 0;
    std::string handle;  // the handle's type and bytes, in hex
    bool changed = false;
    SInt64 changeSeconds = 0;
    long changeNanoseconds = 0;
    UInt64 size = 0;

    // The parts a record keeps (the change time and size only without a
    // birth time and a handle), as one text without NUL or '/'.
    std::string text() const;
    // The parts of a text(); false for one that is not.
    static bool FromText(const std::string& text, ItemProof* proof);
    // Every part `recorded` keeps is the same in this proof (taken of an
    // item found).
    bool matches(const ItemProof& recorded) const;
};

// The proof of `name` in the folder open as `folderFd` (of what `folderFd`
// itself is open on when `name` is empty); links are not followed.
bool ProofOf(int folderFd, const std::string& name, ItemProof* proof);

// A record the running user may trust: a regular file it owns, with one
// name, that neither its group nor others may write.
bool IsOwnRecordFile(const struct stat& st);

// The record open as `fd` has not changed since its birth tick, where the
// file system keeps birth times (elsewhere: true).
bool UnchangedSinceBirth(int fd);

// Nothing but writes changed the file open as `fd` since its last write (no
// mode, owner or link changed after it): its status change time is not
// later than its modification time.
bool UnchangedSinceWritten(int fd);

// The device and inode of `name` in the folder open as `folderFd` (of
// what `folderFd` is open on when `name` is empty), and its birth time
// when asked and kept (else birth->exact is false), asked without asking
// its status change time: a record being written keeps a change time equal
// to its birth only while nobody asks for it (the kernel then stamps the
// next change finer).  Links are not followed.
bool IdentityOf(int folderFd, const std::string& name, UInt64* device, UInt64* inode, ItemBirth* birth = nullptr);

// An item (file or folder) of the running user.
bool IsOwnItem(const struct stat& st);

// Opens the folder `relative` below the folder open as `topFd` (`relative`
// empty: a new descriptor of that folder) one component at a time, never
// through a symbolic link.  The descriptor, or -1 with errno set.
int OpenFolderBelow(int topFd, const std::string& relative);

// Why a folder below an output folder cannot take outputs.
struct FolderBelowProblem {
    enum Kind {
        None,
        Link,          // a symbolic link stands at `path`
        OthersFolder,  // the folder at `path` is another user's (not root's): they could put a link in its place
        NotFolder,     // something else than a folder stands at `path`
        Failed,        // `path` could not be made or opened: `error` (an errno value)
    } kind = None;
    std::string path;  // the folder that stops the way
    int error = 0;
};

// Enters the folder `relative` below the folder `top` (`top` itself
// followed as given: the user chose it) one component at a time, never
// through a symbolic link and never into another user's folder, making the
// components that are missing when `make` (mode 0777 before the umask).
// Kind None when every component is a folder of the running user or of
// root.
FolderBelowProblem EnterFolderBelow(const std::string& top, const std::string& relative, bool make);
