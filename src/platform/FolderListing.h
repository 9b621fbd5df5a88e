// Folder listings in the Mac's order and case-insensitive name lookup.
#pragma once

#include "FileOperations.h"
#include "MacTypes.h"

#include <set>
#include <string>
#include <vector>

extern "C++" {

struct FolderEntry {
    std::string name;       // as stored on disk (UTF-8 bytes)
    bool isFolder = false;  // the item (the target, for a link) is a folder
    bool isSymlink = false; // the entry itself is a symbolic link
    UInt64 device = 0;      // of the item (the target, for a link); 0 for a dangling link
    UInt64 inode = 0;
    std::optional<ItemBirthTime> birthTime; // of the item (the target, for a link), when reported
};

// Orders names as the Mac lists them: case-insensitively (Unicode case
// folding of the UTF-8 text), ties broken by the bytes so the order is total.
bool FolderNameLess(const std::string& a, const std::string& b);

// The entries of `folder`, sorted with FolderNameLess, without "." and ".."
// and without AppleDouble sidecars (AppleDoubleFile::IsSidecarFileAt: a
// "._*" file that is one by its content).  Other hidden entries are kept.
// dirNFErr when `folder` is not a folder, fnfErr when it does not exist.
OSErr ListFolder(const std::string& folder, std::vector<FolderEntry>* entries);
// The AppleDouble sidecar names ("._*") in `folder`, from one read of the
// folder (nothing is asked of the items).
OSErr ListSidecarNames(const std::string& folder, std::set<std::string>* names);

// Names only.
OSErr ListFolderNames(const std::string& folder, std::vector<std::string>* names);

// Finds `name` in `folder` ignoring case and gives the name as stored on
// disk: an exact match wins; otherwise the first case-insensitive match in
// listing order.  Sidecars are never matched.  fnfErr when none.
OSErr FindNameCaseInsensitive(const std::string& folder, const std::string& name, std::string* storedName);

} // extern "C++"
