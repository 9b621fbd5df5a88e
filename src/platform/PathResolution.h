// The real location of a path: every symbolic link resolved.
#pragma once

#include "MacTypes.h"

#include <string>

extern "C++" {

// The absolute path of the item at `path` with every symbolic link, "."
// and ".." resolved (realpath).  noErr and *resolved on success; fnfErr
// when the item (or a link's target) does not exist; paramErr for an empty
// path; other errno values as mapped.
OSErr ResolvePath(const std::string& path, std::string* resolved);

} // extern "C++"
