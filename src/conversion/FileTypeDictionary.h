// The file-type dictionary as the conversion layer reads it: the sound-file
// layer's per-type properties ("'abcd'" -> "text", "canBeWritten",
// "numBitsPopup", "channelHandlingPopup", ...) plus, once the file-type
// table is built, each type's SoundFileDispatcher under "dispatcher".
//
// Until a dictionary is installed, the sound-file layer's own
// (LoadSoundFileProperties) is used as it is.  Installing is meant for
// start-up (the file-type table) and tests; reading is safe from any
// thread.
#pragma once

#include "MacTypes.h"
#include "SoundFileDispatcher.h"

#include <QString>
#include <QVariantMap>

// Key of the dispatcher in an entry.
extern const QString kFileTypeDispatcherKey; // "dispatcher"

// The installed dictionary, or the sound-file layer's.
QVariantMap GetFileTypeDictionary();
// Installs `dictionary` for every later reader.
void SetFileTypeDictionary(const QVariantMap& dictionary);
// Drops the installed dictionary (the sound-file layer's is used again).
void ResetFileTypeDictionary();

// The entry of a type code (key as FileTypeForHFSTypeCode makes it); empty
// when the type has none or the entry is not a dictionary.
QVariantMap GetFileTypeEntry(OSType type);
// Whether outputs of the type can be written here: its format class is
// built in (a factory is registered) and its entry says "canBeWritten".
bool FileTypeCanBeWritten(OSType type);
// The dispatcher stored in an entry; null when there is none.
SoundFileDispatcherRef GetEntryDispatcher(const QVariantMap& entry);
// An entry with `dispatcher` stored under "dispatcher".
void SetEntryDispatcher(QVariantMap* entry, const SoundFileDispatcherRef& dispatcher);
