// The block behind a Handle, shared by the Memory Manager and the Resource
// Manager stand-ins.  Internal to the platform layer.
#pragma once

#include "MemoryManager.h"

struct HandleBlock {
    Ptr data = nullptr;   // the master pointer: a Handle is &block->data
    Size size = 0;
    // The resource this block holds while it belongs to an open resource
    // file (resFile 0: a plain handle).
    SInt16 resFile = 0;
    UInt64 resSerial = 0;
};

// The block of a live handle, or null.  The block stays valid until the
// handle is disposed; one handle is used by one thread at a time.
HandleBlock* HandleBlockOf(Handle h);

// Called by DisposeHandle for a block still linked to a resource file:
// unlinks it there (defined by the Resource Manager).
void ResourceManagerForgetHandle(Handle h);
