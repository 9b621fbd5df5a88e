// Relocatable blocks (handles), as the Memory Manager hands them out.
//
// A Handle points at a master pointer: *h is the block's first byte, so
// code indexes (*h)[i] as on the Mac.  The master pointer is never null for
// a live handle (an empty block still has a valid address); it may move
// when the block is resized.  Handles are checked against a registry before
// any call here uses them, so a disposed or foreign handle gives nilHandleErr
// instead of touching freed memory.
//
// The last error of this thread's Memory Manager call is kept for MemError.
#pragma once

#include "MacTypes.h"

extern "C++" {

typedef char* Ptr;
typedef Ptr* Handle;
typedef long Size;

// Memory Manager result codes (besides memFullErr, -108).
constexpr OSErr nilHandleErr = -109;  // a null, disposed or unknown handle
constexpr OSErr memWZErr = -111;      // a call on a free block
constexpr OSErr memSCErr = -116;      // a negative size

// The largest block handed out (1 GiB): larger requests give memFullErr.
constexpr Size kMaxHandleSize = Size(1) << 30;

// A new block of `size` bytes (contents undefined for NewHandle, zero for
// NewHandleClear).  Null with MemError memFullErr or memSCErr.
Handle NewHandle(Size size);
Handle NewHandleClear(Size size);

// Frees the block.  A null handle does nothing; an unknown one sets
// nilHandleErr.  A handle that still belongs to an open resource file is
// first taken out of it (the resource stays in the file).
void DisposeHandle(Handle h);

// The block's size; 0 (and nilHandleErr) for a null or unknown handle.
Size GetHandleSize(Handle h);

// Resizes the block, keeping its first bytes; growing leaves the new bytes
// undefined.  memFullErr (size unchanged) when the memory is not there.
void SetHandleSize(Handle h, Size newSize);

// The result of this thread's last Memory Manager call.
OSErr MemError();

// Locking keeps nothing in place here (blocks only move when resized);
// the calls exist so that code reads as on the Mac.
void HLock(Handle h);
void HUnlock(Handle h);

// A new handle holding a copy of `size` bytes at `source`.
// Returns memFullErr/memSCErr/paramErr; *h is null on failure.
OSErr PtrToHand(const void* source, Handle* h, Size size);

// True while `h` is a live handle.
bool IsValidHandle(Handle h);

// For a batch that makes and frees the same working buffers file after
// file: freed memory stays with the process for reuse instead of going back
// to the system at once (and being faulted in again for the next file).
// Peak memory is unchanged.  Once per process; harmless to call again.
void KeepFreedMemoryForReuse();

} // extern "C++"
