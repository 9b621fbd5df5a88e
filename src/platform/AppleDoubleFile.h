// The AppleDouble sidecar "._name" that carries a file's Finder information
// and resource fork on a file system that has neither.
//
// Layout written (AppleDouble version 2, all big-endian):
//   magic 0x00051607, version 0x00020000, 16 filler bytes, entry count,
//   entry descriptors {id, offset, length} of 12 bytes each, then the
//   entries: Finder Info (id 9, 32 bytes: type, creator, flags, location,
//   folder, then 16 bytes of extended info) and the resource fork (id 2),
//   always last so that it can grow.  Entries of other ids found in a
//   sidecar are kept as they were (between the two).  A sidecar with a fork
//   always has a Finder Info entry (zeros when there is no Finder info), so
//   that the fork of the usual two-entry sidecar starts at offset 0x52,
//   where other readers (libsndfile) look for it.
//
// Reading also accepts a "._name" that is a bare resource fork (no
// AppleDouble magic), as some tools write it.  Reading never creates a
// sidecar.  Every entry is bounds-checked; a malformed sidecar gives
// kAppleDoubleMalformedErr, never a crash.
#pragma once

#include "MacTypes.h"

#include <QByteArray>
#include <string>
#include <vector>

class AppleDoubleFile {
public:
    static constexpr UInt32 kMagic = 0x00051607;
    static constexpr UInt32 kVersion2 = 0x00020000;
    static constexpr UInt32 kResourceForkID = 2;
    static constexpr UInt32 kFinderInfoID = 9;
    static constexpr int kFinderInfoSize = 32;
    // Sidecars above this size are refused on reading (no real resource
    // fork comes near it).
    static constexpr SInt64 kMaxSidecarSize = SInt64(1) << 31;

    // The sidecar of the file at `dataPath` (which need not exist).
    explicit AppleDoubleFile(std::string dataPath);

    // "dir/._name" for "dir/name".
    static std::string SidecarPathFor(const std::string& dataPath);
    // True for names that are sidecars ("._" followed by at least one byte).
    static bool IsSidecarName(const std::string& name);
    // True when the item `name` of the open folder `folderFd` is a sidecar
    // by its content, not its name alone: a regular file with a sidecar's
    // name that begins with the AppleDouble (or AppleSingle) magic, or that
    // is empty or a bare resource fork (its header's data and map lie inside
    // it) beside the file it belongs to.  A sound file that happens to be
    // named "._x.wav" is none.  Nothing but a regular file is opened.
    static bool IsSidecarFileAt(int folderFd, const std::string& name);
    // The same for the item at `path`.
    static bool IsSidecarFile(const std::string& path);

    const std::string& dataPath() const { return dataPath_; }
    std::string sidecarPath() const { return SidecarPathFor(dataPath_); }

    // Loads the sidecar.  noErr when there is none (everything empty, exists()
    // false); kAppleDoubleMalformedErr for a malformed one (nothing loaded);
    // other I/O errors as mapped from errno.
    OSErr Read();

    // Parses sidecar bytes (what Read does after reading the file).
    OSErr Parse(const QByteArray& bytes);

    // Writes the sidecar with the current contents, replacing the old one in
    // one step (written under a unique name, then renamed over it).  With no
    // Finder info, no resource fork and no other entries, the sidecar is
    // removed instead.  A sidecar read as a bare resource fork is written
    // back as AppleDouble.
    OSErr Write() const;

    // The bytes Write would store.
    QByteArray Serialize() const;

    // Removes the sidecar (noErr when there is none).
    OSErr Remove() const;

    bool exists() const { return exists_; }
    bool wasBareResourceFork() const { return bareFork_; }

    // Finder information.  Getters give 0 when there is none.
    bool hasFinderInfo() const { return hasFinderInfo_; }
    OSType fileType() const;
    OSType fileCreator() const;
    UInt16 finderFlags() const;
    // The 32 bytes as stored (zeros when there is none).
    QByteArray finderInfoBytes() const;
    // Sets type, creator and flags; the other 26 bytes keep their values.
    void setFinderInfo(OSType type, OSType creator, UInt16 flags);
    // Replaces all 32 bytes (shorter input is zero-padded, longer cut).
    void setFinderInfoBytes(const QByteArray& bytes);
    void removeFinderInfo();

    // Resource fork.  hasResourceFork() is also true for an empty fork.
    bool hasResourceFork() const { return hasResourceFork_; }
    const QByteArray& resourceFork() const { return resourceFork_; }
    void setResourceFork(const QByteArray& fork);
    void removeResourceFork();

    // One-call helpers on the sidecar of `dataPath`.
    // *exists (may be null) tells whether the file has a resource fork.
    static OSErr ReadResourceFork(const std::string& dataPath, QByteArray* fork, bool* exists = nullptr);
    static OSErr WriteResourceFork(const std::string& dataPath, const QByteArray& fork);
    static OSErr ReadFinderInfo(const std::string& dataPath, OSType* type, OSType* creator, UInt16* flags);
    static OSErr WriteFinderInfo(const std::string& dataPath, OSType type, OSType creator, UInt16 flags);

private:
    struct Entry {
        UInt32 id;
        QByteArray data;
    };

    void clear();

    std::string dataPath_;
    bool exists_ = false;
    bool bareFork_ = false;
    bool hasFinderInfo_ = false;
    bool hasResourceFork_ = false;
    QByteArray finderInfo_;              // 32 bytes when present
    QByteArray resourceFork_;
    std::vector<Entry> otherEntries_;    // kept verbatim, in their order
};
