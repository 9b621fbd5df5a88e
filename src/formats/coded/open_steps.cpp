#include "open_steps.h"

#include "FileManager.h"

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
