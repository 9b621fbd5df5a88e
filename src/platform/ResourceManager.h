// The Resource Manager calls the program uses: our own reader and writer of
// the standard resource-fork format.
//
// Fork layout (all big-endian):
//   header (16 bytes): data offset, map offset, data length, map length;
//     written with 240 zero bytes after it, so that the data starts at 256;
//   data: per resource a 4-byte length followed by that many bytes;
//   map: 16 bytes (a copy of the header), 4 + 2 reserved bytes, fork
//     attributes (2), offset of the type list from the map (2), offset of
//     the name list from the map (2); type list: number of types - 1 (2),
//     then per type {type (4), number of resources - 1 (2), offset of its
//     reference list from the type list (2)}; reference lists: per resource
//     {ID (2), offset of its name in the name list or -1 (2), attributes (1),
//     offset of its data from the data start (3), reserved (4)}; name list:
//     Pascal strings.
// The map is written right after the data (data offset + data length = map
// offset), as every reader expects.
//
// A resource file is an open fork of the File Manager (FileManager.h): the
// resource fork, kept in the file's AppleDouble sidecar, or a data fork that
// holds a resource map.  Its reference number is the fork's refNum, so fork
// I/O (FSReadFork, FSWriteFork, GetEOF ...) works on it as well.  The map is
// read and checked when the file is opened: every offset and length is
// checked against the fork before it is followed, and a malformed map gives
// mapReadErr, never a crash.  Resource data is read when a resource is
// loaded.  Changes are kept in memory and written, the whole fork at once,
// by WriteResource, UpdateResFile and CloseResFile.
//
// Threads: the calls are safe to make from any thread.  The current
// resource file, the resource-loading switch and ResError are kept per
// thread, so that two threads working on two resource files never see each
// other's current file.  One open resource file is used by one thread at a
// time.
//
// A resource that the file lacks gives a null handle with ResError noErr
// (not resNotFound): callers test the handle.
#pragma once

#include "FileManager.h"
#include "MacTypes.h"
#include "MemoryManager.h"

extern "C++" {

typedef SInt16 ResFileRefNum;
typedef SInt16 ResID;
typedef SInt16 ResAttributes;
typedef SInt16 ResFileAttributes;
typedef SInt16 ResourceIndex;
typedef SInt16 ResourceCount;

// Resource attributes.
enum : ResAttributes {
    resSysHeap = 64,
    resPurgeable = 32,
    resLocked = 16,
    resProtected = 8,
    resPreload = 4,
    resChanged = 2,
};

// Resource fork (map) attributes.
enum : ResFileAttributes {
    mapReadOnly = 128,
    mapCompact = 64,
    mapChanged = 32,
};

// Resource Manager result codes.
constexpr OSErr inputOutOfBounds = -190;  // ReadPartialResource outside the resource
constexpr OSErr resNotFound = -192;       // not a resource handle
constexpr OSErr resFNotFound = -193;      // no such open resource file
constexpr OSErr addResFailed = -194;      // AddResource of a handle that is a resource already
constexpr OSErr rmvResFailed = -196;      // RemoveResource of a protected resource
constexpr OSErr resAttrErr = -198;        // the resource's attributes forbid the change
constexpr OSErr mapReadErr = -199;        // the resource map is malformed

// -------------------------------------------------------------- files

// Opens the fork named by forkName (FSGetResourceForkName's name, or an
// empty name for the data fork) of `ref` as a resource file and makes it
// this thread's current resource file.  Results: those of FSOpenFork
// (fnfErr, errFSForkNotFound, opWrErr ...); eofErr for an empty fork;
// mapReadErr for a malformed one.  *refNum is set only on success.
// Opening never creates a file, a fork or a sidecar.
OSErr FSOpenResourceFile(const FSRef* ref, UniCharCount forkNameLength, const UniChar* forkName,
                         SInt8 permissions, ResFileRefNum* refNum);

// The same on the resource fork; the result is the refNum, or -1 with the
// error in ResError.
ResFileRefNum FSOpenResFile(const FSRef* ref, SInt8 permission);
ResFileRefNum FSpOpenResFile(const FSSpec* spec, SInt8 permission);

// Makes the named fork of an existing file an empty resource file: creates
// the fork when the file has none and writes an empty map into it when it
// is empty.  errFSForkExists when the fork holds data already; notAFileErr
// for a folder.
OSErr InitResourceFork(const FSRef* ref, UniCharCount forkNameLength, const UniChar* forkName);

// Creates the file (exclusively, with type and creator) when it does not
// exist, and gives it an empty resource fork.  A file that exists keeps its
// type and creator; when it has a resource fork with data already, ResError
// is dupFNErr and nothing changes.
void FSpCreateResFile(const FSSpec* spec, OSType creator, OSType fileType, ScriptCode scriptTag);

// Writes pending changes (UpdateResFile), then closes the file: its
// resource handles are disposed and the fork is closed.  When this was the
// thread's current resource file, the file opened before it (still open)
// becomes current, or none (0).
void CloseResFile(ResFileRefNum refNum);

// Writes the whole fork when anything changed.  wrPermErr for a file opened
// read-only with changes; fsDataTooBigErr when the map or data no longer
// fit the format's 16- and 24-bit offsets (nothing is written then).
void UpdateResFile(ResFileRefNum refNum);

// This thread's current resource file (0: none).
void UseResFile(ResFileRefNum refNum);
ResFileRefNum CurResFile();

// The result of this thread's last Resource Manager call.
OSErr ResError();

// Off: the Get calls hand out empty (unloaded) handles; ReadPartialResource
// still reads their data.  Per thread; on by default.
void SetResLoad(Boolean load);

// ---------------------------------------------------------- resources

// The resource of the current file (Get1...) or of the current file and
// the files opened before it (GetResource).  Repeated calls give the same
// handle while the resource is attached.  Null when there is none.
Handle Get1Resource(ResType theType, ResID theID);
Handle GetResource(ResType theType, ResID theID);
// The index-th (1-based) resource of that type in the current file.
Handle Get1IndResource(ResType theType, ResourceIndex index);
// Number of resources of that type in the current file.
ResourceCount Count1Resources(ResType theType);

// ID, type and name of a resource; each out-argument may be null.  `name`
// is a Str255 (empty when the resource has none).
void GetResInfo(Handle theResource, ResID* theID, ResType* theType, StringPtr name);
// New ID and name; a null name keeps the old one, an empty one removes it.
void SetResInfo(Handle theResource, ResID theID, ConstStr255Param name);
ResAttributes GetResAttrs(Handle theResource);
void SetResAttrs(Handle theResource, ResAttributes attrs);

// Copies `count` bytes from `offset` of the resource's data into buffer,
// without loading the resource.  inputOutOfBounds when the range is not
// inside the resource.
void ReadPartialResource(Handle theResource, long offset, void* buffer, long count);

// Makes a plain handle a resource of the current file (the handle then
// belongs to the file).  addResFailed for a handle that is a resource
// already; wrPermErr when the file is read-only.
void AddResource(Handle theData, ResType theType, ResID theID, ConstStr255Param name);
// Marks the resource's data as changed (to be written).  resAttrErr for a
// protected resource.
void ChangedResource(Handle theResource);
// Writes the file now when the resource has changed.
void WriteResource(Handle theResource);
// Takes the resource out of its file; the handle becomes the caller's.
// rmvResFailed for a protected resource.
void RemoveResource(Handle theResource);
// The handle becomes the caller's; the resource stays in the file.
// resAttrErr when the resource has unwritten changes.
void DetachResource(Handle theResource);

// Number of resource files open in this process (tests use it).
int OpenResFileCount();

} // extern "C++"
