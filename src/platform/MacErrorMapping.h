// errno to Mac result codes, and the safe narrowing of 32-bit codes.
#pragma once

#include "MacTypes.h"

extern "C++" {

// The Mac code for a POSIX errno value: ENOENT -43, EEXIST -48, ENOSPC and
// EDQUOT -34, EIO -36, EACCES and EPERM -54, EROFS -44, ENAMETOOLONG -37,
// EMFILE and ENFILE -42, EINVAL -50; 0 stays 0; anything else -36.
OSErr MacErrorFromErrno(int errnoValue);

// MacErrorFromErrno(errno), read at the moment of the call.
OSErr MacErrorFromLastErrno();

// A 32-bit code as a 16-bit OSErr.  Codes that fit are kept; a code that
// does not fit keeps its low 16 bits unless they are 0, in which case the
// result is ioErr: a non-zero code never becomes noErr.
OSErr NarrowErr(SInt32 code);

} // extern "C++"
