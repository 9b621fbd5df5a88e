#include "format_helpers.h"

#include "CSoundFile.h"
#include "ZuResourceFile.h"

#include <algorithm>

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

OSErr BeginForkWrite(bool isOpen, const UInt8* block, UInt32 blockFrames, UInt32* frames)
{
    if (!isOpen)
        return kFileNotOpenedErr;
    if (!block)
        return paramErr;
    *frames = std::min(*frames, blockFrames);
    return noErr;
}

void CapBlockBytes(CSoundFile& file, UInt64 frameBytes, UInt64 maxBlockBytes)
{
    if (UInt64(file.GetBufferFrames()) * frameBytes > maxBlockBytes)
        file.SetBufferFrames(UInt32(std::max<UInt64>(1, maxBlockBytes / frameBytes)));
}

UInt32 RateHeaderWord(double rate)
{
    if (!(rate > 0.0))
        return 0;
    if (rate >= 4294967295.0)
        return 0xFFFFFFFFu;
    return UInt32(rate);
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
