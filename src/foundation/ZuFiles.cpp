#include "ZuFiles.h"

#include "MacRoman.h"

Boolean FSpExists(const FSSpec* spec)
{
    if (!spec)
        return false;
    FInfo info;
    return FSpGetFInfo(spec, &info) == noErr;
}

OSErr CreateDirectoryUnicode(const FSRef* parent, const QString& name, FSRef* newRef, FSSpec* newSpec,
                             UInt32* newDirID)
{
    // The platform's long-name record holds 255 UTF-16 units; a longer name
    // is refused rather than cut, so that no other folder is made or found.
    if (name.isEmpty() || name.size() > 255)
        return bdNamErr;
    return FSCreateDirectoryUnicode(parent, static_cast<UniCharCount>(name.size()),
                                    reinterpret_cast<const UniChar*>(name.utf16()), kFSCatInfoNone, nullptr,
                                    newRef, newSpec, newDirID);
}

OSErr CheckMemError(const void* pointer, UInt32 depth)
{
    // Allocations here report failure only through a null result, so the
    // platform's own error is always noErr.
    if (depth == 0)
        return noErr;
    const void* level = pointer;
    for (UInt32 i = 1;; ++i) {
        if (!level)
            return kCouldNotCreatePointerErr;
        if (i == depth)
            return noErr;
        level = *static_cast<const void* const*>(level);
    }
}

QString NSStringFromPascalString(ConstStr255Param pascal)
{
    if (!pascal)
        return QString();
    return MacRoman::fromPascal(pascal, sizeof(Str255));
}

bool CFStringToStr255(const QString& text, StringPtr out)
{
    if (!out)
        return false;
    bool lossless = false;
    if (MacRoman::toPascal(text, out, 255, &lossless) && lossless)
        return true;
    out[0] = 0;
    return false;
}

void PStrCat(StringPtr destination, ConstStr255Param source)
{
    constexpr unsigned kMaxLength = 254;
    unsigned length = destination[0];
    const unsigned sourceLength = source[0];
    if (length >= kMaxLength || sourceLength == 0)
        return;
    for (unsigned i = 1; i <= sourceLength && length < kMaxLength; ++i)
        destination[++length] = source[i];
    destination[0] = static_cast<unsigned char>(length);
}

SInt16 PStrPos(ConstStr255Param needle, ConstStr255Param haystack)
{
    const unsigned n = needle[0];
    const unsigned h = haystack[0];
    if (n > h)
        return 0;
    for (unsigned k = 0; k + n <= h; ++k) {
        unsigned i = 0;
        while (i < n && needle[1 + i] == haystack[1 + k + i])
            ++i;
        if (i == n)
            return static_cast<SInt16>(k + 1);
    }
    return 0;
}
