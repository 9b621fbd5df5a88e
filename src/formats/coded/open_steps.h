// The opening and closing steps shared by the coded files, for the data
// fork of `spec` (`refNum`, marked open by `isOpen`).
#pragma once

#include "CSoundFile.h"

#include <cstddef>

// Opens the data fork to read it; opWrErr while it is open already.
OSErr OpenDataToRead(const FSSpec& spec, SInt16& refNum, Boolean& isOpen);

// Creates the data fork of `file` exclusively and opens it to write.  The
// file's HFS type and creator go into a sidecar only where neither a header
// (`headerTellsType`) nor the name's extension tells the type.
OSErr CreateDataToWrite(const CSoundFile& file, const FSSpec& spec, bool headerTellsType, SInt16& refNum,
                        Boolean& isOpen);

// Exact reads and writes of the open file `refNum` at `position`: eofErr
// for a short read, ioErr for a short write.
OSErr ReadExactlyAt(SInt16 refNum, UInt64 position, void* bytes, std::size_t count);
OSErr WriteExactlyAt(SInt16 refNum, UInt64 position, const void* bytes, std::size_t count);

// Closes a file whose description failed (it stays marked open if the
// close fails too) and returns the description's error.
OSErr CloseAfterFailedOpen(OSErr err, Boolean& isOpen, SInt16 refNum);

// Closes a file that was opened only to be probed: the probe's error first,
// else the close's.  A file that never opened returns `err` as it is.
OSErr CloseAfterProbe(OSErr err, Boolean& isOpen, SInt16 refNum);
