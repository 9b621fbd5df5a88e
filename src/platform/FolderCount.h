// What a batch needs to know of a folder before it starts: how many items
// lie below it (the progress's file count) and whether files can be made
// in it.
#pragma once

#include "MacTypes.h"

#include <string>

// The number of non-folder entries below `folder`, recursively: symbolic
// links count as entries and are not followed, folders are entered and not
// counted, AppleDouble sidecars ("._name", another file's Finder data) are
// left out.  0 for a folder that cannot be opened.
int DeepFileCount(const std::string& folder);

// Whether files can be made in the folder `folder` (write and search
// permission, a volume that is not read-only): noErr, else the code of what
// stands in the way (permErr -54, a read-only volume -44, fnfErr -43).
OSErr CheckFolderWritable(const std::string& folder);
