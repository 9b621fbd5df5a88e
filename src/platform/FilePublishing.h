// Publishing files that belong together (a sound file and its AppleDouble
// sidecar, the members of a split or surround set with theirs): every file
// moves from its temporary name to its final name, never replacing
// anything, and the final names show all of them or none of them, even
// when the process is killed half way.
//
// Before the first move a record of the moves (the file names and the
// identity and proof of each file, ProvenItems.h) is made in the folder
// under a temporary name ".QuillOutFile-XXXXXX.publish", whole from its
// birth on, and locked; it goes once the last move is done.  A record left behind by a killed run names the files its
// publication had moved already: the next run's clean-up, which finds the
// record in the killed run's ledger (TemporaryLedger.h), takes them out of
// their final names again (UndoUnfinishedPublication), so that nothing of
// an interrupted output stays under a final name; their temporaries go
// with the rest of that run's leftovers.
//
// Sidecars move before their files, so that a reader never meets a data
// file without its resource fork.
//
// A file this process made (MadeFiles.h) is published only while its
// temporary name still holds it -- a regular file, the very one its
// descriptor holds, no link -- and then through that descriptor: the file
// is linked under its final name (never replacing anything), and its
// temporary name goes once every file of the set has its final one.  So a
// link or a file another program renamed over a temporary name is never
// published, whenever it came.
#pragma once

#include "MacTypes.h"

#include <functional>
#include <string>
#include <vector>

extern "C++" {

struct PublishMove {
    std::string from;  // full path of the file under its temporary name
    std::string to;    // its final path, in the same folder as `from`
};

// Moves every file of `moves` (all in `folder` or below it), with the
// sidecar of each that has one, to its final name.  noErr when all moved;
// otherwise none has: dupFNErr when a final name (or that of a sidecar
// file) is taken, kFileReplacedErr when the temporary name of a file this
// process made no longer holds it (what is there is left alone), another
// code when a move failed; the files keep their temporary names.  A stale sidecar at a final name whose file is missing
// is removed first.
OSErr PublishFiles(const std::string& folder, const std::vector<PublishMove>& moves);

struct ItemBirth;

enum class PublicationUndo {
    Done,       // the record is gone, with what it had published
    Busy,       // still locked, or no longer the file proven: left alone
    Untrusted,  // not a record of the running user's that nobody else may write or could since its birth,
                // or not one of ours: left alone
};

// The unfinished publication whose record is `name` in the folder open as
// `folderFd` (at `folder`), proven by the ledger of a run that is gone to
// be the file of `device` and `inode`: the files it had moved are removed
// from their final names (each only while it is the file recorded -- its
// device, inode and proof -- of the running user, made no earlier than
// `bound`, reached from the folder without a link), then the record goes.
PublicationUndo UndoUnfinishedPublication(int folderFd, const std::string& folder, const std::string& name,
                                          UInt64 device, UInt64 inode, const ItemBirth& bound);

// The name shape of a publication record.
bool IsPublicationRecordName(const std::string& name);

// For tests: called before move `step` (0-based) of `steps`, sidecars
// included; a non-zero result fails that move with that code (a hook may
// also end the process there).  Empty: none.
using PublishStepHook = std::function<OSErr(int step, int steps)>;
void SetPublishStepHook(PublishStepHook hook);

} // extern "C++"
