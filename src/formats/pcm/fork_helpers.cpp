#include "fork_helpers.h"

#include "ZuResourceFile.h"

OSErr RememberFSRef(const FSSpec& spec, FSRef* ref, Boolean* valid)
{
    FSRef made;
    const OSErr err = FSpMakeFSRef(&spec, &made);
    if (err == noErr) {
        *ref = made;
        *valid = true;
    }
    return err;
}

std::unique_ptr<ZuResourceFile> MakeResourceFork(const FSRef& ref, Boolean refValid, const std::string& path)
{
    if (refValid)
        return std::make_unique<ZuResourceFile>(ref, true);
    return std::make_unique<ZuResourceFile>(path, true);
}

HandleOwner::~HandleOwner()
{
    if (h)
        DisposeHandle(h);
}

std::size_t HandleOwner::size() const
{
    const Size n = GetHandleSize(h);
    return n > 0 ? std::size_t(n) : 0;
}
