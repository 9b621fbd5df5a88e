// Temporary files made as mkstemps makes them: a unique name created
// exclusively, readable and writable by the owner only, and kept open.
#pragma once

#include "MacTypes.h"

#include <string>

extern "C++" {

// Creates and opens `folder` + "/" + prefix + six unique characters +
// suffix, exclusively (an existing name is never reused) with mode 0600.
// On noErr *path gets the full path and *descriptor the open descriptor
// (close-on-exec).  On any error nothing is left behind and *descriptor
// is -1.  dirNFErr for a missing folder; bdNamErr when the name would be
// longer than 255 bytes; other errno values as mapped.
OSErr CreateTemporaryFile(const std::string& folder, const std::string& prefix, const std::string& suffix,
                          std::string* path, int* descriptor);

// Closes a descriptor from CreateTemporaryFile.  paramErr for a negative
// descriptor; the mapped errno when close fails.
OSErr CloseTemporaryFile(int descriptor);

} // extern "C++"
