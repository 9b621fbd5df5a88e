// Opening a file with the media libraries' demuxers.
#pragma once

#include "FileView.h"
#include "MacTypes.h"

#include <cstdint>
#include <memory>
#include <string>

#include "MediaLibraries.h"

namespace movie_input {

// The demuxer's result while a file is opened.  Its ENOMEM comes from the
// sizes the file's tables claim (far beyond any real file), not from a
// shortage of memory: the file's own failure.
OSErr ErrorFromAV(int code, OSErr fallback);

// Only regular files are opened (a pipe or device would block or never end).
OSErr CheckRegularFile(const std::string& path);

// The demuxer the file's content names with its name left out, or null
// when the content alone does not tell.  A raw MPEG audio, AC-3, E-AC-3 or
// ADTS stream of a few frames scores low however whole it is: its frames,
// one after the other to the end, tell.  fnfErr when the file cannot be
// read.
OSErr ContentFormat(const std::string& path, const AVInputFormat** input);

// Opens the file and reads its stream information (the libraries' code
// when that fails; `*format` is then null or still to be closed).  The
// libraries choose the demuxer from the content and the name together;
// where that choice finds no sound track (a name ending that belongs to
// another kind of file), the demuxer the content alone names is taken, as
// type detection does.
//
// A file the demuxer stops short of its sound (ViewFor) is opened through
// a FileView, which `*view` then holds (with the context it reads through,
// in `*io`, for the caller to free after `*format`).
int OpenInput(const std::string& path, AVFormatContext** format, std::unique_ptr<FileView>* view,
              AVIOContext** io);

// The length of the file at `path`; -1 when it cannot be told.
int64_t FileBytes(const std::string& path);

void QuietLogs();

} // namespace movie_input
