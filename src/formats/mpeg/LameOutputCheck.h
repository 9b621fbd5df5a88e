// Whether the outside encoder's MP3 file is whole.  The encoder may end
// with status 0 although its last writes failed (a full disk): its file is
// then cut short, and its header frame -- which it fills in last, with the
// length of the whole stream -- is still the blank it wrote first.  (The
// frames of the blank one are walked like any others.)  A file
// is whole when its header frame ("Xing" or "Info") gives the length the
// stream has between its ID3v2 tag and its ID3v1 tag; a stream whose
// frames are too short for a header frame (8 kbit/s) is whole when its
// frames end exactly where the stream does.
#pragma once

#include <string>

bool LAMEOutputComplete(const std::string& path);
