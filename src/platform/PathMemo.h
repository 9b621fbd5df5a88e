// What the file layer may take as known on one thread while a short piece
// of work runs (one input file of a batch): the status of a few named paths
// (the input, its folder, the output folder), asked once and then answered
// from memory, and which AppleDouble sidecars a folder holds, so that
// looking for the sidecar of a file that has none needs no failed open.
//
//   PathMemo memo;                          // active on this thread until destroyed
//   memo.pin(inputPath);                    // its stat is asked once
//   memo.setSidecarNames(folder, names);    // the "._*" names a listing found
//
// Only pinned paths are remembered, and only while the memo lives: the
// caller pins paths that nothing changes during the work (inputs are never
// written; folders keep their identity).  Sidecar knowledge of a folder
// follows what this thread's file layer does there (a sidecar written,
// moved or removed) and lives as long as the memo that holds it, so a batch
// keeps one memo per conversion for the folders it lists, and one per input
// file for the pinned paths.  With no memo on the thread every call asks the
// file system, as before.
//
// A folder's status, once asked for a pinned path, is kept by the outermost
// memo as well (a folder keeps its identity while a conversion runs), so
// the next input's memo need not ask again.  A pinned path asked with links
// followed is first asked without: an item that is no link answers both.
// Files this thread makes (FSpCreate) are known to exist, by their device
// and inode, until renamed or deleted; the opening that follows the making
// takes the new file's descriptor and status as made.  What a writer knew
// of a file it made and closed (FileImage) answers reads of the file while
// nothing writes it.
// Internal to the platform layer and its callers in the batch driver.
#pragma once

#include "FileOperations.h"

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

class FileImage;

class PathMemo {
public:
    PathMemo();
    ~PathMemo();
    PathMemo(const PathMemo&) = delete;
    PathMemo& operator=(const PathMemo&) = delete;

    // The memo active on the calling thread (the innermost), or null.
    static PathMemo* Current();

    // Remember the status of `path` (as the file layer names it) once asked.
    void pin(const std::string& path);
    // The sidecar names ("._*") present in `folder` (no trailing '/').
    void setSidecarNames(const std::string& folder, std::set<std::string> names);

    // ---- used by the file layer
    // stat / lstat of `path`: 0, or -1 with errno set.
    static int Stat(const std::string& path, struct stat* st, bool followLinks);
    // statx-based status (FileOperations' StatPathAt on AT_FDCWD): the
    // remembered one, or null when `path` is not pinned or not asked yet.
    static const PathStatus* KnownStatus(const std::string& path, bool followLinks);
    // With `st`, the stat record of the same asking is remembered too.
    static void RememberStatus(const std::string& path, bool followLinks, const PathStatus& status,
                               const struct stat* st = nullptr);
    // Whether `path` is pinned in a memo of this thread.
    static bool IsPinned(const std::string& path);
    // A regular file was made at `path` (absolute) by this thread, with
    // the status `st` (of which only its identity lasts: see MadeIdentity).
    static void Made(const std::string& path, const struct stat& st);
    // Whether a file this thread made is known to be at `path`.
    static bool KnownToExist(const std::string& path);
    // The device and inode of the file this thread made at `path`.
    static bool MadeIdentity(const std::string& path, dev_t* device, ino_t* inode);
    // What the writer of the file at `path` knew of it when it closed the
    // file (kept until the file is written, renamed or deleted, at most a
    // few files); Image gives null when nothing is kept.
    static void KeepImage(const std::string& path, dev_t device, ino_t inode,
                          std::shared_ptr<const FileImage> image);
    static std::shared_ptr<const FileImage> Image(const std::string& path);
    // False when the memo knows that the sidecar at `sidecarPath` does not
    // exist; true when it may.
    static bool SidecarMayExist(const std::string& sidecarPath);
    // A sidecar now exists (or no longer exists) at `sidecarPath`.
    static void SidecarChanged(const std::string& sidecarPath, bool exists);

    // Open files kept for the next opening.  While a memo lives, a data
    // fork closed on its thread keeps its descriptor (and lock) here (a
    // file written is closed all the same, so that a late write error
    // shows, and a copy of its descriptor is kept), and the next opening of
    // the same file (same path, device and inode) for reading takes it back
    // instead of opening the file again: the detection, the model and the
    // pipeline each open the input, and the written output is read back
    // once.  An opening for writing closes the kept one first (so that it
    // gets the exclusive lock).  All are closed with the memo, or when the
    // file is renamed or deleted.  Park takes `fd` (false: not kept, the
    // caller closes it); Unpark gives -1 when nothing fits (`writable`:
    // only a descriptor kept from a writer).  The file's length as the
    // closed fork knew it (-1: not known) and the write count it was taken
    // at go with the descriptor, so that the next opening need not ask.
    // A descriptor parked `fresh` is that of a file just made (empty): its
    // status `st` is whole, and the next opening of the path takes it
    // without asking the file system (FreshStatus).
    static bool Park(const std::string& path, int fd, const struct stat& st, bool writable,
                     long long length = -1, unsigned long long generation = 0, bool fresh = false);
    static int Unpark(const std::string& path, const struct stat& st, bool writable,
                      long long* length = nullptr, unsigned long long* generation = nullptr,
                      bool* fresh = nullptr);
    static bool FreshStatus(const std::string& path, struct stat* st);
    // The item at `path` was renamed or deleted: nothing is remembered of
    // it any more (nor of any file's head).
    static void Forget(const std::string& path);


    // The first bytes of a file as a read-only fork read them, so that the
    // next opening reads its header from memory (every reader of the input
    // starts at its head).  ReadHead copies `request` bytes at `offset`
    // when the remembered block holds them (fewer at the file's end) and
    // says whether it did; FileWritten drops what is known of a file that
    // a fork of this process writes or resizes.
    static constexpr long long kMaxHeadBytes = 65536;
    static bool ReadHead(dev_t device, ino_t inode, long long offset, long long request, char* out,
                         long long* done);
    static void RememberHead(dev_t device, ino_t inode, const char* data, long long size, bool toEnd);
    static void FileWritten(dev_t device, ino_t inode);

private:
    struct Entry {
        std::optional<struct stat> stat[2];      // [followLinks]
        std::optional<PathStatus> status[2];
    };
    // The innermost entry of a pinned path, filled with what the outermost
    // memo keeps of the folder there.
    static Entry* Find(const std::string& path);
    static void KeepFolder(const std::string& path, bool followLinks, const PathStatus* status,
                           const struct stat* st);

    struct Parked {
        std::string path;
        int fd = -1;
        dev_t device = 0;
        ino_t inode = 0;
        bool writable = false;
        long long length = -1;
        unsigned long long generation = 0;
        bool fresh = false;
        struct stat st {};
    };
    static constexpr size_t kMaxParked = 4;
    struct Head {
        dev_t device = 0;
        ino_t inode = 0;
        std::string bytes;
        bool toEnd = false;  // the block ends at the end of the file
    };

    PathMemo* outer_ = nullptr;
    std::vector<Parked> parked_;
    std::vector<Head> heads_;
    std::map<std::string, Entry> pinned_;
    std::map<std::string, std::set<std::string>> sidecars_;
    std::map<std::string, Entry> folders_;  // kept by the outermost memo
    std::map<std::string, std::pair<dev_t, ino_t>> made_;
    struct Kept {
        std::string path;
        dev_t device = 0;
        ino_t inode = 0;
        std::shared_ptr<const FileImage> image;
    };
    std::vector<Kept> images_;
};
