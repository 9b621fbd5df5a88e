// Small helpers the format classes share: a file's FSRef, its resource
// fork (SoundDesigner II headers, System 7 sounds) and the resource handles
// read from it, the entry checks of WriteBlock, the cap on the size of a
// sample block.
#pragma once

#include "FileManager.h"
#include "MemoryManager.h"

#include <cstddef>
#include <memory>
#include <string>

class CSoundFile;
class ZuResourceFile;

// Makes the FSRef of `spec` and keeps it in *ref with *valid set; both stay
// as they were on failure, whose code is returned.
OSErr RememberFSRef(const FSSpec& spec, FSRef* ref, Boolean* valid);

// The resource fork of a file: by its FSRef when `refValid`, else by path.
std::unique_ptr<ZuResourceFile> MakeResourceFork(const FSRef& ref, Boolean refValid, const std::string& path);

// The first checks of a WriteBlock that writes through a fork of its own:
// kFileNotOpenedErr when the file is not open, paramErr without a block;
// *frames is cut to the block's frames.  noErr with *frames 0: nothing to
// write.
OSErr BeginForkWrite(bool isOpen, const UInt8* block, UInt32 blockFrames, UInt32* frames);

// Fewer frames per sample block when a block of `frameBytes`-byte frames
// would pass `maxBlockBytes` (at least one frame a block).
void CapBlockBytes(CSoundFile& file, UInt64 frameBytes, UInt64 maxBlockBytes);

// A sample rate as a header's unsigned 32-bit word: truncated toward zero,
// 0 for a rate that is not positive, saturated at 2^32 - 1.
UInt32 RateHeaderWord(double rate);

// A resource handle disposed of when it goes out of scope.
struct HandleOwner {
    Handle h = nullptr;
    explicit HandleOwner(Handle handle) : h(handle) {}
    ~HandleOwner();
    HandleOwner(const HandleOwner&) = delete;
    HandleOwner& operator=(const HandleOwner&) = delete;
    const UInt8* data() const { return reinterpret_cast<const UInt8*>(*h); }
    UInt8* bytes() { return reinterpret_cast<UInt8*>(*h); }
    std::size_t size() const;
};
