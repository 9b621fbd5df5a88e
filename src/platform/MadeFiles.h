// The files this process made in folders (an output under its temporary
// name, an intermediate, a work file, a sidecar, the log), each held by the
// descriptor that made it from its making until it is published, deleted
// or let go.
//
// A folder others may write lets them rename anything over a name of ours
// (a link to a file elsewhere, a file of their own).  So nothing of ours is
// opened again by its name: every opening of a made file's path (for
// writing or reading, by the file layer, a stream, a child or a library)
// takes a duplicate of its descriptor, whatever the name holds by then; and
// before a made file is published or removed, its name is asked whether it
// still holds the file (a regular file of the same device and inode, not a
// link).  What is found replaced is left alone: neither published nor
// removed.
//
// The descriptor held here carries the file's lock (exclusive) for as long
// as the file is held, so that whoever looks can tell a file in use.
//
// Paths are taken as AbsolutePath gives them.  Internal to the platform
// layer, but for the test hook.
#pragma once

#include "MacTypes.h"

#include <functional>
#include <string>
#include <sys/stat.h>

class MadeFiles {
public:
    // `fd` is the file just made at `path`, of status `st`: a duplicate of
    // it is held (its lock taken) until the path is forgotten.  False (errno
    // set) when no duplicate could be had; the caller then unmakes the file.
    static bool Add(const std::string& path, int fd, const struct stat& st);

    // Makes the file `path` exclusively, never through a link, as
    // TemporaryLedger::CreateFile makes it (recorded in the run's ledger),
    // and holds it.  The descriptor, or -1 with errno set (nothing made).
    // *made (when given) gets its status.
    static int Create(const std::string& path, int flags, mode_t mode, struct stat* made = nullptr);

    // A new duplicate (close-on-exec) of the descriptor of the file made at
    // `path`, with its status in *st (when given); -1 when none was made
    // there (errno ENOENT), when the one made there is gone (ESTALE: its
    // name must not be opened instead), or when no duplicate could be had.
    static int Duplicate(const std::string& path, struct stat* st = nullptr);
    static bool Contains(const std::string& path);
    // The device and inode of the file made at `path`, while it is held.
    static bool Identity(const std::string& path, dev_t* device, ino_t* inode);

    enum class Name {
        Holds,     // the name holds the file made there
        Replaced,  // it holds something else, or nothing
        Removed,   // this process removed (or gave up) the file made there:
                   // whatever the name holds now is nothing of ours
        NotMade,   // no file was made there by this process
    };
    static Name Check(const std::string& path);

    // The made file at `from` takes the name `to` as well, never replacing
    // anything: the file behind the descriptor is linked there, so that
    // nothing put at `from` meanwhile ever takes `to`.  noErr; dupFNErr when
    // `to` is taken; kFileReplacedErr when the file has no name left
    // (another program renamed something over it, or removed it).  Where
    // the file system makes no links the file is moved by its name instead
    // (*moved set), once the name is found to hold it.
    static OSErr Link(const std::string& from, const std::string& to, bool* moved);
    // Removes the name `path` while it holds the file of `device` and
    // `inode` (never a file put there by another); whether it did.
    static bool RemoveName(const std::string& path, dev_t device, ino_t inode);
    // Moves the made file at `from` to `to` (Link, then the old name
    // removed); the registry follows.
    static OSErr Move(const std::string& from, const std::string& to);

    // The made file at `from` is now at `to` (the item at `to` before, when
    // held, is let go); entries below a folder move with it.
    static void Moved(const std::string& from, const std::string& to);
    // The file at `path` (and whatever is held below it) is let go.
    static void Forget(const std::string& path);
    // This process removed the file at `path` (and what was below it), or
    // gave it up, its name found replaced: its name answers Removed until
    // the piece of work is over (Prune), so that nothing put there since is
    // ever taken for it.
    static void Removed(const std::string& path);
    // Once a piece of work is over (one input of a batch): forgets the
    // files removed, and closes the descriptors of those whose last name is
    // gone (another program replaced or removed them), keeping what they
    // were, so that their names still answer Replaced until forgotten.
    static void Prune();

    // For tests: called with the path of each file made, as soon as it is
    // held (another program may act on the name there).  Empty: none.
    using MadeHook = std::function<void(const std::string& path)>;
    static void SetMadeHook(MadeHook hook);
};
