// File, folder and memory checks, and Pascal strings: the helpers at the
// seam between the program's own code and the File Manager.
#pragma once

#include "error_codes.h"
#include "FileManager.h"
#include "MacTypes.h"

#include <QString>

// True when the Finder information of the file can be read (FSpGetFInfo
// gives noErr); false for every failure, a folder included.
Boolean FSpExists(const FSSpec* spec);

// Creates the folder `name` inside `parent` (no catalog information set).
// newRef, newSpec and newDirID may each be null.  Returns the platform's
// result: dupFNErr (-48) when the name exists; bdNamErr for an empty name
// or one of more than 255 UTF-16 units (or 255 bytes of UTF-8).
OSErr CreateDirectoryUnicode(const FSRef* parent, const QString& name, FSRef* newRef, FSSpec* newSpec,
                             UInt32* newDirID);

// The check after an allocation: with depth 0, noErr; otherwise -21004 when
// `pointer` is null or, for depth n > 1, when one of the n-1 pointers it
// leads to (a handle's master pointer ...) is null; noErr otherwise.
OSErr CheckMemError(const void* pointer, UInt32 depth);

// A Pascal string (Mac OS Roman) as text; an empty string for null.
QString NSStringFromPascalString(ConstStr255Param pascal);
// The same conversion under the name that code working with strings uses.
inline QString stringWithPascalString(ConstStr255Param pascal)
{
    return NSStringFromPascalString(pascal);
}

// Writes `text` as a Pascal string into `out` (a Str255, 256 bytes).  True
// on success; false when the text has more than 255 Mac OS Roman characters
// or a character that Mac OS Roman cannot hold.  On false, `out` holds an
// empty Pascal string: never use it as the text.
[[nodiscard]] bool CFStringToStr255(const QString& text, StringPtr out);

// Appends `source` to `destination` (a Str255) in place; the result holds
// at most 254 characters, and a destination that already holds 254 or more
// is left as it is.
void PStrCat(StringPtr destination, ConstStr255Param source);

// 1-based position of the first occurrence of `needle` in `haystack` (exact
// byte comparison); 0 when it does not occur; 1 for an empty needle.
SInt16 PStrPos(ConstStr255Param needle, ConstStr255Param haystack);
