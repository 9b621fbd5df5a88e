#include "ResourceManager.h"

#include "ByteOrder.h"

#include "ForkTable.h"
#include "HandleBlock.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace {

constexpr SInt64 kHeaderSize = 16;
constexpr SInt64 kDataStart = 256;          // header and the reserved bytes after it
constexpr SInt64 kTypeListOffset = 28;      // from the map's start, as written
constexpr SInt64 kMinMapSize = 30;          // map header and an empty type list
constexpr SInt64 kTypeEntrySize = 8;
constexpr SInt64 kRefEntrySize = 12;
constexpr UInt32 kMaxDataOffset = 0xFFFFFF; // 24-bit data offsets
constexpr UInt16 kNoName = 0xFFFF;
// Every offset inside a map is 16-bit, so a map's meaningful bytes lie in
// its first megabyte or so; a larger map length reads no further than this.
constexpr SInt64 kMaxMapRead = SInt64(4) << 20;

struct Entry {
    ResType type = 0;
    ResID id = 0;
    UInt8 attrs = 0;
    bool hasName = false;
    QByteArray name;        // Mac OS Roman bytes, at most 255
    UInt64 serial = 0;
    bool onDisk = false;    // dataPos/dataLen describe the data in the fork
    SInt64 dataPos = 0;     // the data's first byte (after its length word)
    UInt32 dataLen = 0;
    Handle handle = nullptr;  // attached handle, if any
    bool loaded = false;      // the handle holds the data
    bool dataChanged = false; // the handle's data is to be written
};

struct ResFile {
    ResFileRefNum refNum = 0;
    bool writable = false;
    UInt16 attrs = 0;
    UInt64 openOrder = 0;
    bool mapChanged = false;
    UInt64 nextSerial = 1;
    std::vector<Entry> entries;
};

std::mutex gMutex;
std::map<ResFileRefNum, ResFile> gFiles;
UInt64 gOpenCounter = 0;

thread_local ResFileRefNum tCurrent = 0;
thread_local bool tResLoad = true;
thread_local OSErr tResError = noErr;







// Reads exactly `count` bytes at `position` of an open fork.
OSErr ReadForkAt(SInt16 refNum, SInt64 position, SInt64 count, void* buffer)
{
    if (count == 0)
        return noErr;
    ByteCount actual = 0;
    const OSErr err = FSReadFork(refNum, fsFromStart, position, ByteCount(count), buffer, &actual);
    if (err != noErr)
        return err;
    return actual == ByteCount(count) ? noErr : eofErr;
}

ResFile* FindFile(ResFileRefNum refNum)
{
    if (refNum == 0)
        return nullptr;
    auto it = gFiles.find(refNum);
    return it == gFiles.end() ? nullptr : &it->second;
}

// The entry a handle stands for, with its file; null for a plain handle.
Entry* EntryOfHandle(Handle h, ResFile** fileOut)
{
    HandleBlock* block = HandleBlockOf(h);
    if (!block || block->resFile == 0)
        return nullptr;
    ResFile* file = FindFile(block->resFile);
    if (!file)
        return nullptr;
    for (Entry& e : file->entries) {
        if (e.serial == block->resSerial && e.handle == h) {
            if (fileOut)
                *fileOut = file;
            return &e;
        }
    }
    return nullptr;
}

void Unlink(Handle h)
{
    if (HandleBlock* block = HandleBlockOf(h)) {
        block->resFile = 0;
        block->resSerial = 0;
    }
}

bool IsDirty(const ResFile& f)
{
    if (f.mapChanged)
        return true;
    return std::any_of(f.entries.begin(), f.entries.end(), [](const Entry& e) { return e.dataChanged; });
}

// Checks and reads the header and map of a fork of `forkSize` bytes.
OSErr ParseFork(ResFile& f, SInt64 forkSize)
{
    if (forkSize == 0)
        return eofErr;
    if (forkSize < kHeaderSize)
        return mapReadErr;
    uchar header[kHeaderSize];
    if (const OSErr err = ReadForkAt(f.refNum, 0, kHeaderSize, header))
        return err;
    const SInt64 dataOffset = ReadBE32(header);
    const SInt64 mapOffset = ReadBE32(header + 4);
    const SInt64 dataLength = ReadBE32(header + 8);
    const SInt64 mapLength = ReadBE32(header + 12);
    if (dataOffset > forkSize || dataLength > forkSize - dataOffset)
        return mapReadErr;
    if (mapOffset > forkSize || mapLength > forkSize - mapOffset || mapLength < kMinMapSize)
        return mapReadErr;

    const SInt64 mapSize = std::min(mapLength, kMaxMapRead);
    QByteArray mapBytes(qsizetype(mapSize), '\0');
    if (const OSErr err = ReadForkAt(f.refNum, mapOffset, mapSize, mapBytes.data()))
        return err;
    const uchar* map = reinterpret_cast<const uchar*>(mapBytes.constData());

    f.attrs = ReadBE16(map + 22);
    const SInt64 typeList = ReadBE16(map + 24);
    const SInt64 nameList = ReadBE16(map + 26);
    if (typeList + 2 > mapSize)
        return mapReadErr;
    const SInt64 typeCount = UInt16(ReadBE16(map + typeList) + 1);  // 0xFFFF: no types
    if (typeList + 2 + typeCount * kTypeEntrySize > mapSize)
        return mapReadErr;

    // The reference lists together cannot hold more entries than the map
    // has room for; this also refuses types that share one long list.
    SInt64 totalRefs = 0;
    std::vector<Entry> entries;
    for (SInt64 t = 0; t < typeCount; ++t) {
        const uchar* typeEntry = map + typeList + 2 + t * kTypeEntrySize;
        const ResType type = ReadBE32(typeEntry);
        const SInt64 count = SInt64(ReadBE16(typeEntry + 4)) + 1;
        const SInt64 refList = typeList + SInt64(ReadBE16(typeEntry + 6));
        totalRefs += count;
        if (totalRefs * kRefEntrySize > mapSize || refList + count * kRefEntrySize > mapSize)
            return mapReadErr;
        for (SInt64 r = 0; r < count; ++r) {
            const uchar* ref = map + refList + r * kRefEntrySize;
            Entry e;
            e.type = type;
            e.id = ResID(ReadBE16(ref));
            const UInt16 nameOffset = ReadBE16(ref + 2);
            e.attrs = ref[4] & UInt8(~resChanged);
            const SInt64 dataOff = (SInt64(ref[5]) << 16) | (SInt64(ref[6]) << 8) | SInt64(ref[7]);
            if (nameOffset != kNoName) {
                const SInt64 at = nameList + nameOffset;
                if (at >= mapSize)
                    return mapReadErr;
                // A name running past the map is cut at its end.
                const SInt64 length = std::min<SInt64>(map[at], mapSize - at - 1);
                e.hasName = true;
                e.name = QByteArray(reinterpret_cast<const char*>(map + at + 1), qsizetype(length));
            }
            if (dataOff + 4 > dataLength)
                return mapReadErr;
            uchar lengthBytes[4];
            if (const OSErr err = ReadForkAt(f.refNum, dataOffset + dataOff, 4, lengthBytes))
                return err;
            const SInt64 length = ReadBE32(lengthBytes);
            if (length > dataLength - dataOff - 4)
                return mapReadErr;
            e.onDisk = true;
            e.dataPos = dataOffset + dataOff + 4;
            e.dataLen = UInt32(length);
            e.serial = f.nextSerial++;
            entries.push_back(std::move(e));
        }
    }
    f.entries = std::move(entries);
    return noErr;
}

// The bytes of an empty resource fork.
QByteArray EmptyFork()
{
    QByteArray fork(qsizetype(kDataStart), '\0');
    PutBE32(fork, 0, UInt32(kDataStart));
    PutBE32(fork, 4, UInt32(kDataStart));
    PutBE32(fork, 8, 0);
    PutBE32(fork, 12, UInt32(kMinMapSize));
    QByteArray map(qsizetype(kMinMapSize), '\0');
    std::memcpy(map.data(), fork.constData(), kHeaderSize);
    PutBE16(map, 24, UInt16(kTypeListOffset));
    PutBE16(map, 26, UInt16(kMinMapSize));
    PutBE16(map, 28, 0xFFFF);
    return fork + map;
}

// Writes the whole fork from the file's entries.  Nothing is written when
// something does not fit the format.
OSErr WriteFork(ResFile& f)
{
    if (!f.writable)
        return wrPermErr;

    // Resources are written grouped by type, types in the order they first
    // appear, resources in their order.
    std::vector<ResType> types;
    std::vector<std::vector<size_t>> groups;
    for (size_t i = 0; i < f.entries.size(); ++i) {
        const auto it = std::find(types.begin(), types.end(), f.entries[i].type);
        if (it == types.end()) {
            types.push_back(f.entries[i].type);
            groups.push_back({i});
        } else {
            groups[size_t(it - types.begin())].push_back(i);
        }
    }

    // Data (read from the old fork where unchanged, before anything is
    // overwritten).
    QByteArray data;
    std::vector<SInt64> offsets(f.entries.size(), 0);
    for (const auto& group : groups) {
        for (size_t i : group) {
            const Entry& e = f.entries[i];
            QByteArray bytes;
            if (e.dataChanged || !e.onDisk) {
                if (HandleBlockOf(e.handle))
                    bytes = QByteArray(*e.handle, qsizetype(GetHandleSize(e.handle)));
            } else {
                bytes.resize(qsizetype(e.dataLen));
                if (const OSErr err = ReadForkAt(f.refNum, e.dataPos, e.dataLen, bytes.data()))
                    return err;
            }
            if (SInt64(data.size()) > SInt64(kMaxDataOffset) || SInt64(bytes.size()) > SInt64(UINT32_MAX))
                return fsDataTooBigErr;
            offsets[i] = data.size();
            AppendBE32(data, UInt32(bytes.size()));
            data.append(bytes);
            if (SInt64(data.size()) > SInt64(UINT32_MAX) - kDataStart - (SInt64(1) << 20))
                return fsDataTooBigErr;
        }
    }

    // Map: header, type list, reference lists, names.
    const SInt64 typeListSize = 2 + SInt64(types.size()) * kTypeEntrySize;
    const SInt64 nameListOffset = kTypeListOffset + typeListSize + SInt64(f.entries.size()) * kRefEntrySize;
    if (nameListOffset > 0xFFFF)
        return fsDataTooBigErr;
    QByteArray map(qsizetype(kTypeListOffset), '\0');
    PutBE16(map, 22, f.attrs & UInt16(~(mapChanged | mapCompact)));
    PutBE16(map, 24, UInt16(kTypeListOffset));
    PutBE16(map, 26, UInt16(nameListOffset));
    AppendBE16(map, UInt16(types.size() - 1));  // 0xFFFF for no types
    SInt64 refOffset = typeListSize;
    for (size_t t = 0; t < types.size(); ++t) {
        if (groups[t].size() > 0x10000)
            return fsDataTooBigErr;
        AppendBE32(map, types[t]);
        AppendBE16(map, UInt16(groups[t].size() - 1));
        AppendBE16(map, UInt16(refOffset));
        refOffset += SInt64(groups[t].size()) * kRefEntrySize;
    }
    QByteArray names;
    for (const auto& group : groups) {
        for (size_t i : group) {
            const Entry& e = f.entries[i];
            AppendBE16(map, UInt16(e.id));
            if (e.hasName) {
                if (names.size() > 0xFFFE)
                    return fsDataTooBigErr;
                AppendBE16(map, UInt16(names.size()));
                const QByteArray name = e.name.left(255);
                names.append(char(name.size()));
                names.append(name);
            } else {
                AppendBE16(map, kNoName);
            }
            AppendBE32(map, (UInt32(e.attrs & UInt8(~resChanged)) << 24) | UInt32(offsets[i]));
            AppendBE32(map, 0);
        }
    }
    map.append(names);

    QByteArray fork(qsizetype(kDataStart), '\0');
    PutBE32(fork, 0, UInt32(kDataStart));
    PutBE32(fork, 4, UInt32(kDataStart + data.size()));
    PutBE32(fork, 8, UInt32(data.size()));
    PutBE32(fork, 12, UInt32(map.size()));
    std::memcpy(map.data(), fork.constData(), kHeaderSize);
    fork.append(data);
    fork.append(map);

    if (const OSErr err = FSSetForkSize(f.refNum, fsFromStart, fork.size()))
        return err;
    ByteCount written = 0;
    if (const OSErr err = FSWriteFork(f.refNum, fsFromStart, 0, ByteCount(fork.size()), fork.constData(), &written))
        return err;
    if (written != ByteCount(fork.size()))
        return ioErr;

    for (const auto& group : groups) {
        for (size_t i : group) {
            Entry& e = f.entries[i];
            e.onDisk = true;
            e.dataPos = kDataStart + offsets[i] + 4;
            e.dataLen = qFromBigEndian<UInt32>(data.constData() + offsets[i]);
            e.dataChanged = false;
            e.attrs &= UInt8(~resChanged);
        }
    }
    f.mapChanged = false;
    return noErr;
}

// Gives the entry a handle (attached to it), loaded when `load` is set.
OSErr AttachHandle(ResFile& f, Entry& e, bool load, Handle* out)
{
    *out = nullptr;
    if (!e.handle) {
        Handle h = NewHandle(0);
        if (!h)
            return MemError();
        HandleBlock* block = HandleBlockOf(h);
        block->resFile = f.refNum;
        block->resSerial = e.serial;
        e.handle = h;
        e.loaded = false;
    }
    if (load && !e.loaded && e.onDisk) {
        SetHandleSize(e.handle, Size(e.dataLen));
        if (const OSErr err = MemError())
            return err;
        if (const OSErr err = ReadForkAt(f.refNum, e.dataPos, e.dataLen, *e.handle)) {
            SetHandleSize(e.handle, 0);
            return err;
        }
        e.loaded = true;
    }
    *out = e.handle;
    return noErr;
}

Entry* FindEntry(ResFile& f, ResType type, ResID id)
{
    for (Entry& e : f.entries) {
        if (e.type == type && e.id == id)
            return &e;
    }
    return nullptr;
}

// Unlinks every handle of the file and disposes of it.
void DisposeFileHandles(ResFile& f)
{
    for (Entry& e : f.entries) {
        if (e.handle) {
            Unlink(e.handle);
            DisposeHandle(e.handle);
            e.handle = nullptr;
        }
    }
}

OSErr SetResult(OSErr err)
{
    tResError = err;
    return err;
}

// The open file `refNum`; null, with resFNotFound as the result, when there
// is none.
ResFile* FileOrNotFound(ResFileRefNum refNum)
{
    ResFile* f = FindFile(refNum);
    if (!f)
        SetResult(resFNotFound);
    return f;
}

// The entry a handle stands for; null, with resNotFound as the result, for
// a plain handle.
Entry* EntryOrNotFound(Handle h, ResFile** fileOut)
{
    Entry* e = EntryOfHandle(h, fileOut);
    if (!e)
        SetResult(resNotFound);
    return e;
}

// Whether a resource may be changed: `protectedErr` for a protected one,
// wrPermErr in a file opened read-only (set as the result).
bool MayChange(const Entry& e, const ResFile& f, OSErr protectedErr)
{
    if (e.attrs & resProtected) {
        SetResult(protectedErr);
        return false;
    }
    if (!f.writable) {
        SetResult(wrPermErr);
        return false;
    }
    return true;
}

bool GetForkName(HFSUniStr255* name)
{
    return FSGetResourceForkName(name) == noErr;
}

} // namespace

// Called by DisposeHandle for a handle that still belongs to a file.
void ResourceManagerForgetHandle(Handle h)
{
    std::lock_guard<std::mutex> lock(gMutex);
    ResFile* f = nullptr;
    Entry* e = EntryOfHandle(h, &f);
    Unlink(h);
    if (!e)
        return;
    if (!e->onDisk) {
        // Added but never written: the resource goes with its handle.
        const UInt64 serial = e->serial;
        f->entries.erase(std::remove_if(f->entries.begin(), f->entries.end(),
                                        [serial](const Entry& x) { return x.serial == serial; }),
                         f->entries.end());
        return;
    }
    e->handle = nullptr;
    e->loaded = false;
    e->dataChanged = false;
}

// -------------------------------------------------------------- files

OSErr FSOpenResourceFile(const FSRef* ref, UniCharCount forkNameLength, const UniChar* forkName,
                         SInt8 permissions, ResFileRefNum* refNum)
{
    if (!ref || !refNum)
        return SetResult(paramErr);
    SInt16 fork = 0;
    if (const OSErr err = FSOpenFork(ref, forkNameLength, forkName, permissions, &fork))
        return SetResult(err);

    ResFile f;
    f.refNum = fork;
    const std::shared_ptr<OpenFork> open = ForkTable::Instance().Get(fork);
    f.writable = open ? open->writable : permissions != fsRdPerm;

    SInt64 size = 0;
    OSErr err = FSGetForkSize(fork, &size);
    if (err == noErr)
        err = ParseFork(f, size);
    if (err == noErr)
        err = FSSetForkPosition(fork, fsFromStart, 0);
    if (err != noErr) {
        FSClose(fork);
        return SetResult(err);
    }

    {
        std::lock_guard<std::mutex> lock(gMutex);
        // A file whose fork was closed behind the Resource Manager's back
        // may have left its number here: forget it.
        auto stale = gFiles.find(fork);
        if (stale != gFiles.end()) {
            for (Entry& e : stale->second.entries) {
                if (e.handle)
                    Unlink(e.handle);
            }
            gFiles.erase(stale);
        }
        f.openOrder = ++gOpenCounter;
        gFiles.emplace(fork, std::move(f));
    }
    tCurrent = fork;
    *refNum = fork;
    return SetResult(noErr);
}

ResFileRefNum FSOpenResFile(const FSRef* ref, SInt8 permission)
{
    HFSUniStr255 name;
    if (!GetForkName(&name)) {
        SetResult(paramErr);
        return -1;
    }
    ResFileRefNum refNum = 0;
    if (FSOpenResourceFile(ref, name.length, name.unicode, permission, &refNum) != noErr)
        return -1;
    return refNum;
}

ResFileRefNum FSpOpenResFile(const FSSpec* spec, SInt8 permission)
{
    if (!spec) {
        SetResult(paramErr);
        return -1;
    }
    FSRef ref;
    if (const OSErr err = FSpMakeFSRef(spec, &ref)) {
        SetResult(err);
        return -1;
    }
    return FSOpenResFile(&ref, permission);
}

OSErr InitResourceFork(const FSRef* ref, UniCharCount forkNameLength, const UniChar* forkName)
{
    FSCatalogInfo info;
    OSErr err = FSGetCatalogInfo(ref, kFSCatInfoNodeFlags, &info, nullptr, nullptr, nullptr);
    if (err != noErr)
        return err;
    if (info.nodeFlags & kFSNodeIsDirectoryMask)
        return notAFileErr;  // folders have no forks of their own
    err = FSCreateResourceFork(ref, forkNameLength, forkName, 0);
    if (err != noErr && err != errFSForkExists)
        return err;
    SInt16 fork = 0;
    if ((err = FSOpenFork(ref, forkNameLength, forkName, fsRdWrPerm, &fork)))
        return err;
    SInt64 size = 0;
    err = FSGetForkSize(fork, &size);
    if (err == noErr && size > 0)
        err = errFSForkExists;
    if (err == noErr) {
        const QByteArray empty = EmptyFork();
        ByteCount written = 0;
        err = FSWriteFork(fork, fsFromStart, 0, ByteCount(empty.size()), empty.constData(), &written);
    }
    const OSErr closeErr = FSClose(fork);
    return err != noErr ? err : closeErr;
}

void FSpCreateResFile(const FSSpec* spec, OSType creator, OSType fileType, ScriptCode scriptTag)
{
    if (!spec) {
        SetResult(paramErr);
        return;
    }
    OSErr err = FSpCreate(spec, creator, fileType, scriptTag);
    if (err != noErr && err != dupFNErr) {
        SetResult(err);
        return;
    }
    FSRef ref;
    if ((err = FSpMakeFSRef(spec, &ref))) {
        SetResult(err);
        return;
    }
    HFSUniStr255 name;
    if (!GetForkName(&name)) {
        SetResult(paramErr);
        return;
    }
    err = InitResourceFork(&ref, name.length, name.unicode);
    SetResult(err == errFSForkExists ? dupFNErr : err);
}

void CloseResFile(ResFileRefNum refNum)
{
    OSErr err = noErr;
    UInt64 order = 0;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        ResFile* f = FileOrNotFound(refNum);
        if (!f)
            return;
        if (f->writable && IsDirty(*f))
            err = WriteFork(*f);
        DisposeFileHandles(*f);
        order = f->openOrder;
        gFiles.erase(refNum);
        if (tCurrent == refNum) {
            // The file opened before it becomes current.
            tCurrent = 0;
            UInt64 best = 0;
            for (const auto& [num, other] : gFiles) {
                if (other.openOrder < order && other.openOrder > best) {
                    best = other.openOrder;
                    tCurrent = num;
                }
            }
        }
    }
    const OSErr closeErr = FSClose(refNum);
    SetResult(err != noErr ? err : closeErr);
}

void UpdateResFile(ResFileRefNum refNum)
{
    std::lock_guard<std::mutex> lock(gMutex);
    ResFile* f = FileOrNotFound(refNum);
    if (!f)
        return;
    SetResult(IsDirty(*f) ? WriteFork(*f) : noErr);
}

void UseResFile(ResFileRefNum refNum)
{
    if (refNum == 0) {
        tCurrent = 0;
        SetResult(noErr);
        return;
    }
    std::lock_guard<std::mutex> lock(gMutex);
    if (!FindFile(refNum)) {
        SetResult(resFNotFound);
        return;
    }
    tCurrent = refNum;
    SetResult(noErr);
}

ResFileRefNum CurResFile()
{
    SetResult(noErr);
    return tCurrent;
}

OSErr ResError()
{
    return tResError;
}

void SetResLoad(Boolean load)
{
    tResLoad = load != 0;
}

// ---------------------------------------------------------- resources

Handle Get1Resource(ResType theType, ResID theID)
{
    std::lock_guard<std::mutex> lock(gMutex);
    ResFile* f = FileOrNotFound(tCurrent);
    if (!f)
        return nullptr;
    Entry* e = FindEntry(*f, theType, theID);
    if (!e) {
        SetResult(noErr);
        return nullptr;
    }
    Handle h = nullptr;
    SetResult(AttachHandle(*f, *e, tResLoad, &h));
    return h;
}

Handle GetResource(ResType theType, ResID theID)
{
    std::lock_guard<std::mutex> lock(gMutex);
    ResFile* current = FileOrNotFound(tCurrent);
    if (!current)
        return nullptr;
    // The current file, then the files opened before it, newest first.
    std::vector<ResFile*> chain;
    for (auto& [num, f] : gFiles) {
        if (f.openOrder <= current->openOrder)
            chain.push_back(&f);
    }
    std::sort(chain.begin(), chain.end(), [](ResFile* a, ResFile* b) { return a->openOrder > b->openOrder; });
    for (ResFile* f : chain) {
        if (Entry* e = FindEntry(*f, theType, theID)) {
            Handle h = nullptr;
            SetResult(AttachHandle(*f, *e, tResLoad, &h));
            return h;
        }
    }
    SetResult(noErr);
    return nullptr;
}

Handle Get1IndResource(ResType theType, ResourceIndex index)
{
    std::lock_guard<std::mutex> lock(gMutex);
    ResFile* f = FileOrNotFound(tCurrent);
    if (!f)
        return nullptr;
    int seen = 0;
    for (Entry& e : f->entries) {
        if (e.type != theType)
            continue;
        if (++seen == index) {
            Handle h = nullptr;
            SetResult(AttachHandle(*f, e, tResLoad, &h));
            return h;
        }
    }
    SetResult(noErr);
    return nullptr;
}

ResourceCount Count1Resources(ResType theType)
{
    std::lock_guard<std::mutex> lock(gMutex);
    ResFile* f = FileOrNotFound(tCurrent);
    if (!f)
        return 0;
    const auto n = std::count_if(f->entries.begin(), f->entries.end(),
                                 [theType](const Entry& e) { return e.type == theType; });
    SetResult(noErr);
    return ResourceCount(std::min<long>(n, 0x7FFF));
}

void GetResInfo(Handle theResource, ResID* theID, ResType* theType, StringPtr name)
{
    std::lock_guard<std::mutex> lock(gMutex);
    Entry* e = EntryOrNotFound(theResource, nullptr);
    if (!e)
        return;
    if (theID)
        *theID = e->id;
    if (theType)
        *theType = e->type;
    if (name) {
        const QByteArray n = e->hasName ? e->name.left(255) : QByteArray();
        name[0] = UInt8(n.size());
        std::memcpy(name + 1, n.constData(), size_t(n.size()));
    }
    SetResult(noErr);
}

void SetResInfo(Handle theResource, ResID theID, ConstStr255Param name)
{
    std::lock_guard<std::mutex> lock(gMutex);
    ResFile* f = nullptr;
    Entry* e = EntryOrNotFound(theResource, &f);
    if (!e)
        return;
    if (!f->writable) {
        SetResult(wrPermErr);
        return;
    }
    if (e->attrs & resProtected) {
        SetResult(resAttrErr);
        return;
    }
    e->id = theID;
    if (name) {
        e->hasName = name[0] > 0;
        e->name = QByteArray(reinterpret_cast<const char*>(name + 1), name[0]);
    }
    f->mapChanged = true;
    SetResult(noErr);
}

ResAttributes GetResAttrs(Handle theResource)
{
    std::lock_guard<std::mutex> lock(gMutex);
    Entry* e = EntryOrNotFound(theResource, nullptr);
    if (!e)
        return 0;
    SetResult(noErr);
    return ResAttributes(e->attrs | (e->dataChanged ? resChanged : 0));
}

void SetResAttrs(Handle theResource, ResAttributes attrs)
{
    std::lock_guard<std::mutex> lock(gMutex);
    ResFile* f = nullptr;
    Entry* e = EntryOrNotFound(theResource, &f);
    if (!e)
        return;
    if (!f->writable) {
        SetResult(wrPermErr);
        return;
    }
    e->attrs = UInt8(attrs) & UInt8(~resChanged);
    if (attrs & resChanged)
        e->dataChanged = true;
    f->mapChanged = true;
    SetResult(noErr);
}

void ReadPartialResource(Handle theResource, long offset, void* buffer, long count)
{
    std::lock_guard<std::mutex> lock(gMutex);
    ResFile* f = nullptr;
    Entry* e = EntryOrNotFound(theResource, &f);
    if (!e)
        return;
    if (count > 0 && !buffer) {
        SetResult(paramErr);
        return;
    }
    const bool fromHandle = e->dataChanged || !e->onDisk;
    const SInt64 size = fromHandle ? SInt64(GetHandleSize(e->handle)) : SInt64(e->dataLen);
    if (offset < 0 || count < 0 || offset > size || count > size - offset) {
        SetResult(inputOutOfBounds);
        return;
    }
    if (fromHandle) {
        if (count > 0)
            std::memcpy(buffer, *e->handle + offset, size_t(count));
        SetResult(noErr);
        return;
    }
    SetResult(ReadForkAt(f->refNum, e->dataPos + offset, count, buffer));
}

void AddResource(Handle theData, ResType theType, ResID theID, ConstStr255Param name)
{
    std::lock_guard<std::mutex> lock(gMutex);
    ResFile* f = FileOrNotFound(tCurrent);
    if (!f)
        return;
    HandleBlock* block = HandleBlockOf(theData);
    if (!block || block->resFile != 0) {
        SetResult(addResFailed);
        return;
    }
    if (!f->writable) {
        SetResult(wrPermErr);
        return;
    }
    Entry e;
    e.type = theType;
    e.id = theID;
    if (name && name[0] > 0) {
        e.hasName = true;
        e.name = QByteArray(reinterpret_cast<const char*>(name + 1), name[0]);
    }
    e.serial = f->nextSerial++;
    e.handle = theData;
    e.loaded = true;
    e.dataChanged = true;
    block->resFile = f->refNum;
    block->resSerial = e.serial;
    f->entries.push_back(std::move(e));
    f->mapChanged = true;
    SetResult(noErr);
}

void ChangedResource(Handle theResource)
{
    std::lock_guard<std::mutex> lock(gMutex);
    ResFile* f = nullptr;
    Entry* e = EntryOrNotFound(theResource, &f);
    if (!e)
        return;
    if (!MayChange(*e, *f, resAttrErr))
        return;
    e->dataChanged = true;
    e->loaded = true;
    f->mapChanged = true;
    SetResult(noErr);
}

void WriteResource(Handle theResource)
{
    std::lock_guard<std::mutex> lock(gMutex);
    ResFile* f = nullptr;
    Entry* e = EntryOrNotFound(theResource, &f);
    if (!e)
        return;
    if (!e->dataChanged) {
        SetResult(noErr);
        return;
    }
    SetResult(WriteFork(*f));
}

void RemoveResource(Handle theResource)
{
    std::lock_guard<std::mutex> lock(gMutex);
    ResFile* f = nullptr;
    Entry* e = EntryOrNotFound(theResource, &f);
    if (!e)
        return;
    if (!MayChange(*e, *f, rmvResFailed))
        return;
    const UInt64 serial = e->serial;
    Unlink(theResource);
    f->entries.erase(std::remove_if(f->entries.begin(), f->entries.end(),
                                    [serial](const Entry& x) { return x.serial == serial; }),
                     f->entries.end());
    f->mapChanged = true;
    SetResult(noErr);
}

void DetachResource(Handle theResource)
{
    std::lock_guard<std::mutex> lock(gMutex);
    Entry* e = EntryOrNotFound(theResource, nullptr);
    if (!e)
        return;
    if (e->dataChanged) {
        SetResult(resAttrErr);
        return;
    }
    Unlink(theResource);
    e->handle = nullptr;
    e->loaded = false;
    SetResult(noErr);
}

int OpenResFileCount()
{
    std::lock_guard<std::mutex> lock(gMutex);
    return int(gFiles.size());
}
