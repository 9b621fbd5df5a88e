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

OSErr ReadExactlyAt(SInt16 refNum, UInt64 position, void* bytes, std::size_t count)
{
    OSErr err = SetFPos(refNum, fsFromStart, SInt64(position));
    if (err)
        return err;
    long n = long(count);
    err = FSRead(refNum, &n, bytes);
    if (!err && std::size_t(n) != count)
        err = eofErr;
    return err;
}

OSErr WriteExactlyAt(SInt16 refNum, UInt64 position, const void* bytes, std::size_t count)
{
    OSErr err = SetFPos(refNum, fsFromStart, SInt64(position));
    if (err)
        return err;
    long n = long(count);
    err = FSWrite(refNum, &n, bytes);
    if (!err && std::size_t(n) != count)
        err = ioErr;
    return err;
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
