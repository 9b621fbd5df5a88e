// Registers the classes of this library with the sound-file core: the
// factories of 'MooV', 'Mp3 ', 'Mpg4' and 'caff', the content probes that
// type detection asks for files no other format claims, the extensions the
// movie layer reads, and the movie-metadata reader of GetExtraInfo.  Call
// once at start-up, before any worker thread runs; calling it again is
// harmless.
#pragma once

void RegisterMovieFileTypes();
