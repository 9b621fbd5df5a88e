// What the output tab shows of the output folder: its volume (the mounted
// file system that holds it), the folder's place on that volume and the
// free space there.
//
// A folder on the root file system shows the root's name followed by
// " (Startup volume)" and its whole path; a folder on another mounted file
// system shows that volume's name and the path below its mount point, or
// "(Top level)" for the mount point itself.  Shown names are cut to 255
// bytes of UTF-8 on a character boundary.
#pragma once

#include <QString>

#include <cstdint>

struct OutputFolderInfo {
    bool defined = false;       // the path names an existing folder
    QString volumeName;
    QString folderText;         // "<undefined>" when not defined
    QString volumeRoot;         // the volume's mount point
    uint64_t freeBytes = 0;

    // Examines `path` (empty or null: not defined).
    static OutputFolderInfo describe(const QString& path);

    // `text` cut to at most `maxBytes` bytes of UTF-8, never inside a
    // character (a surrogate pair stays whole).
    static QString cutToUtf8Bytes(const QString& text, int maxBytes = 255);
};
