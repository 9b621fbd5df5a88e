// Temporary files: the one name shape of the items a batch makes while it
// works (outputs under their temporary names, intermediates, work files,
// publication records, region folders, the run's ledger), and files made
// as mkstemps makes them.
#pragma once

#include "MacTypes.h"

#include <string>

extern "C++" {

// The word every temporary item's name begins with.
inline constexpr char kTemporaryNameWord[] = ".QuillOutFile";

// The shape of a temporary item's name: kTemporaryNameWord, "-", six
// letters or digits, then the end of the name or one of ". - (" and the
// rest (".QuillOutFile-k3Ztq0", ".QuillOutFile-k3Ztq0.L.aif").  A name of
// this shape is never proof that an item is the program's: a user may name
// files so (see TemporaryLedger).
bool IsTemporaryItemName(const std::string& name);

// The name begins with the word, "-" and six letters or digits, whatever
// follows.
bool BeginsWithTemporaryTag(const std::string& name);

// A name that begins with the temporary word and a tag this process drew
// (NewTemporaryItemName and the name pickers): one of its own temporaries,
// not a user's name of the same shape.  Tags are forgotten when the last
// ledger of temporaries closes.
bool IsOwnTemporaryName(const std::string& name);

// `count` random letters and digits.
std::string RandomLetters(int count);

// A new temporary item name: kTemporaryNameWord, "-", six random letters
// or digits, then `suffix` (".publish": ".QuillOutFile-k3Ztq0.publish").
// Nothing is made; callers create under it exclusively.
std::string NewTemporaryItemName(const std::string& suffix);

// Creates and opens `folder` + "/" + prefix + six unique characters +
// suffix, exclusively (an existing name is never reused) with mode 0600.
// On noErr *path gets the full path and *descriptor the open descriptor
// (close-on-exec).  On any error nothing is left behind and *descriptor
// is -1.  dirNFErr for a missing folder; bdNamErr when the name would be
// longer than 255 bytes; other errno values as mapped.
OSErr CreateTemporaryFile(const std::string& folder, const std::string& prefix, const std::string& suffix,
                          std::string* path, int* descriptor);

// Closes a descriptor from CreateTemporaryFile.  paramErr for a negative
// descriptor; the mapped errno when close fails.
OSErr CloseTemporaryFile(int descriptor);

} // extern "C++"
