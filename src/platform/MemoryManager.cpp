#include "MemoryManager.h"

#include "HandleBlock.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <unordered_set>

namespace {

thread_local OSErr lastMemError = noErr;

std::mutex& RegistryMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::unordered_set<HandleBlock*>& Registry()
{
    static std::unordered_set<HandleBlock*> blocks;
    return blocks;
}

HandleBlock* BlockFromHandle(Handle h)
{
    // The master pointer is the block's first member.
    return reinterpret_cast<HandleBlock*>(h);
}

Handle AllocateHandle(Size size, bool clear)
{
    if (size < 0) {
        lastMemError = memSCErr;
        return nullptr;
    }
    if (size > kMaxHandleSize) {
        lastMemError = memFullErr;
        return nullptr;
    }
    auto* block = new (std::nothrow) HandleBlock;
    if (!block) {
        lastMemError = memFullErr;
        return nullptr;
    }
    // At least one byte, so that the master pointer of an empty block is
    // never null.
    block->data = static_cast<Ptr>(clear ? std::calloc(size_t(size ? size : 1), 1)
                                         : std::malloc(size_t(size ? size : 1)));
    if (!block->data) {
        delete block;
        lastMemError = memFullErr;
        return nullptr;
    }
    block->size = size;
    {
        std::lock_guard<std::mutex> lock(RegistryMutex());
        Registry().insert(block);
    }
    lastMemError = noErr;
    return &block->data;
}

} // namespace

HandleBlock* HandleBlockOf(Handle h)
{
    if (!h)
        return nullptr;
    HandleBlock* block = BlockFromHandle(h);
    std::lock_guard<std::mutex> lock(RegistryMutex());
    return Registry().count(block) ? block : nullptr;
}

Handle NewHandle(Size size)
{
    return AllocateHandle(size, false);
}

Handle NewHandleClear(Size size)
{
    return AllocateHandle(size, true);
}

void DisposeHandle(Handle h)
{
    if (!h) {
        lastMemError = noErr;
        return;
    }
    HandleBlock* block = HandleBlockOf(h);
    if (!block) {
        lastMemError = nilHandleErr;
        return;
    }
    if (block->resFile != 0)
        ResourceManagerForgetHandle(h);
    {
        std::lock_guard<std::mutex> lock(RegistryMutex());
        Registry().erase(block);
    }
    std::free(block->data);
    delete block;
    lastMemError = noErr;
}

Size GetHandleSize(Handle h)
{
    HandleBlock* block = HandleBlockOf(h);
    if (!block) {
        lastMemError = nilHandleErr;
        return 0;
    }
    lastMemError = noErr;
    return block->size;
}

void SetHandleSize(Handle h, Size newSize)
{
    HandleBlock* block = HandleBlockOf(h);
    if (!block) {
        lastMemError = nilHandleErr;
        return;
    }
    if (newSize < 0) {
        lastMemError = memSCErr;
        return;
    }
    if (newSize > kMaxHandleSize) {
        lastMemError = memFullErr;
        return;
    }
    Ptr grown = static_cast<Ptr>(std::realloc(block->data, size_t(newSize ? newSize : 1)));
    if (!grown) {
        lastMemError = memFullErr;
        return;
    }
    block->data = grown;
    block->size = newSize;
    lastMemError = noErr;
}

OSErr MemError()
{
    return lastMemError;
}

void HLock(Handle h)
{
    lastMemError = HandleBlockOf(h) ? noErr : nilHandleErr;
}

void HUnlock(Handle h)
{
    lastMemError = HandleBlockOf(h) ? noErr : nilHandleErr;
}

OSErr PtrToHand(const void* source, Handle* h, Size size)
{
    if (!h || (!source && size > 0)) {
        lastMemError = paramErr;
        return paramErr;
    }
    *h = NewHandle(size);
    if (!*h)
        return lastMemError;
    if (size > 0)
        std::memcpy(**h, source, size_t(size));
    return noErr;
}

bool IsValidHandle(Handle h)
{
    return HandleBlockOf(h) != nullptr;
}

void KeepFreedMemoryForReuse()
{
#if defined(__GLIBC__)
    static std::once_flag once;
    std::call_once(once, [] {
        // Blocks up to 16 MB come from the heap rather than fresh mappings,
        // and up to 32 MB of free heap is kept before any is given back.
        mallopt(M_MMAP_THRESHOLD, 16 << 20);
        mallopt(M_TRIM_THRESHOLD, 32 << 20);
    });
#endif
}
