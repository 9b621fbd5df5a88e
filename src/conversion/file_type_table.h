// The file-type table: for each type whose entry of the file-type
// dictionary has its place in the type list ("listOrder", the order
// --list-types shows), a SoundFileDispatcher with the type's create function
// and its setting callbacks (the entry's data through TypeSettingRules, and
// the rule it names from per_type_setting_checks.h), stored in the entry
// under "dispatcher".
//
// The create functions reach the format classes through the sound-file
// core's factory registry (SoundFileRegistry.h), which each format library
// fills from its registration function; a type whose library has not
// registered a factory creates no object (null).  A class with two codes
// lists both under "createdAs", in the order their factories are tried.
// The table is built once at start-up, on the main thread, and only read
// afterwards.
#pragma once

#include "MacTypes.h"
#include "SoundFileDispatcher.h"

#include <QVariantMap>

#include <vector>

// Puts a new dispatcher into the entry of every table type's code in
// `fileTypeDictionary` (keys as FileTypeForHFSTypeCode makes them).  A
// code without an entry, or whose entry is not a dictionary, gets nothing.
void BuildSoundFileDispatchers(QVariantMap& fileTypeDictionary);

// The same on the sound-file core's shared file-type dictionary
// (LoadSoundFileProperties), where every later reader finds them.
void BuildSoundFileDispatchers();

// A new dispatcher for one type code as the table fills it; null for a code
// the table does not hold.
SoundFileDispatcherRef MakeSoundFileDispatcher(OSType type);

// The table's type codes, in the order of the type list.
std::vector<OSType> GetFileTypeTableCodes();

// The type of the conversion's work files (linear audio parked between
// passes), one of the table's codes.
extern const OSType kWorkFileType;
// The output type of a new conversion, and of one that keeps the input's
// type or names none.
extern const OSType kDefaultOutputFileType;
