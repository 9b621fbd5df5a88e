// Finder comments of files, kept in the extended attribute
// "user.xdg.comment" (UTF-8), where desktop file managers keep them too.
#pragma once

#include "MacTypes.h"

#include <QString>

// The comment of the file at `path`; empty when it has none or it cannot be
// read (no such file, a file system without user attributes ...).
QString finder_get_comment(const QString& path);

// Sets the comment of the file at `path` (note the order: comment first).
// Up to 11 attempts, each storing the comment and reading it back; stops at
// the first attempt whose read-back equals the comment.  Failures are not
// raised: the result (noErr when the comment reads back equal, else the
// last error, ioErr for a read-back that differed) may be ignored.
OSErr finder_set_comment(const QString& comment, const QString& path);
