// The File Manager calls the program uses, over POSIX.
//
// File identity: an FSSpec is {parent folder path, UTF-8 name}; an FSRef is
// {absolute path, device, inode} of an item that existed when the FSRef was
// made.  File names are UTF-8 of 1 to 255 bytes without '/' (bdNamErr
// otherwise).  HFS type, creator, Finder flags and the resource fork live in
// the AppleDouble sidecar "._name" next to the file (see AppleDoubleFile.h);
// the calls below keep the sidecar with its file on rename and delete.
//
// Open forks are known by 16-bit reference numbers (refNums) from a
// process-wide, thread-safe table.  One refNum is used by one thread at a
// time.  Every position and size is 64-bit; the 32-bit forms are thin
// wrappers that refuse values that do not fit (fsDataTooBigErr).
#pragma once

#include "MacTypes.h"

#include <QByteArray>
#include <QString>
#include <string>

extern "C++" {

// ============================================================ identities

struct FSSpec {
    std::string parent; // absolute path of the parent folder, no trailing '/' (except "/")
    std::string name;   // UTF-8 name inside it
};

struct FSRef {
    std::string path;   // absolute, cleaned path (no "." or ".." parts)
    UInt64 device = 0;  // st_dev when the FSRef was made
    UInt64 inode = 0;   // st_ino when the FSRef was made
};

// Full path of an FSSpec: parent + "/" + name.
std::string FSSpecPath(const FSSpec& spec);

// Equal when they name the same item (device and inode; path when either
// lacks an inode).
bool FSRefsEqual(const FSRef& a, const FSRef& b);

// The stored form of an FSRef (e.g. "ZuOutputFolderRef" in a dictionary):
// a small versioned byte string.  Deserialise checks every length and
// returns false (leaving *out unchanged) for anything malformed.
QByteArray FSRefSerialize(const FSRef& ref);
bool FSRefDeserialize(const QByteArray& data, FSRef* out);

// Name rules: 1..255 bytes of UTF-8, no '/', no NUL, not "." or "..".
// Gives noErr or bdNamErr.
OSErr CheckFileName(const std::string& name);

// ============================================================ conversions

// FSRef of an existing item at `path` (UTF-8; relative paths are taken
// from the current folder).  fnfErr when it does not exist, bdNamErr for a
// name over 255 bytes, paramErr for an empty path; other errno as mapped.
// `isDirectory` (may be null) is set to whether the item is a folder.
OSErr FSPathMakeRef(const UInt8* path, FSRef* ref, Boolean* isDirectory);
OSErr FSPathMakeRef(const std::string& path, FSRef* ref, Boolean* isDirectory = nullptr);

// The path of an FSRef as UTF-8 with a terminating NUL in `path` of
// `maxPathSize` bytes.  errFSBadFSRef for an empty FSRef, fnfErr when the
// item no longer exists at its path, paramErr when the buffer is too small.
OSErr FSRefMakePath(const FSRef* ref, UInt8* path, UInt32 maxPathSize);
OSErr FSRefMakePath(const FSRef* ref, std::string* path);

// FSRef of the item an FSSpec names (it must exist: fnfErr otherwise).
OSErr FSpMakeFSRef(const FSSpec* spec, FSRef* ref);

// FSSpec of `name` inside the folder `parentFolder` (or the folder at the
// path `parentFolderPath`).  The spec is filled whenever the name is valid
// and the folder exists; the result is then noErr when the item exists and
// fnfErr when it does not (so a spec for a file still to be created is
// made as on the Mac).  dirNFErr when the folder is missing or not a
// folder; bdNamErr for a bad name.
OSErr FSMakeFSSpec(const FSRef* parentFolder, const std::string& name, FSSpec* spec);
OSErr FSMakeFSSpec(const std::string& parentFolderPath, const std::string& name, FSSpec* spec);

// FSSpec of a full path (split at the last '/'), with the results of
// FSMakeFSSpec.
OSErr PathMakeFSSpec(const std::string& path, FSSpec* spec);

// ======================================================= catalog info

typedef UInt32 FSCatalogInfoBitmap;
enum : FSCatalogInfoBitmap {
    kFSCatInfoNone = 0x00000000,
    kFSCatInfoTextEncoding = 0x00000001,
    kFSCatInfoNodeFlags = 0x00000002,
    kFSCatInfoVolume = 0x00000004,
    kFSCatInfoParentDirID = 0x00000008,
    kFSCatInfoNodeID = 0x00000010,
    kFSCatInfoContentMod = 0x00000040,
    kFSCatInfoFinderInfo = 0x00000800,
    kFSCatInfoDataSizes = 0x00004000,
    kFSCatInfoRsrcSizes = 0x00008000,
    kFSCatInfoGettableInfo = 0x0003FFFF,
};

enum : UInt16 {
    kFSNodeLockedMask = 0x0001,
    kFSNodeIsDirectoryMask = 0x0010,
};

// Finder flags (fdFlags / finderFlags).
enum : UInt16 {
    kIsOnDesk = 0x0001,
    kHasCustomIcon = 0x0400,
    kIsStationery = 0x0800,
    kNameLocked = 0x1000,
    kHasBundle = 0x2000,
    kIsInvisible = 0x4000,
    kIsAlias = 0x8000,
};

// The 16-byte Finder information of a file, host byte order.
struct FileInfo {
    OSType fileType = 0;
    OSType fileCreator = 0;
    UInt16 finderFlags = 0;
    Point location = {0, 0};
    UInt16 reservedField = 0;
};

// The classic form of the same record (FSpGetFInfo / FSpSetFInfo).
struct FInfo {
    OSType fdType = 0;
    OSType fdCreator = 0;
    UInt16 fdFlags = 0;
    Point fdLocation = {0, 0};
    SInt16 fdFldr = 0;
};

struct FSCatalogInfo {
    UInt16 nodeFlags = 0;          // kFSCatInfoNodeFlags: kFSNodeIsDirectoryMask, kFSNodeLockedMask (not writable)
    UInt64 volume = 0;             // kFSCatInfoVolume: st_dev
    UInt64 parentDirID = 0;        // kFSCatInfoParentDirID: inode of the parent folder
    UInt64 nodeID = 0;             // kFSCatInfoNodeID: st_ino
    SInt64 contentModDate = 0;     // kFSCatInfoContentMod: seconds since 1970 (UTC)
    UInt64 dataLogicalSize = 0;    // kFSCatInfoDataSizes
    UInt64 dataPhysicalSize = 0;
    UInt64 rsrcLogicalSize = 0;    // kFSCatInfoRsrcSizes: from the sidecar (0 without one)
    UInt64 rsrcPhysicalSize = 0;
    FileInfo finderInfo;           // kFSCatInfoFinderInfo: from the sidecar (zeros without one)
};

// A UTF-16 name, as the Unicode File Manager calls take and give it.
struct HFSUniStr255 {
    UInt16 length = 0;
    UniChar unicode[255] = {};
};
QString HFSUniStr255ToQString(const HFSUniStr255& name);
// false when the name has more than 255 UTF-16 units.
bool QStringToHFSUniStr255(const QString& text, HFSUniStr255* out);

// Catalog information of `ref`; every out-argument may be null.  `info`
// gets the fields `whichInfo` asks for (others are left as they were);
// `outName` the item's name, `fsSpec` its FSSpec, `parentRef` its folder's
// FSRef.  fnfErr when the item is gone.  A malformed sidecar counts as no
// sidecar here (zero Finder info, no resource fork): the item is still
// there and its data fork readable; opening the resource fork reports it.
OSErr FSGetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap whichInfo, FSCatalogInfo* info,
                       HFSUniStr255* outName, FSSpec* fsSpec, FSRef* parentRef);

// Writes the fields of `whichInfo` that can be written: only
// kFSCatInfoFinderInfo (type, creator, flags, location, reserved word go to
// the sidecar; other sidecar entries are kept).  Other bits are ignored.
OSErr FSSetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap whichInfo, const FSCatalogInfo* info);

// Finder information of a file (zeros when it has no sidecar or a malformed
// one).  fnfErr when the file is missing and also for a folder (as the
// classic call does).  Setting it refuses to rewrite a malformed sidecar
// (kAppleDoubleMalformedErr).
OSErr FSpGetFInfo(const FSSpec* spec, FInfo* info);
OSErr FSpSetFInfo(const FSSpec* spec, const FInfo* info);
// Forgets the Finder information of a file whose contents tell its type:
// the sidecar goes when it carries nothing else (no resource fork, no other
// entries); a sidecar with more in it is left as it is.  noErr when there
// is no sidecar.
OSErr FSpDropFinderInfo(const FSSpec* spec);

// Never an alias here: *aliasFileFlag = false, *folderFlag = whether the
// item is a folder.  fnfErr when it does not exist.
OSErr FSIsAliasFile(const FSRef* fileRef, Boolean* aliasFileFlag, Boolean* folderFlag);

// ===================================================== create / delete

// Creates an empty file, exclusively: dupFNErr when anything exists under
// the name (never touches it); dirNFErr when the folder is missing.  Type
// and creator are stored in the sidecar when either is non-zero.  A stale
// sidecar left without its file is discarded.  `scriptTag` is ignored.
OSErr FSpCreate(const FSSpec* spec, OSType creator, OSType fileType, ScriptCode scriptTag);

// Creates a folder `name` (UTF-16, nameLength units) inside `parentRef`.
// dupFNErr when the name exists.  `whichInfo`/`catalogInfo` may only set
// Finder info (ignored for folders; pass 0/null).  `newRef`, `newSpec` and
// `newDirID` (low 32 bits of the inode) may each be null.
OSErr FSCreateDirectoryUnicode(const FSRef* parentRef, UniCharCount nameLength, const UniChar* name,
                               FSCatalogInfoBitmap whichInfo, const FSCatalogInfo* catalogInfo,
                               FSRef* newRef, FSSpec* newSpec, UInt32* newDirID);

// Deletes a file (its sidecar goes with it) or an empty folder (fBsyErr
// when not empty).  fnfErr when it does not exist.
OSErr FSpDelete(const FSSpec* spec);
OSErr FSDeleteObject(const FSRef* ref);

// Renames inside the same folder; never replaces: dupFNErr when the new
// name exists (the existing item is untouched).  The sidecar follows.
OSErr FSpRename(const FSSpec* spec, const std::string& newName);
// The same with a UTF-16 name; `newRef` (may be null) gets the renamed item.
OSErr FSRenameUnicode(const FSRef* ref, UniCharCount nameLength, const UniChar* name,
                      TextEncoding textEncodingHint, FSRef* newRef);

// =============================================================== forks

// Permissions.
enum : SInt8 {
    fsCurPerm = 0,    // read/write when allowed, else read-only
    fsRdPerm = 1,
    fsWrPerm = 2,
    fsRdWrPerm = 3,
    fsRdWrShPerm = 4,
};

// Positioning modes (SetFPos, FSReadFork, FSSetForkPosition ...).  Cache
// hint bits above the low two bits are ignored.
enum : UInt16 {
    fsAtMark = 0,
    fsFromStart = 1,
    fsFromLEOF = 2,
    fsFromMark = 3,
};

// Opens the data fork.  fnfErr when missing, notAFileErr for a folder,
// permErr/wPrErr when the permission cannot be had, tmfoErr when the table
// is full, opWrErr when the fork is already open with write access in this
// process and write access is asked again (*refNum then names that open
// fork, as on the Mac).  The mark starts at 0.
OSErr FSpOpenDF(const FSSpec* spec, SInt8 permission, SInt16* refNum);

// Opens the resource fork (kept in memory, written back to the sidecar by
// FSClose when it was changed).  errFSForkNotFound when the file has no
// resource fork (see FSCreateResourceFork); kAppleDoubleMalformedErr when
// its sidecar is malformed.
OSErr FSpOpenRF(const FSSpec* spec, SInt8 permission, SInt16* refNum);

// Fork by name: an empty name is the data fork, FSGetResourceForkName's
// name the resource fork, anything else errFSBadForkName.
OSErr FSOpenFork(const FSRef* ref, UniCharCount forkNameLength, const UniChar* forkName,
                 SInt8 permissions, FSIORefNum* forkRefNum);

// The resource fork's name ("RESOURCE_FORK").
OSErr FSGetResourceForkName(HFSUniStr255* forkName);
// The data fork's name: empty.
OSErr FSGetDataForkName(HFSUniStr255* forkName);

// Creates an empty resource fork in the sidecar (the file itself must
// exist): errFSForkExists when there is one.  With an empty name (the data
// fork, which every file has) it does nothing and returns noErr.  `flags`
// is ignored.
OSErr FSCreateResourceFork(const FSRef* ref, UniCharCount forkNameLength, const UniChar* forkName,
                           UInt32 flags);

// Closes a fork; for a changed resource fork, writes it back first (that
// result is returned; the refNum is released either way).  rfNumErr for an
// unknown refNum.
OSErr FSClose(SInt16 refNum);
OSErr FSCloseFork(FSIORefNum forkRefNum);

// Reads *count bytes at the mark and advances it.  On return *count is the
// number read; fewer than asked (end of file) gives eofErr.  paramErr for a
// negative count or null arguments, rfNumErr for an unknown refNum.
OSErr FSRead(SInt16 refNum, long* count, void* buffPtr);
OSErr FSRead(SInt16 refNum, SInt32* count, void* buffPtr);

// Writes *count bytes at the mark, extending the file as needed, and
// advances it; *count is the number written.  wrPermErr for a fork opened
// read-only; dskFulErr when the disk fills.
OSErr FSWrite(SInt16 refNum, long* count, const void* buffPtr);
OSErr FSWrite(SInt16 refNum, SInt32* count, const void* buffPtr);

// Sets the mark.  Before the start: posErr, mark unchanged.  Past the end
// of file: eofErr with the mark at the end of file (callers that want a
// longer file extend it with SetEOF or by writing).
OSErr SetFPos(SInt16 refNum, SInt16 posMode, SInt64 posOff);

// The mark.  The SInt32 form gives fsDataTooBigErr when it does not fit.
OSErr GetFPos(SInt16 refNum, SInt64* filePos);
OSErr GetFPos(SInt16 refNum, SInt32* filePos);

// The logical end of file (the fork's length).
OSErr GetEOF(SInt16 refNum, SInt64* logEOF);
OSErr GetEOF(SInt16 refNum, SInt32* logEOF);

// Sets the fork's length (growing fills with zeros); a mark beyond the new
// end moves to it.  posErr for a negative length, wrPermErr when read-only.
OSErr SetEOF(SInt16 refNum, SInt64 logEOF);

// The 64-bit fork calls over the same refNums.  FSReadFork/FSWriteFork
// position first (positionMode/positionOffset as FSSetForkPosition; fsAtMark
// reads at the mark), then move requestCount bytes; *actualCount (may be
// null) gets the number moved; a short read is eofErr.
OSErr FSReadFork(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset,
                 ByteCount requestCount, void* buffer, ByteCount* actualCount);
OSErr FSWriteFork(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset,
                  ByteCount requestCount, const void* buffer, ByteCount* actualCount);
// As SetFPos (eofErr past the end, mark at the end; posErr before the start).
OSErr FSSetForkPosition(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset);
OSErr FSGetForkPosition(FSIORefNum forkRefNum, SInt64* position);
OSErr FSGetForkSize(FSIORefNum forkRefNum, SInt64* forkSize);
// As SetEOF, with the new size given as a position.
OSErr FSSetForkSize(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset);

// The FSSpec of an open fork's file (for traces and tests).  rfNumErr for an
// unknown refNum.
OSErr GetFSSpecOfRefNum(SInt16 refNum, FSSpec* spec);

// Number of forks open in this process (tests use it to find leaks).
int OpenForkCount();

// ============================================================= folders

// Domains and the one folder type used.
enum : SInt16 {
    kOnSystemDisk = -32768,
    kOnAppropriateDisk = -32767,
    kSystemDomain = -32766,
    kLocalDomain = -32765,
    kNetworkDomain = -32764,
    kUserDomain = -32763,
};
constexpr OSType kTemporaryFolderType = FOUR_CHAR_CODE("temp");
constexpr Boolean kCreateFolder = 1;
constexpr Boolean kDontCreateFolder = 0;

// kTemporaryFolderType: the folder of TMPDIR when set and an existing
// folder, else "/tmp" (any domain).  Other folder types: fnfErr.
OSErr FSFindFolder(SInt16 vRefNum, OSType folderType, Boolean createFolder, FSRef* foundRef);

} // extern "C++"
