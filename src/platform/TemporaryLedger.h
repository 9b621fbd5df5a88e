// The record that proves a run's temporary items its own.
//
// A batch makes its outputs, their intermediates and work files, the work
// files of sidecars, publication records and the folders of extracted
// regions under temporary names of one shape (TemporaryFiles.h) in its
// output folder, and gives the outputs their final names once complete.  A
// run that is killed leaves its temporaries behind.  A name proves nothing
// (a user may name files so), so each run keeps a ledger: a file
// ".QuillOutFile-XXXXXX.run" in its output folder, locked as long as the
// run lives, into which the platform layer's creating calls write every
// item made below that folder under a temporary name this process drew
// (NewTemporaryItemName, and the pickers of FileOperations.h with the
// temporary word as prefix): the item's path before it is made, its device,
// inode and proof (its birth time, the file system's handle: ProvenItems.h)
// once it is.  Items of other names (a user's file of the shape, an output
// whose final name has the shape) are never written into it.  Beside it
// lies its key (".QuillOutFile-XXXXXX.key", the same letters): a random
// key written once into a file made exclusively with mode 0600, which
// therefore shows that nobody else could ever read it (ProvenItems.h);
// every entry of the ledger, the header first, is sealed with that key
// after the one before, so that anyone who could write into the ledger at
// some moment (a descriptor kept from a time the user let others write
// it) can add or change no entry unseen.
//
// The next run into that output folder (RemoveLeftovers) takes every
// ledger whose lock is free, whatever its age -- its run is gone -- and
// removes exactly what it proves: a recorded file or folder still there
// with the recorded identity (a folder with what it holds), the sidecar of
// a recorded file, and a publication left unfinished, whose files are
// first taken out of their final names (FilePublishing.h).  A ledger whose
// lock is held belongs to a running batch and is left alone; a file of the
// ledger's shape that another user owns or others may write, whose mode or
// owner changed after its last entry, that does not name its own device and
// inode (a copy, a user's file) and those of a key nobody else could ever
// read, whose entries are not all sealed with that key, or that names an
// item of any other name than the temporary shape, is no ledger: it is left
// alone and said; an empty one of the user's own (a run killed as it began
// it) goes, with its key, and so does a key of the user's whose ledger is
// gone.  After taking a
// ledger's lock the clean-up checks that the name still holds the file it
// locked, and it acts inside the folders it opened.  A run's own leftovers
// (outputs of files that failed and could not be removed) go when its
// ledger closes.  An item proven ours that cannot be removed (its folder
// cannot be written or entered) stays recorded until it is gone: the
// ledger that names it, and its key, stay for the next run's clean-up.
#pragma once

#include "MacTypes.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <sys/types.h>

class TemporaryLedger {
public:
    // Opens this run's ledger in `folder`.  Without one (the folder cannot
    // be written, the disk is full) the run goes on and records nothing.
    explicit TemporaryLedger(const std::string& folder);
    // Removes what is left of the items recorded (this run's, none of them
    // in use any more), then the ledger; the ledger stays, unlocked, when
    // an item could not be removed.
    ~TemporaryLedger();
    TemporaryLedger(const TemporaryLedger&) = delete;
    TemporaryLedger& operator=(const TemporaryLedger&) = delete;

    // noErr when the ledger is kept; otherwise why it is not.
    OSErr error() const;

    // Once a piece of work is over (one input of a batch) and none of the
    // items recorded so far is in use: what is left of them goes, and the
    // ledger forgets them (its file starts afresh once their entries are
    // many), so that it stays small however long the batch; it keeps those
    // that could not be removed, and tries them again.
    void settle();

    // Removes the leftovers proven by the ledgers in `folder` (not below
    // it) of runs that are gone, and those ledgers (but one that names an
    // item that could not be removed).  Returns their number.
    // A ledger proves something only when it is a regular file of the
    // running user that nobody else may write or could since its birth, in
    // our format, naming its own identity, a start no later than its birth
    // and only items of the temporary shape; an item only when it is
    // reached from `folder` without a link, is the running user's, was made
    // since the ledger began and, where recorded, is the very item made
    // (ProvenItems.h).  The paths of records that prove nothing (ledgers
    // and the publication records they name), left alone, go to *untrusted
    // when given, each once.
    static int RemoveLeftovers(const std::string& folder, std::vector<std::string>* untrusted = nullptr);

    // The platform layer's creating calls: open(path, flags | O_CREAT |
    // O_EXCL, mode) and mkdir(path, mode), with the item recorded when it
    // is one to record.  The descriptor (or 0), or -1 with errno set; an
    // item that could not be recorded is not made (errno of the ledger's
    // write, ENOSPC when the disk is full).  *made (when given) gets the new
    // file's status (st_nlink 0 when it could not be asked).  `firstBytes`
    // (when given) are written into the new file before its status is
    // asked (a record that must show no change after its birth); a file
    // they cannot be written into is not kept.
    static int CreateFile(const std::string& path, int flags, mode_t mode, struct stat* made = nullptr,
                          const std::string* firstBytes = nullptr);
    static int CreateFolder(const std::string& path, mode_t mode);

    // Called by NewTemporaryItemName and the name pickers with each name
    // they draw: one of the temporary shape is remembered while a ledger is
    // open, so that an item later made under it is recorded.
    static void NameDrawn(const std::string& name);
    // Whether the tag of `name` (a temporary name, or its sidecar's) was
    // drawn by this process since the last ledger closed.
    static bool WasDrawn(const std::string& name);

    // For tests: called with a ledger's path when the clean-up has opened
    // it and before it takes its lock.  Empty: none.
    using CleanUpHook = std::function<void(const std::string& ledgerPath)>;
    static void SetCleanUpHook(CleanUpHook hook);

    struct State;

private:
    std::unique_ptr<State> state_;
};
