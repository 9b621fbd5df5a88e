#include "MacErrorMapping.h"

#include <cerrno>

OSErr MacErrorFromErrno(int errnoValue)
{
    switch (errnoValue) {
    case 0:
        return noErr;
    case ENOENT:
        return fnfErr;
    case EEXIST:
        return dupFNErr;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return dskFulErr;
    case EIO:
        return ioErr;
    case EACCES:
    case EPERM:
        return permErr;
    case EROFS:
        return wPrErr;
    case ENAMETOOLONG:
        return bdNamErr;
    case EMFILE:
    case ENFILE:
        return tmfoErr;
    case EINVAL:
        return paramErr;
    default:
        return ioErr;
    }
}

OSErr MacErrorFromLastErrno()
{
    return MacErrorFromErrno(errno);
}

OSErr NarrowErr(SInt32 code)
{
    if (code >= INT16_MIN && code <= INT16_MAX)
        return OSErr(code);
    const OSErr low = OSErr(UInt16(UInt32(code) & 0xFFFF));
    return low != 0 ? low : ioErr;
}
