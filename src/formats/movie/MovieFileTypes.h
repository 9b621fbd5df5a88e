// Registers the classes of this library with the sound-file core: the
// descriptors of its types (each beside its class), with the content probes
// that type detection asks for files no other format claims, the
// extensions the movie layer reads, and the movie-metadata reader of
// GetExtraInfo.  Call once at start-up, before any worker thread runs;
// calling it again is harmless.
#pragma once

#include "MacTypes.h"

#include <QString>

void RegisterMovieFileTypes();

// The content probes, for the descriptors: the channel count of an MP3 file,
// of an MPEG-4 audio file, and of any file the movie layer reads (0: not
// one).  One look at a file serves all three.
SInt32 ProbeMP3(const QString& path);
SInt32 ProbeMP4(const QString& path);
SInt32 ProbeMovie(const QString& path);
// Whether the file, typed by its content, is game music (a tune an emulator
// plays, with no end the file states): it is refused at its opening.
bool IsGameMusic(const QString& path);
