// Named user extended attributes of a file (e.g. "user.xdg.comment").
#pragma once

#include "MacTypes.h"

#include <QByteArray>
#include <string>

extern "C++" {

// The attribute that holds a file's Finder comment.
inline constexpr const char* kCommentAttributeName = "user.xdg.comment";

// Results: noErr; errFSAttributeNotFound when the attribute is not set;
// errFSOperationNotSupported when the file system has no user attributes
// (ENOTSUP), so that callers can tell that case apart; fnfErr for a missing
// file; other errno as MacErrorFromErrno.  Reading follows symbolic links;
// setting and removing never do (the item at the name itself: a link there,
// which may be another's, leads nowhere -- a link takes no user attribute).

// Reads the whole value (up to 64 KiB, the Linux limit).
OSErr GetExtendedAttribute(const std::string& path, const std::string& name, QByteArray* value);
// Creates or replaces the value.
OSErr SetExtendedAttribute(const std::string& path, const std::string& name, const QByteArray& value);
// Removes it; errFSAttributeNotFound when it was not set.
OSErr RemoveExtendedAttribute(const std::string& path, const std::string& name);

} // extern "C++"
