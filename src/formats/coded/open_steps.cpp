#include "open_steps.h"

#include "FileManager.h"
#include "telephony_names.h"

OSErr OpenDataToRead(const FSSpec& spec, SInt16& refNum, Boolean& isOpen)
{
    if (isOpen)
        return opWrErr;
    const OSErr err = FSpOpenDF(&spec, fsRdPerm, &refNum);
    if (!err)
        isOpen = true;
    return err;
}

OSErr CreateDataToWrite(const CSoundFile& file, const FSSpec& spec, bool headerTellsType, SInt16& refNum,
                        Boolean& isOpen)
{
    const bool told = headerTellsType || ExtensionGivesType(spec.name, file.GetFileType());
    OSErr err = FSpCreate(&spec, told ? 0 : file.GetHFSCreator(), told ? 0 : file.GetHFSFileType(), 0);
    if (err)
        return err;
    if ((err = FSpOpenDF(&spec, fsRdWrPerm, &refNum)))
        return err;
    isOpen = true;
    return noErr;
}

namespace {

// Moves exactly `count` bytes at `position` through `transfer` (FSRead or
// FSWrite); `shortErr` when fewer moved.
template <class Bytes, class Transfer>
OSErr TransferExactlyAt(SInt16 refNum, UInt64 position, Bytes bytes, std::size_t count, Transfer transfer,
                        OSErr shortErr)
{
    OSErr err = SetFPos(refNum, fsFromStart, SInt64(position));
    if (err)
        return err;
    long n = long(count);
    err = transfer(refNum, &n, bytes);
    if (!err && std::size_t(n) != count)
        err = shortErr;
    return err;
}

} // namespace

OSErr ReadExactlyAt(SInt16 refNum, UInt64 position, void* bytes, std::size_t count)
{
    const auto read = [](SInt16 ref, long* n, void* to) { return FSRead(ref, n, to); };
    return TransferExactlyAt(refNum, position, bytes, count, read, OSErr(eofErr));
}

OSErr WriteExactlyAt(SInt16 refNum, UInt64 position, const void* bytes, std::size_t count)
{
    const auto write = [](SInt16 ref, long* n, const void* from) { return FSWrite(ref, n, from); };
    return TransferExactlyAt(refNum, position, bytes, count, write, OSErr(ioErr));
}

OSErr CloseAfterFailedOpen(OSErr err, Boolean& isOpen, SInt16 refNum)
{
    if (isOpen && FSClose(refNum) == noErr)
        isOpen = false;
    return err;
}

OSErr CloseAfterProbe(OSErr err, Boolean& isOpen, SInt16 refNum)
{
    if (!isOpen)
        return err;
    const OSErr closeErr = FSClose(refNum);
    if (closeErr == noErr)
        isOpen = false;
    return err ? err : closeErr;
}
