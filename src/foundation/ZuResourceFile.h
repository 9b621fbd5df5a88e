// One object per file through which the sound-file code reads and writes
// resources: of the file's resource fork (kept in its AppleDouble sidecar)
// or of a data fork that holds a resource map.
//
// GetResource and PutResource open the file, do their work and close it
// again, all under one process-wide lock together with the save, switch
// and restore of the current resource file.  Open and Close are for callers
// that keep the file open and use its reference number themselves.
//
// Every failure is thrown as error_code_exception with the platform's code
// (Resource, File or Memory Manager).
#pragma once

#include "FileManager.h"
#include "MacTypes.h"
#include "MemoryManager.h"

#include <QString>
#include <string>

class ZuResourceFile {
public:
    // From an FSRef (the item must exist).  `resourceFork`: true for the
    // resource fork, false when the data fork holds the resource map.
    ZuResourceFile(const FSRef& ref, bool resourceFork);
    // From a POSIX path (UTF-8).  The file need not exist: it is created,
    // empty, when the resource file is first opened for writing (Open with
    // write permission, CreateFork, PutResource); reading a missing file
    // throws fnfErr and creates nothing.
    ZuResourceFile(const std::string& path, bool resourceFork);
    ZuResourceFile(const QString& path, bool resourceFork);
    virtual ~ZuResourceFile();

    ZuResourceFile(const ZuResourceFile&) = delete;
    ZuResourceFile& operator=(const ZuResourceFile&) = delete;

    // Opens the resource file (fsRdPerm or fsRdWrPerm) and makes it this
    // thread's current resource file.  With write permission a missing or
    // empty fork is first made an empty resource file.  Does nothing when
    // already open.
    void Open(SInt8 permission);
    // Closes it (writing pending changes).  Does nothing when closed.
    void Close();

    // Makes the selected fork an empty resource file (created when missing)
    // and sets the file's type and creator (Finder flags, location and
    // reserved word 0).  errFSForkExists when the fork holds data already.
    void CreateFork(OSType fileType, OSType creator);

    // A copy of one resource, detached from the file: the caller disposes
    // of it (DisposeHandle).  Null when the file has no such resource.
    Handle GetResource(ResType type, SInt16 id);
    // The 'STR ' resource of that ID as text (Mac OS Roman); empty when
    // there is none.
    QString GetStringResource(SInt16 id);

    // Adds the resource, or replaces the data and name of the one of that
    // type and ID (its size becomes the new data's size).  The caller's
    // handle stays the caller's in both cases.
    void PutResource(ResType type, SInt16 id, Handle data, ConstStr255Param name);
    // The same with a text name (Mac OS Roman, at most 255 bytes; an empty
    // or null string is no name).
    void PutResource(ResType type, SInt16 id, Handle data, const QString& name);
    // Writes `text` as a 256-byte 'STR ' resource: a Pascal string of at
    // most 255 Mac OS Roman bytes (longer text is cut), then zero filler.
    void PutStringResource(const QString& text, SInt16 id, const QString& name);

    SInt16 refNum() const { return refNum_; }
    bool isOpen() const { return open_; }
    const std::string& path() const { return path_; }
    bool isResourceFork() const { return resourceFork_; }

private:
    // Makes the FSRef when there is none yet; with `create`, first creates
    // the file when it does not exist.
    void MakeRef(bool create);
    // The fork name for this file's selector (empty for the data fork).
    UniCharCount ForkNameLength() const;
    const UniChar* ForkName() const;
    // Closes the file after a failure; errors are dropped (the first one
    // is on its way to the caller).
    void CloseQuietly() noexcept;
    // Opens the fork with `permission`, makes it the current resource file
    // and returns its resource (type, id), null when it has none; throws on
    // a resource manager error.
    Handle OpenAndFind(SInt8 permission, ResType type, SInt16 id);

    SInt16 refNum_ = 0;
    FSRef ref_;
    bool haveRef_ = false;
    bool open_ = false;
    std::string path_;
    bool resourceFork_ = true;
};

// Save, switch and restore the current resource file.
void SaveCurResFile(SInt16* out);
void SaveAndUseResFile(SInt16* out, SInt16 refNum);
void RestoreResFile(const SInt16* saved);
