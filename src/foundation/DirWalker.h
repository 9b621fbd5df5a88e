// Steps forwards or backwards through every file below a folder, depth
// first, one file per call (preview playback's next and previous file
// across nested folders).  Folders are entered, never returned.  Entries
// come in the platform's folder order (case-insensitive); AppleDouble
// sidecars ("._*") are skipped, other hidden entries are not.  A folder
// that the walk is already inside (a symbolic link back up the tree) is
// neither entered nor returned, so every walk ends.
#pragma once

#include "FolderListing.h"

#include <QString>
#include <string>
#include <vector>

class DirWalker {
public:
    explicit DirWalker(const QString& root);

    // Restarts the walk before the first entry of `folder`.
    void setPath(const QString& folder);

    // The next file, or a null string after the last one (the walk then
    // stays at the end: prev() gives the last file again).
    QString next() { return curFileForward(); }
    // The previous file, or a null string before the first one.
    QString prev() { return curFileReverse(); }

    QString curFileForward();
    QString curFileReverse();

private:
    struct FolderId {
        UInt64 device = 0;
        UInt64 inode = 0;
        bool known = false;
    };

    QString step(int direction);
    void load(const std::string& folder);
    bool isOpenFolder(const FolderId& id) const;

    std::string basePath_;
    std::vector<std::string> contents_;
    std::string curDir_;
    long index_ = -1;
    std::vector<long> stack_;       // saved index of each folder entered, innermost last
    std::vector<FolderId> openIds_; // the root, then each folder entered
};
