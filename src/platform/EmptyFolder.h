// Removes everything inside a folder, one entry of its listing after the
// other (files, links and whole subfolders); a failure does not stop the
// others.  Symbolic links are removed as links, never followed: nothing
// outside the folder is touched, also when a link is put in the place of a
// subfolder while the removal runs.
#pragma once

#include "MacTypes.h"

#include <string>
#include <vector>

// noErr when the folder is empty afterwards; else the first error, with
// the paths that could not be removed in *failed (may be null).  A missing
// folder is fnfErr; a path that is not a folder dirNFErr.
OSErr EmptyFolder(const std::string& folder, std::vector<std::string>* failed = nullptr);

// The same for a folder already open as `folderFd` (at `path`, for the
// failed paths); the descriptor stays open.
OSErr EmptyOpenFolder(int folderFd, const std::string& path, std::vector<std::string>* failed = nullptr);
