// What a batch needs to know of a folder before it starts: how many items
// lie below it (the progress's file count).
#pragma once

#include <string>

// The number of non-folder entries below `folder`, recursively: symbolic
// links count as entries and are not followed, folders are entered and not
// counted, AppleDouble sidecars ("._name", another file's Finder data) are
// left out.  0 for a folder that cannot be opened.
int DeepFileCount(const std::string& folder);

