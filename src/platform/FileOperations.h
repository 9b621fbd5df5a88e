// Path-based file operations for code that works with paths rather than
// FSSpecs: existence and status, exclusive creation, unique names,
// no-replace rename and copy, deletion.  Every call keeps a file's
// AppleDouble sidecar with it.
#pragma once

#include "MacTypes.h"

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

class QFile;

extern "C++" {

// When an item was made (statx STATX_BTIME).  Unlike the inode number,
// which the file system hands out again once an item is deleted, it tells
// a new item from an earlier one.
struct ItemBirthTime {
    SInt64 seconds = 0;      // since 1970 (UTC)
    UInt32 nanoseconds = 0;  // 0..999999999
    bool operator==(const ItemBirthTime&) const = default;
};

struct PathStatus {
    bool isFolder = false;
    bool isFile = false;     // a regular file
    bool isSymlink = false;  // only from StatPathNoFollow
    UInt64 size = 0;
    UInt64 device = 0;
    UInt64 inode = 0;
    UInt32 mode = 0;         // st_mode
    SInt64 modTime = 0;      // seconds since 1970 (UTC)
    // Nothing when the file system does not report it.
    std::optional<ItemBirthTime> birthTime;
};

// stat / lstat (through statx, so the birth time comes too).  Returns the
// errno value (0 on success), so callers can tell ENOENT from EACCES;
// *status (may be null) is filled on success.
int StatPath(const std::string& path, PathStatus* status);
int StatPathNoFollow(const std::string& path, PathStatus* status);
// The same for `name` relative to the open folder `folderFd` (AT_FDCWD for
// the current folder); `followLinks` chooses stat or lstat.
int StatPathAt(int folderFd, const std::string& name, bool followLinks, PathStatus* status);

// The target of the symbolic link at `path`, as the link holds it
// (readlink).  Returns the errno value (0 on success; EINVAL: no link).
int ReadLinkTarget(const std::string& path, std::string* target);

// An item exists at the path (stat succeeds).
bool PathExists(const std::string& path);
bool IsFolder(const std::string& path);

// A file this process made in a folder whose name no longer holds it (the
// name's item and the file are different objects): another program
// replaced or removed it while it was written.  Nothing of it is
// published, and what is at its name is left alone.
constexpr OSErr errFSRefsDifferent = -1420;
inline constexpr OSErr kFileReplacedErr = errFSRefsDifferent;

// Creates an empty file exclusively (mode 0666 less the umask): dupFNErr
// when anything exists under the name.  Like every file this process makes
// in a folder, it is held by the descriptor that made it until it is
// published, deleted or let go (MadeFiles.h): every later opening of the
// path takes that descriptor, whatever the name holds by then.
OSErr CreateFileExclusive(const std::string& path);

// The file at `path` opened for a stream, a library or a child: the
// descriptor of a file this process made there (a duplicate); any other
// file as its name leads when reading, and only when its name is no link
// when `writing` (read and write), so that a path this process did not make
// is never followed into a file elsewhere.  Only regular files
// (notAFileErr otherwise).  *fd gets the descriptor (close-on-exec, at the
// start of the file; the caller closes it).
OSErr OpenFileDescriptor(const std::string& path, bool writing, int* fd);

// The same as a QFile, open for reading (and writing when `writing`) and
// closed with it; false when it cannot be had.
bool OpenFileDevice(QFile* file, const std::string& path, bool writing);

// The same as a C stream of `mode` ("rb", "wb", "w+b", "r+b"); a "w" mode
// empties the file.  Null (errno set) when it cannot be had.
std::FILE* OpenFileStream(const std::string& path, const char* mode);

// noErr when this process made no file at `path`, or when the name still
// holds the one it made; kFileReplacedErr when it holds anything else or
// nothing.
OSErr CheckMadeFile(const std::string& path);

// What became of a file this process made at `path`: held (its name holds
// it), replaced (its name holds something else, or nothing), removed (by
// this process, or given up as replaced: whatever the name holds now is
// nothing of ours); NotMade when this process made none there.
enum class MadeFileState { NotMade, Held, Replaced, Removed };
MadeFileState MadeFileStateOf(const std::string& path);

// Lets go of the file this process made at `path` (it stays there): its
// later openings go by its name.
void LetGoOfMadeFile(const std::string& path);

// Creates an empty file with a unique name in `folder`: prefix + six
// random characters + suffix, made exclusively (as mkstemps); *path gets
// the full path.  tmfoErr-like errors as mapped; dirNFErr for a missing folder.
OSErr CreateUniqueFile(const std::string& folder, const std::string& prefix, const std::string& suffix,
                       std::string* path);

// A name for a file in `folder` that nothing holds now: prefix + six random
// characters + suffix, without creating anything (for callers that then
// create their files exclusively under names derived from it); *name gets
// the name alone.  dirNFErr for a missing folder.
OSErr PickUnusedName(const std::string& folder, const std::string& prefix, const std::string& suffix,
                     std::string* name);

// The same without asking after the name: for callers whose files are
// all created exclusively (a name taken fails their creation, it is never
// overwritten), where the chance of drawing a name in use is nil.
OSErr PickRandomName(const std::string& folder, const std::string& prefix, const std::string& suffix,
                     std::string* name);

// mkdir (mode 0777 less the umask): dupFNErr when the name exists.
OSErr CreateFolder(const std::string& path);
// mkdir -p: noErr when the folder exists already; dupFNErr when a
// non-folder is in the way.
OSErr CreateFolderPath(const std::string& path);

// Moves `from` to `to`, never replacing: dupFNErr when `to` exists (it is
// left untouched).  renameat2(RENAME_NOREPLACE), falling back to
// link + unlink where that is not supported.  The sidecar follows; a stale
// sidecar of `to` (one without its file) is discarded.  A file this process
// made moves only while its name holds it (kFileReplacedErr, nothing moved,
// otherwise): the file behind its descriptor is given the new name, so that
// nothing put at the old name meanwhile ever takes it.
OSErr RenameNoReplace(const std::string& from, const std::string& to);

// The move alone (no sidecar follows): 0, or the errno value (EEXIST when
// `to` exists).  For callers that move sidecars themselves (FilePublishing).
int MovePathNoReplace(const std::string& from, const std::string& to);

// Copies a file's data and sidecar to `to`, created exclusively (dupFNErr
// when it exists).  On any failure the partial copy is removed.
OSErr CopyFileNoReplace(const std::string& from, const std::string& to);

// Removes a file and its sidecar (unlink); an empty folder (rmdir).
// fnfErr when missing; fBsyErr for a folder that is not empty.  A file this
// process made goes only while its name holds it: kFileReplacedErr, and
// nothing removed, when the name holds anything else.
OSErr DeletePath(const std::string& path);
// Removes the folder at `path` and everything in it (links removed, never
// followed); a link or file at `path` is not touched (paramErr).
OSErr DeleteFolderTree(const std::string& path);

// The lock of a file that another program writes or reads (an encoder's
// output and input), or of a folder being filled: held from Hold until
// Release or the end of the object, so that whoever looks can tell an item
// in use.
class FileLockHolder {
public:
    FileLockHolder() = default;
    ~FileLockHolder() { Release(); }
    FileLockHolder(const FileLockHolder&) = delete;
    FileLockHolder& operator=(const FileLockHolder&) = delete;
    // Holds the exclusive lock of the regular file at `path` (a lock held
    // before is let go first); false when the file cannot be opened or is
    // locked by someone else.
    bool Hold(const std::string& path);
    // The same for a folder (a link is not followed).
    bool HoldFolder(const std::string& path);
    void Release();
    bool IsHeld() const { return fd_ >= 0; }
    // Whether the name `path` holds the item held (not a link to it).
    bool HeldAt(const std::string& path) const;

private:
    int fd_ = -1;
};

// noErr when the folder at `path`, made by this process and held by
// `held`, is still under its name and holds only files this process made
// there, each still under its name (with their sidecars); kFileReplacedErr
// otherwise.  Before such a folder is published with what it holds.
OSErr CheckMadeFolder(const std::string& path, const FileLockHolder& held);

// Whether one more block can be written in `folder` now (an unnamed file
// is written there and let go): noErr, dskFulErr when the disk or the
// user's quota is full, another code when the folder cannot be asked.  For
// telling why another program's writing failed.
OSErr CheckRoomToWrite(const std::string& folder);

// The user's temporary folder: TMPDIR when set and a folder, else "/tmp";
// no trailing '/'.
std::string TemporaryFolderPath();

// A relative path every part of which is a name (none empty, "." or ".."),
// so that it stays inside the folder it is taken from.
bool StaysInside(std::string_view relative);

// Absolute, cleaned form of a path ("." and ".." resolved textually,
// relative paths taken from the current folder; symbolic links are kept).
std::string AbsolutePath(const std::string& path);

// The name of this process's open descriptor `fd` ("/proc/self/fd/N"):
// opened or linked by that name, it is the very file the descriptor holds,
// whatever the file's own name holds by now.  Empty where /proc names no
// descriptors.
std::string DescriptorPath(int fd);

} // extern "C++"

// Writes all `size` bytes to the descriptor, retrying after signals; false
// with errno set on failure.
bool WriteAll(int fd, const char* data, size_t size);
