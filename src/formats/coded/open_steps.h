// The closing steps shared by the coded files' Open and ProbeHeader, for a
// data fork (`refNum`, marked open by `isOpen`) that was opened to be
// described.
#pragma once

#include "MacTypes.h"

// Closes a file whose description failed (it stays marked open if the
// close fails too) and returns the description's error.
OSErr CloseAfterFailedOpen(OSErr err, Boolean& isOpen, SInt16 refNum);

// Closes a file that was opened only to be probed: the probe's error first,
// else the close's.  A file that never opened returns `err` as it is.
OSErr CloseAfterProbe(OSErr err, Boolean& isOpen, SInt16 refNum);
