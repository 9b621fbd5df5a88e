// The outputs created for the current input, as paths relative to the
// conversion's output folder ("outer/inner/name.aif").  The batch driver
// renames them from their temporary names after each input and clears the
// list.  The list is guarded by a lock, so any thread may use it.
#pragma once

#include "FileManager.h"
#include "MacTypes.h"
#include "TemporaryFiles.h"

#include <QStringList>

#include <string>

// `name` without the random tag of a temporary output name
// (".QuillOutFile-k3Ztq0.L.avr" -> ".QuillOutFile.L.avr"); any other name as
// it is.  What a format stores of its own file name is then the same from
// run to run.
std::string WithoutTemporaryTag(const std::string& name);
// The name a temporary output name is published under: its temporary word
// and tag replaced by `baseName` (".QuillOutFile-k3Ztq0.L.avr", "Take" ->
// "Take.L.avr"); any other name as it is.
std::string PublishedFileName(const std::string& name, const std::string& baseName);

// Empties the list (the batch driver, once per run).
void CreatedFilesListInit();
// Empties the list (the batch driver, at its end).
void CreatedFilesListRelease();
// Appends a file name given as a Pascal string; an empty name adds nothing.
void CreatedFilesListAdd(ConstStr255Param name);
// The same for a name given as text (names that Mac OS Roman cannot hold).
void CreatedFilesListAdd(const QString& name);
// Replaces the last entry E by "folder/E"; nothing when the list is empty.
void CreatedFilesListAppendComponent(const HFSUniStr255& folder);
// Every entry inside the folder `from` (an entry "from/...") is moved into
// the folder `to` ("to/..."), after the folder itself was renamed.
void CreatedFilesListRenameFolder(const QString& from, const QString& to);
// The entries, oldest first.
QStringList GetCreatedFilesList();
void CreatedFilesListClear();
