#include "FileManager.h"

#include "ByteOrder.h"

#include "AppleDoubleFile.h"
#include "FileOperations.h"
#include "ForkTable.h"
#include "MacErrorMapping.h"
#include "MadeFiles.h"
#include "PathMemo.h"
#include "TemporaryLedger.h"

#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Largest resource fork held in memory (the sidecar's own limit, less room
// for its header).
constexpr SInt64 kMaxResourceForkSize = AppleDoubleFile::kMaxSidecarSize - 4096;

const char kResourceForkName[] = "RESOURCE_FORK";

// Counts the writes and length changes made through the forks of the
// process, one count per file (by device and inode, spread over a fixed set
// of slots: files sharing a slot only cost each other an extra look).  A
// fork's remembered length and read-ahead block hold only while its file's
// count is the one they were taken at, so a read always sees what any fork
// has written to the same file before it (the count is read before the file
// is asked), and writing one file leaves what is known of the others.
std::atomic<UInt64>& WriteGeneration(UInt64 device, UInt64 inode)
{
    static constexpr size_t kSlots = 256;
    static std::atomic<UInt64>* const counts = [] {
        auto* made = new std::atomic<UInt64>[kSlots];
        for (size_t i = 0; i < kSlots; ++i)
            made[i].store(1, std::memory_order_relaxed);
        return made;
    }();
    const UInt64 mixed = (inode ^ (device * 0x9E3779B97F4A7C15ull)) * 0xFF51AFD7ED558CCDull;
    return counts[(mixed >> 32) % kSlots];
}

std::atomic<UInt64>& WriteGeneration(const OpenFork& fork)
{
    return WriteGeneration(fork.device, fork.inode);
}

// Small reads (header fields, chunk headers) are served from one block read
// ahead at the mark; larger reads go straight to the file.
constexpr SInt64 kReadAheadBytes = 16384;
constexpr SInt64 kSmallReadBytes = kReadAheadBytes / 4;

void NoteWrite(const OpenFork& fork)
{
    WriteGeneration(fork).fetch_add(1, std::memory_order_acq_rel);
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    if (folder == "/")
        return "/" + name;
    return folder + "/" + name;
}

void SplitAbsolute(const std::string& absolute, std::string* parent, std::string* name)
{
    const size_t slash = absolute.rfind('/');
    if (slash == std::string::npos || absolute == "/") {
        *parent = "/";
        name->clear();
        return;
    }
    *parent = slash == 0 ? std::string("/") : absolute.substr(0, slash);
    *name = absolute.substr(slash + 1);
}

QString FromUniChars(UniCharCount length, const UniChar* units)
{
    return QString(reinterpret_cast<const QChar*>(units), qsizetype(length));
}

// A UTF-16 name as a UTF-8 file name; bdNamErr when it is not one.
OSErr UniNameToUtf8(UniCharCount length, const UniChar* units, std::string* name)
{
    if (length == 0 || !units || length > 255)
        return bdNamErr;
    const QString text = FromUniChars(length, units);
    for (qsizetype i = 0; i < text.size(); ++i) {
        // Unpaired surrogates cannot become UTF-8.
        const QChar c = text.at(i);
        if (c.isHighSurrogate()) {
            if (i + 1 >= text.size() || !text.at(i + 1).isLowSurrogate())
                return bdNamErr;
            ++i;
        } else if (c.isLowSurrogate()) {
            return bdNamErr;
        }
    }
    *name = text.toUtf8().toStdString();
    return CheckFileName(*name);
}

bool IsResourceForkName(UniCharCount length, const UniChar* units)
{
    return units && FromUniChars(length, units) == QLatin1String(kResourceForkName);
}

// Where a positioning mode counts its offset from: the start, the end of
// the fork or the mark (fsAtMark: the mark, offset ignored by the callers).
SInt64 PositionBase(UInt16 mode, SInt64 mark, SInt64 eof)
{
    switch (mode & 0x03) {
    case fsFromLEOF:
        return eof;
    case fsAtMark:
    case fsFromMark:
        return mark;
    default:
        return 0;
    }
}

// Resolves a positioning request against a fork: noErr with *position
// inside 0..eof, posErr before the start, eofErr past the end (*position is
// then eof).
OSErr ResolvePosition(UInt16 mode, SInt64 offset, SInt64 mark, SInt64 eof, SInt64* position)
{
    if ((mode & 0x03) == fsAtMark) {
        *position = mark;
        return mark <= eof ? noErr : eofErr;
    }
    const SInt64 base = PositionBase(mode, mark, eof);
    SInt64 target = 0;
    if (__builtin_add_overflow(base, offset, &target))
        return offset < 0 ? posErr : (*position = eof, eofErr);
    if (target < 0)
        return posErr;
    if (target > eof) {
        *position = eof;
        return eofErr;
    }
    *position = target;
    return noErr;
}

OSErr ForkLength(OpenFork& fork, SInt64* length)
{
    if (fork.kind == OpenFork::Kind::Resource) {
        *length = fork.resourceFork.size();
        return noErr;
    }
    const UInt64 generation = WriteGeneration(fork).load(std::memory_order_acquire);
    if (fork.length >= 0 && fork.lengthGeneration == generation) {
        *length = fork.length;
        return noErr;
    }
    struct stat st;
    if (::fstat(fork.fd, &st) != 0)
        return MacErrorFromLastErrno();
    *length = st.st_size;
    fork.length = st.st_size;
    fork.lengthGeneration = generation;
    return noErr;
}

// pread until `request` bytes or the end of the file; false (errno set) on
// a failure.
bool ReadFully(int fd, char* out, SInt64 request, SInt64 offset, SInt64* done)
{
    *done = 0;
    while (*done < request) {
        const ssize_t n = ::pread(fd, out + *done, size_t(request - *done), off_t(offset + *done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            break;
        *done += n;
    }
    return true;
}

// ReadFully on a data fork, through the head block a PathMemo may hold
// for a file only read.
bool ReadData(OpenFork& fork, char* out, SInt64 request, SInt64 offset, SInt64* done)
{
    const bool memo = !fork.writable && PathMemo::Current();
    long long served = 0;
    if (memo && PathMemo::ReadHead(dev_t(fork.device), ino_t(fork.inode), offset, request, out, &served)) {
        *done = served;
        return true;
    }
    if (!ReadFully(fork.fd, out, request, offset, done))
        return false;
    if (memo && offset == 0 && request <= PathMemo::kMaxHeadBytes)
        PathMemo::RememberHead(dev_t(fork.device), ino_t(fork.inode), out, *done, *done < request);
    return true;
}

// A small read at the mark served from the read-ahead block (refilled when
// it does not cover the request).  False when the block cannot be had: the
// caller then reads directly.
bool ReadAhead(OpenFork& fork, char* out, SInt64 request, SInt64* actual)
{
    const UInt64 generation = WriteGeneration(fork).load(std::memory_order_acquire);
    const bool covers = fork.ahead && fork.aheadGeneration == generation && fork.mark >= fork.aheadStart &&
                        (fork.mark + request <= fork.aheadStart + fork.aheadSize ||
                         fork.aheadSize < kReadAheadBytes);
    if (!covers) {
        if (!fork.ahead)
            fork.ahead.reset(new (std::nothrow) char[kReadAheadBytes]);
        if (!fork.ahead)
            return false;
        const SInt64 start = fork.mark & ~SInt64(4095);
        SInt64 got = 0;
        if (!ReadData(fork, fork.ahead.get(), kReadAheadBytes, start, &got)) {
            fork.aheadSize = 0;
            fork.aheadGeneration = 0;
            return false;
        }
        fork.aheadStart = start;
        fork.aheadSize = got;
        fork.aheadGeneration = generation;
    }
    // A block shorter than asked ends at the end of the file.
    const SInt64 available = std::max<SInt64>(0, fork.aheadStart + fork.aheadSize - fork.mark);
    const SInt64 n = std::min(request, available);
    if (n > 0)
        std::memcpy(out, fork.ahead.get() + (fork.mark - fork.aheadStart), size_t(n));
    *actual = n;
    return true;
}

// Runs `op` on the open fork of `refNum` with its lock held.
template <typename Op>
OSErr WithFork(SInt16 refNum, Op op)
{
    const std::shared_ptr<OpenFork> fork = ForkTable::Instance().Get(refNum);
    if (!fork)
        return rfNumErr;
    std::lock_guard<std::mutex> lock(fork->mutex);
    if (fork->closed)
        return rfNumErr;
    return op(*fork);
}

OSErr ReadAtMark(OpenFork& fork, void* buffer, SInt64 request, SInt64* actual)
{
    *actual = 0;
    if (request < 0)
        return paramErr;
    if (request == 0)
        return noErr;
    if (!buffer)
        return paramErr;
    if (fork.kind == OpenFork::Kind::Resource) {
        const SInt64 available = std::max<SInt64>(0, fork.resourceFork.size() - fork.mark);
        const SInt64 n = std::min(request, available);
        if (n > 0)
            std::memcpy(buffer, fork.resourceFork.constData() + fork.mark, size_t(n));
        fork.mark += n;
        *actual = n;
        return n < request ? eofErr : noErr;
    }
    char* out = static_cast<char*>(buffer);
    SInt64 done = 0;
    if (fork.image && fork.imageGeneration == WriteGeneration(fork).load(std::memory_order_acquire) &&
        fork.image->ReadAll(fork.mark, request, out, &done)) {
        fork.mark += done;
        *actual = done;
        return done < request ? eofErr : noErr;
    }
    if (request <= kSmallReadBytes && fork.mark <= INT64_MAX - kReadAheadBytes &&
        ReadAhead(fork, out, request, &done)) {
        fork.mark += done;
        *actual = done;
        return done < request ? eofErr : noErr;
    }
    if (!ReadData(fork, out, request, fork.mark, &done)) {
        const OSErr err = MacErrorFromLastErrno();
        fork.mark += done;
        *actual = done;
        return err;
    }
    fork.mark += done;
    *actual = done;
    return done < request ? eofErr : noErr;
}

OSErr WriteAtMark(OpenFork& fork, const void* buffer, SInt64 request, SInt64* actual)
{
    *actual = 0;
    if (request < 0)
        return paramErr;
    if (!fork.writable)
        return wrPermErr;
    if (request == 0)
        return noErr;
    if (!buffer)
        return paramErr;
    SInt64 end = 0;
    if (__builtin_add_overflow(fork.mark, request, &end))
        return posErr;
    if (fork.kind == OpenFork::Kind::Resource) {
        if (end > kMaxResourceForkSize)
            return dskFulErr;
        if (end > fork.resourceFork.size())
            fork.resourceFork.resize(qsizetype(end));
        std::memcpy(fork.resourceFork.data() + fork.mark, buffer, size_t(request));
        fork.mark = end;
        fork.dirty = true;
        *actual = request;
        return noErr;
    }
    const char* in = static_cast<const char*>(buffer);
    PathMemo::FileWritten(dev_t(fork.device), ino_t(fork.inode));
    // The length this fork knew, if nothing was written since: it follows
    // this write without asking the file again.
    const UInt64 before = WriteGeneration(fork).load(std::memory_order_acquire);
    const bool lengthKnown = fork.length >= 0 && fork.lengthGeneration == before;
    SInt64 done = 0;
    while (done < request) {
        const ssize_t n = ::pwrite(fork.fd, in + done, size_t(request - done), off_t(fork.mark + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const OSErr err = MacErrorFromLastErrno();
            NoteWrite(fork);
            fork.image.reset();
            fork.mark += done;
            *actual = done;
            return err;
        }
        done += n;
    }
    const UInt64 after = WriteGeneration(fork).fetch_add(1, std::memory_order_acq_rel) + 1;
    if (lengthKnown && after == before + 1) {
        fork.length = std::max(fork.length, fork.mark + done);
        fork.lengthGeneration = after;
    }
    if (fork.image) {
        if (fork.imageGeneration == before && after == before + 1) {
            fork.image->Write(fork.mark, in, done);
            fork.imageGeneration = after;
        }
        if (fork.imageGeneration != after || !fork.image->valid())
            fork.image.reset();
    }
    fork.mark += done;
    *actual = done;
    return noErr;
}

OSErr SetLength(OpenFork& fork, SInt64 length)
{
    if (length < 0)
        return posErr;
    if (!fork.writable)
        return wrPermErr;
    if (fork.kind == OpenFork::Kind::Resource) {
        if (length > kMaxResourceForkSize)
            return dskFulErr;
        const qsizetype old = fork.resourceFork.size();
        fork.resourceFork.resize(qsizetype(length));
        if (length > old)
            std::memset(fork.resourceFork.data() + old, 0, size_t(length - old));
        fork.dirty = true;
    } else {
        const UInt64 before = WriteGeneration(fork).load(std::memory_order_acquire);
        if (fork.length == length && fork.lengthGeneration == before) {
            // Already that long: nothing to change.
            if (fork.mark > length)
                fork.mark = length;
            return noErr;
        }
        PathMemo::FileWritten(dev_t(fork.device), ino_t(fork.inode));
        const int result = ::ftruncate(fork.fd, off_t(length));
        const UInt64 after = WriteGeneration(fork).fetch_add(1, std::memory_order_acq_rel) + 1;
        if (fork.image) {
            if (result == 0 && fork.imageGeneration == before && after == before + 1) {
                fork.image->Resize(length);
                fork.imageGeneration = after;
            }
            if (fork.imageGeneration != after || !fork.image->valid())
                fork.image.reset();
        }
        if (result != 0)
            return MacErrorFromLastErrno();
        fork.length = length;
        fork.lengthGeneration = after;
    }
    if (fork.mark > length)
        fork.mark = length;
    return noErr;
}

OSErr PositionFork(OpenFork& fork, UInt16 mode, SInt64 offset)
{
    SInt64 eof = 0;
    if (const OSErr err = ForkLength(fork, &eof))
        return err;
    SInt64 position = fork.mark;
    const OSErr err = ResolvePosition(mode, offset, fork.mark, eof, &position);
    if (err == noErr || err == eofErr)
        fork.mark = position;
    return err;
}

// The checks every fork opening starts with; `st` gets the file's status.
OSErr CheckForkOpening(const std::string& path, SInt8 permission, SInt16* refNum, struct stat* st)
{
    if (!refNum)
        return paramErr;
    if (permission < fsCurPerm || permission > fsRdWrShPerm)
        return paramErr;
    if (PathMemo::Stat(path, st, true) != 0)
        return MacErrorFromLastErrno();
    return noErr;
}

// A fork record for the file at `path` (of status `st`).
std::shared_ptr<OpenFork> NewOpenFork(OpenFork::Kind kind, const std::string& path, const struct stat& st,
                                      SInt8 permission, bool writable)
{
    auto fork = std::make_shared<OpenFork>();
    fork->kind = kind;
    fork->path = AbsolutePath(path);
    fork->device = UInt64(st.st_dev);
    fork->inode = UInt64(st.st_ino);
    fork->permission = permission;
    fork->writable = writable;
    return fork;
}

// The error of a failed call on a path whose folder may be missing: dirNFErr
// for a missing folder, the errno's code otherwise.
OSErr FolderErrorFromLastErrno()
{
    const int e = errno;
    return (e == ENOENT || e == ENOTDIR) ? dirNFErr : MacErrorFromErrno(e);
}

// The path of the file an FSSpec names: bdNamErr for a bad name, fnfErr
// for a folder.
OSErr FilePathOfSpec(const FSSpec& spec, std::string* path)
{
    if (const OSErr err = CheckFileName(spec.name))
        return err;
    *path = FSSpecPath(spec);
    struct stat st;
    if (PathMemo::Stat(*path, &st, true) != 0)
        return MacErrorFromLastErrno();
    if (S_ISDIR(st.st_mode))
        return fnfErr;
    return noErr;
}

// Opens the data fork of the file at `path`.
OSErr OpenDataFork(const std::string& path, SInt8 permission, SInt16* refNum)
{
    struct stat st;
    const bool memo = PathMemo::Current() != nullptr;
    const std::string absolute = memo ? AbsolutePath(path) : std::string();
    // A file this thread has just made (FSpCreate) is taken as it was made.
    const bool fresh = memo && refNum && permission >= fsCurPerm && permission <= fsRdWrShPerm &&
                       PathMemo::FreshStatus(absolute, &st);
    // A file this process made is opened through the descriptor that made
    // it, whatever its name holds by now (another program may have put a
    // link there); its lock is held with it.
    int held = -1;
    if (!fresh) {
        if (!refNum || permission < fsCurPerm || permission > fsRdWrShPerm)
            return paramErr;
        held = MadeFiles::Duplicate(path, &st);
        if (held < 0 && errno == ESTALE)
            return kFileReplacedErr;  // gone: its name is not opened instead
        if (held < 0) {
            if (const OSErr err = CheckForkOpening(path, permission, refNum, &st))
                return err;
        }
    }
    auto closeHeld = [&held] {
        if (held >= 0)
            ::close(held);
        held = -1;
    };
    // Only regular files: opening a FIFO or a device could wait for ever.
    if (!S_ISREG(st.st_mode)) {
        closeHeld();
        return notAFileErr;
    }
    bool writable = permission != fsRdPerm;
    // The same file closed a moment ago (see PathMemo::Park): taken back to
    // read it; let go before writing, so that the new descriptor gets the
    // exclusive lock.
    if (memo) {
        long long length = -1;
        unsigned long long generation = 0;
        bool made = false;
        const int parked = PathMemo::Unpark(absolute, st, writable, &length, &generation, &made);
        const int stale = writable ? PathMemo::Unpark(absolute, st, false) : -1;
        if (stale >= 0)
            ::close(stale);
        if (parked >= 0) {
            closeHeld();
            // (A file made here holds its lock from its making on.)
            if (writable && !made)
                ::flock(parked, LOCK_EX | LOCK_NB);
            auto fork = NewOpenFork(OpenFork::Kind::Data, absolute, st, permission, writable);
            fork->fd = parked;
            fork->length = length;
            fork->lengthGeneration = generation;
            // The writer of a file just made knows what it writes there.
            if (made && writable && length == 0) {
                fork->image = std::make_shared<FileImage>();
                fork->imageGeneration = generation;
            }
            const OSErr err = ForkTable::Instance().Add(fork, refNum);
            if (err != noErr)
                ::close(parked);
            return err;
        }
    }
    if (held >= 0) {
        auto fork = NewOpenFork(OpenFork::Kind::Data, path, st, permission, writable);
        fork->fd = held;
        const OSErr err = ForkTable::Instance().Add(fork, refNum);
        if (err != noErr)
            ::close(held);
        return err;
    }
    // Any other file is written only when its name is no link: a path this
    // process did not make never leads its writes into a file elsewhere.
    int fd = ::open(path.c_str(), (writable ? O_RDWR | O_NOFOLLOW : O_RDONLY) | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 && permission == fsCurPerm &&
        (errno == EACCES || errno == EPERM || errno == EROFS || errno == ELOOP)) {
        writable = false;
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    }
    if (fd < 0)
        return errno == ELOOP && writable ? OSErr(permErr) : MacErrorFromLastErrno();
    // The status asked of the descriptor gives the fork its length (the
    // file's write count read first, as ForkLength does).
    const struct stat named = st;
    const UInt64 generation = WriteGeneration(UInt64(named.st_dev), UInt64(named.st_ino)).load(std::memory_order_acquire);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return notAFileErr;
    }
    // (O_NONBLOCK, there only for the opening, changes nothing for a
    // regular file: it is left on.)
    // A file open holds a lock (exclusive while it is written): a file in
    // use says so to whoever looks.
    ::flock(fd, (writable ? LOCK_EX : LOCK_SH) | LOCK_NB);
    auto fork = NewOpenFork(OpenFork::Kind::Data, path, st, permission, writable);
    fork->fd = fd;
    if (st.st_dev == named.st_dev && st.st_ino == named.st_ino) {
        fork->length = st.st_size;
        fork->lengthGeneration = generation;
    }
    const OSErr err = ForkTable::Instance().Add(fork, refNum);
    if (err != noErr)
        ::close(fd);
    return err;
}

OSErr OpenResourceFork(const std::string& path, SInt8 permission, SInt16* refNum)
{
    struct stat st;
    if (const OSErr err = CheckForkOpening(path, permission, refNum, &st))
        return err;
    AppleDoubleFile sidecar(path);
    if (const OSErr err = sidecar.Read())
        return err;
    if (!sidecar.hasResourceFork())
        return errFSForkNotFound;
    bool writable = permission != fsRdPerm;
    if (writable) {
        // Writing back needs a writable folder for the sidecar.
        const std::string folder = AppleDoubleFile::SidecarPathFor(path);
        const size_t slash = folder.rfind('/');
        const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : folder.substr(0, slash));
        if (::access(dir.c_str(), W_OK) != 0) {
            if (permission != fsCurPerm)
                return MacErrorFromLastErrno();
            writable = false;
        }
    }
    auto fork = NewOpenFork(OpenFork::Kind::Resource, path, st, permission, writable);
    fork->resourceFork = sidecar.resourceFork();
    return ForkTable::Instance().Add(fork, refNum);
}

bool ValidRef(const FSRef* ref)
{
    return ref && !ref->path.empty();
}

} // namespace

// ================================================================ identities

std::string FSSpecPath(const FSSpec& spec)
{
    return JoinPath(spec.parent, spec.name);
}

bool FSRefsEqual(const FSRef& a, const FSRef& b)
{
    if (a.inode != 0 && b.inode != 0)
        return a.device == b.device && a.inode == b.inode;
    return a.path == b.path;
}

namespace {
constexpr char kFSRefMagic[4] = {'Q', 'F', 'R', '1'};
}

QByteArray FSRefSerialize(const FSRef& ref)
{
    QByteArray out(kFSRefMagic, 4);
    out.reserve(24 + qsizetype(ref.path.size()));
    AppendBE64(out, ref.device);
    AppendBE64(out, ref.inode);
    AppendBE32(out, UInt32(ref.path.size()));
    out.append(ref.path.data(), qsizetype(ref.path.size()));
    return out;
}

bool FSRefDeserialize(const QByteArray& data, FSRef* out)
{
    if (!out || data.size() < 24 || std::memcmp(data.constData(), kFSRefMagic, 4) != 0)
        return false;
    const char* p = data.constData();
    const UInt64 device = qFromBigEndian<UInt64>(p + 4);
    const UInt64 inode = qFromBigEndian<UInt64>(p + 12);
    const UInt32 length = qFromBigEndian<UInt32>(p + 20);
    if (UInt64(length) != UInt64(data.size()) - 24)
        return false;
    std::string path(p + 24, length);
    if (path.find('\0') != std::string::npos)
        return false;
    out->path = std::move(path);
    out->device = device;
    out->inode = inode;
    return true;
}

OSErr CheckFileName(const std::string& name)
{
    if (name.empty() || name.size() > 255 || name == "." || name == "..")
        return bdNamErr;
    if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos)
        return bdNamErr;
    return noErr;
}

// =============================================================== conversions

OSErr FSPathMakeRef(const UInt8* path, FSRef* ref, Boolean* isDirectory)
{
    if (!path)
        return paramErr;
    return FSPathMakeRef(std::string(reinterpret_cast<const char*>(path)), ref, isDirectory);
}

OSErr FSPathMakeRef(const std::string& path, FSRef* ref, Boolean* isDirectory)
{
    if (path.empty() || !ref)
        return paramErr;
    // A file this thread made: its identity is known.
    if (PathMemo::Current()) {
        std::string absolute = AbsolutePath(path);
        dev_t device = 0;
        ino_t inode = 0;
        if (PathMemo::MadeIdentity(absolute, &device, &inode)) {
            ref->path = std::move(absolute);
            ref->device = UInt64(device);
            ref->inode = UInt64(inode);
            if (isDirectory)
                *isDirectory = 0;
            return noErr;
        }
    }
    struct stat st;
    if (PathMemo::Stat(path, &st, true) != 0)
        return MacErrorFromLastErrno();
    ref->path = AbsolutePath(path);
    ref->device = UInt64(st.st_dev);
    ref->inode = UInt64(st.st_ino);
    if (isDirectory)
        *isDirectory = S_ISDIR(st.st_mode) ? 1 : 0;
    return noErr;
}

OSErr FSRefMakePath(const FSRef* ref, UInt8* path, UInt32 maxPathSize)
{
    if (!path)
        return paramErr;
    std::string text;
    if (const OSErr err = FSRefMakePath(ref, &text))
        return err;
    if (text.size() + 1 > maxPathSize)
        return paramErr;
    std::memcpy(path, text.c_str(), text.size() + 1);
    return noErr;
}

OSErr FSRefMakePath(const FSRef* ref, std::string* path)
{
    if (!ValidRef(ref))
        return errFSBadFSRef;
    if (!path)
        return paramErr;
    struct stat st;
    if (PathMemo::Stat(ref->path, &st, false) != 0)
        return MacErrorFromLastErrno();
    *path = ref->path;
    return noErr;
}

OSErr FSpMakeFSRef(const FSSpec* spec, FSRef* ref)
{
    if (!spec || !ref)
        return paramErr;
    if (const OSErr err = CheckFileName(spec->name))
        return err;
    return FSPathMakeRef(FSSpecPath(*spec), ref, nullptr);
}

OSErr FSMakeFSSpec(const FSRef* parentFolder, const std::string& name, FSSpec* spec)
{
    if (!ValidRef(parentFolder))
        return errFSBadFSRef;
    return FSMakeFSSpec(parentFolder->path, name, spec);
}

OSErr FSMakeFSSpec(const std::string& parentFolderPath, const std::string& name, FSSpec* spec)
{
    if (!spec || parentFolderPath.empty())
        return paramErr;
    if (const OSErr err = CheckFileName(name))
        return err;
    struct stat st;
    if (PathMemo::Stat(parentFolderPath, &st, true) != 0)
        return FolderErrorFromLastErrno();
    if (!S_ISDIR(st.st_mode))
        return dirNFErr;
    spec->parent = AbsolutePath(parentFolderPath);
    spec->name = name;
    if (PathMemo::Stat(FSSpecPath(*spec), &st, false) != 0)
        return MacErrorFromLastErrno();
    return noErr;
}

OSErr PathMakeFSSpec(const std::string& path, FSSpec* spec)
{
    if (path.empty() || !spec)
        return paramErr;
    std::string parent, name;
    SplitAbsolute(AbsolutePath(path), &parent, &name);
    return FSMakeFSSpec(parent, name, spec);
}

namespace {

// The Finder info record as its sidecar holds it: 16 big-endian bytes.
FileInfo DecodeFinderInfo(const QByteArray& bytes)
{
    const char* p = bytes.constData();
    FileInfo info;
    info.fileType = qFromBigEndian<UInt32>(p);
    info.fileCreator = qFromBigEndian<UInt32>(p + 4);
    info.finderFlags = qFromBigEndian<UInt16>(p + 8);
    info.location.v = SInt16(qFromBigEndian<UInt16>(p + 10));
    info.location.h = SInt16(qFromBigEndian<UInt16>(p + 12));
    info.reservedField = qFromBigEndian<UInt16>(p + 14);
    return info;
}

// Reads the sidecar of `path` for what it describes: a damaged one describes
// nothing (the item itself is fine), so it reads as an empty sidecar.
OSErr ReadSidecarLeniently(const std::string& path, AppleDoubleFile* sidecar)
{
    if (const OSErr err = sidecar->Read()) {
        if (err != kAppleDoubleMalformedErr)
            return err;
        *sidecar = AppleDoubleFile(path);
    }
    return noErr;
}

// Replaces the Finder info in the sidecar of `path`, keeping the rest.
OSErr WriteFinderInfo(const std::string& path, const FileInfo& info)
{
    AppleDoubleFile sidecar(path);
    if (const OSErr err = sidecar.Read())
        return err;
    QByteArray bytes = sidecar.finderInfoBytes();
    PutBE32(bytes, 0, info.fileType);
    PutBE32(bytes, 4, info.fileCreator);
    PutBE16(bytes, 8, info.finderFlags);
    PutBE16(bytes, 10, UInt16(info.location.v));
    PutBE16(bytes, 12, UInt16(info.location.h));
    PutBE16(bytes, 14, info.reservedField);
    sidecar.setFinderInfoBytes(bytes);
    return sidecar.Write();
}

} // namespace

// ============================================================= catalog info

QString HFSUniStr255ToQString(const HFSUniStr255& name)
{
    return FromUniChars(std::min<UniCharCount>(name.length, 255), name.unicode);
}

bool QStringToHFSUniStr255(const QString& text, HFSUniStr255* out)
{
    if (!out || text.size() > 255)
        return false;
    out->length = UInt16(text.size());
    for (qsizetype i = 0; i < text.size(); ++i)
        out->unicode[i] = text.at(i).unicode();
    return true;
}

OSErr FSGetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap whichInfo, FSCatalogInfo* info,
                       HFSUniStr255* outName, FSSpec* fsSpec, FSRef* parentRef)
{
    if (!ValidRef(ref))
        return errFSBadFSRef;
    struct stat st;
    if (PathMemo::Stat(ref->path, &st, true) != 0)
        return MacErrorFromLastErrno();
    std::string parent, name;
    SplitAbsolute(ref->path, &parent, &name);

    if (info) {
        if (whichInfo & kFSCatInfoNodeFlags) {
            info->nodeFlags = S_ISDIR(st.st_mode) ? kFSNodeIsDirectoryMask : 0;
            if (!S_ISDIR(st.st_mode) && ::access(ref->path.c_str(), W_OK) != 0 && errno == EACCES)
                info->nodeFlags |= kFSNodeLockedMask;
        }
        if (whichInfo & kFSCatInfoVolume)
            info->volume = UInt64(st.st_dev);
        if (whichInfo & kFSCatInfoNodeID)
            info->nodeID = UInt64(st.st_ino);
        if (whichInfo & kFSCatInfoParentDirID) {
            struct stat pst;
            info->parentDirID = PathMemo::Stat(parent, &pst, true) == 0 ? UInt64(pst.st_ino) : 0;
        }
        if (whichInfo & kFSCatInfoContentMod)
            info->contentModDate = SInt64(st.st_mtim.tv_sec);
        if (whichInfo & kFSCatInfoDataSizes) {
            const bool file = !S_ISDIR(st.st_mode);
            info->dataLogicalSize = file && st.st_size > 0 ? UInt64(st.st_size) : 0;
            info->dataPhysicalSize = file && st.st_blocks > 0 ? UInt64(st.st_blocks) * 512 : 0;
        }
        if (whichInfo & (kFSCatInfoRsrcSizes | kFSCatInfoFinderInfo)) {
            AppleDoubleFile sidecar(ref->path);
            if (const OSErr err = ReadSidecarLeniently(ref->path, &sidecar))
                return err;
            if (whichInfo & kFSCatInfoRsrcSizes) {
                info->rsrcLogicalSize = UInt64(sidecar.resourceFork().size());
                info->rsrcPhysicalSize = info->rsrcLogicalSize;
            }
            if (whichInfo & kFSCatInfoFinderInfo)
                info->finderInfo = DecodeFinderInfo(sidecar.finderInfoBytes());
        }
    }
    if (outName) {
        if (!QStringToHFSUniStr255(QString::fromUtf8(name.data(), qsizetype(name.size())), outName))
            return bdNamErr;
    }
    if (fsSpec) {
        fsSpec->parent = parent;
        fsSpec->name = name;
    }
    if (parentRef) {
        if (const OSErr err = FSPathMakeRef(parent, parentRef, nullptr))
            return err;
    }
    return noErr;
}

OSErr FSSetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap whichInfo, const FSCatalogInfo* info)
{
    if (!ValidRef(ref))
        return errFSBadFSRef;
    if (!info)
        return paramErr;
    struct stat st;
    if (PathMemo::Stat(ref->path, &st, true) != 0)
        return MacErrorFromLastErrno();
    if (!(whichInfo & kFSCatInfoFinderInfo))
        return noErr;
    return WriteFinderInfo(ref->path, info->finderInfo);
}

OSErr FSpGetFInfo(const FSSpec* spec, FInfo* info)
{
    if (!spec || !info)
        return paramErr;
    std::string path;
    if (const OSErr err = FilePathOfSpec(*spec, &path))
        return err;
    AppleDoubleFile sidecar(path);
    if (const OSErr err = ReadSidecarLeniently(path, &sidecar))
        return err;
    const FileInfo finder = DecodeFinderInfo(sidecar.finderInfoBytes());
    info->fdType = finder.fileType;
    info->fdCreator = finder.fileCreator;
    info->fdFlags = finder.finderFlags;
    info->fdLocation = finder.location;
    info->fdFldr = SInt16(finder.reservedField);
    return noErr;
}

OSErr FSpSetFInfo(const FSSpec* spec, const FInfo* info)
{
    if (!spec || !info)
        return paramErr;
    std::string path;
    if (const OSErr err = FilePathOfSpec(*spec, &path))
        return err;
    FileInfo finder;
    finder.fileType = info->fdType;
    finder.fileCreator = info->fdCreator;
    finder.finderFlags = info->fdFlags;
    finder.location = info->fdLocation;
    finder.reservedField = UInt16(info->fdFldr);
    return WriteFinderInfo(path, finder);
}

OSErr FSpDropFinderInfo(const FSSpec* spec)
{
    if (!spec)
        return paramErr;
    std::string path;
    if (const OSErr err = FilePathOfSpec(*spec, &path))
        return err;
    AppleDoubleFile sidecar(path);
    if (const OSErr err = sidecar.Read())
        return err;
    if (!sidecar.exists() || sidecar.hasResourceFork())
        return noErr;
    sidecar.removeFinderInfo();
    return sidecar.Write();  // removes the sidecar when nothing is left
}

OSErr FSIsAliasFile(const FSRef* fileRef, Boolean* aliasFileFlag, Boolean* folderFlag)
{
    if (!ValidRef(fileRef))
        return errFSBadFSRef;
    struct stat st;
    if (PathMemo::Stat(fileRef->path, &st, true) != 0)
        return MacErrorFromLastErrno();
    if (aliasFileFlag)
        *aliasFileFlag = 0;
    if (folderFlag)
        *folderFlag = S_ISDIR(st.st_mode) ? 1 : 0;
    return noErr;
}

// =========================================================== create / delete

OSErr FSpCreate(const FSSpec* spec, OSType creator, OSType fileType, ScriptCode)
{
    if (!spec)
        return paramErr;
    if (const OSErr err = CheckFileName(spec->name))
        return err;
    if (AppleDoubleFile::IsSidecarName(spec->name))
        return bdNamErr;  // would pose as another file's sidecar
    const std::string path = FSSpecPath(*spec);
    // The new file is held by the descriptor that made it (MadeFiles.h);
    // with a PathMemo that descriptor is also kept for its opening (it is
    // about to be written).
    const bool keep = PathMemo::Current() != nullptr;
    struct stat made {};
    const int fd = MadeFiles::Create(path, O_RDWR, 0666, &made);
    if (fd < 0) {
        const int e = errno;
        // A folder gone behind our back is asked again the next time.
        if (keep && (e == ENOENT || e == ENOTDIR))
            PathMemo::Forget(AbsolutePath(spec->parent));
        errno = e;
        return FolderErrorFromLastErrno();
    }
    const std::string absolute = keep ? AbsolutePath(path) : std::string();
    bool parked = false;
    if (keep && made.st_nlink != 0) {
        // Parked with its length (nothing has written it yet), so that its
        // opening for writing asks nothing more.
        const UInt64 generation =
            WriteGeneration(UInt64(made.st_dev), UInt64(made.st_ino)).load(std::memory_order_acquire);
        parked = PathMemo::Park(absolute, fd, made, true, made.st_size, generation, true);
    }
    if (parked)
        PathMemo::Made(absolute, made);
    if (!parked)
        ::close(fd);
    // Any sidecar found now belonged to an earlier file of this name: a new
    // file starts with its own Finder info and no resource fork.
    AppleDoubleFile sidecar(path);
    OSErr err = noErr;
    if (fileType != 0 || creator != 0) {
        sidecar.setFinderInfo(fileType, creator, 0);
        err = sidecar.Write();
    } else {
        err = sidecar.Remove();
    }
    if (err != noErr) {
        if (parked)
            PathMemo::Forget(absolute);
        DeletePath(path);
    }
    return err;
}

OSErr FSCreateDirectoryUnicode(const FSRef* parentRef, UniCharCount nameLength, const UniChar* name,
                               FSCatalogInfoBitmap, const FSCatalogInfo*, FSRef* newRef, FSSpec* newSpec,
                               UInt32* newDirID)
{
    if (!ValidRef(parentRef))
        return errFSBadFSRef;
    std::string utf8;
    if (const OSErr err = UniNameToUtf8(nameLength, name, &utf8))
        return err;
    if (AppleDoubleFile::IsSidecarName(utf8))
        return bdNamErr;
    const std::string path = JoinPath(parentRef->path, utf8);
    if (TemporaryLedger::CreateFolder(path, 0777) != 0)
        return FolderErrorFromLastErrno();
    FSRef made;
    if (const OSErr err = FSPathMakeRef(path, &made, nullptr))
        return err;
    if (newRef)
        *newRef = made;
    if (newSpec) {
        newSpec->parent = AbsolutePath(parentRef->path);
        newSpec->name = utf8;
    }
    if (newDirID)
        *newDirID = UInt32(made.inode & 0xFFFFFFFFu);
    return noErr;
}

OSErr FSpDelete(const FSSpec* spec)
{
    if (!spec)
        return paramErr;
    if (const OSErr err = CheckFileName(spec->name))
        return err;
    return DeletePath(FSSpecPath(*spec));
}

OSErr FSDeleteObject(const FSRef* ref)
{
    if (!ValidRef(ref))
        return errFSBadFSRef;
    return DeletePath(ref->path);
}

OSErr FSpRename(const FSSpec* spec, const std::string& newName)
{
    if (!spec)
        return paramErr;
    if (const OSErr err = CheckFileName(spec->name))
        return err;
    if (const OSErr err = CheckFileName(newName))
        return err;
    return RenameNoReplace(FSSpecPath(*spec), JoinPath(spec->parent, newName));
}

OSErr FSRenameUnicode(const FSRef* ref, UniCharCount nameLength, const UniChar* name, TextEncoding,
                      FSRef* newRef)
{
    if (!ValidRef(ref))
        return errFSBadFSRef;
    std::string utf8;
    if (const OSErr err = UniNameToUtf8(nameLength, name, &utf8))
        return err;
    std::string parent, oldName;
    SplitAbsolute(ref->path, &parent, &oldName);
    const std::string target = JoinPath(parent, utf8);
    if (const OSErr err = RenameNoReplace(ref->path, target))
        return err;
    if (newRef)
        return FSPathMakeRef(target, newRef, nullptr);
    return noErr;
}

// ===================================================================== forks

OSErr FSpOpenDF(const FSSpec* spec, SInt8 permission, SInt16* refNum)
{
    if (!spec)
        return paramErr;
    if (const OSErr err = CheckFileName(spec->name))
        return err;
    return OpenDataFork(FSSpecPath(*spec), permission, refNum);
}

OSErr FSpOpenRF(const FSSpec* spec, SInt8 permission, SInt16* refNum)
{
    if (!spec)
        return paramErr;
    if (const OSErr err = CheckFileName(spec->name))
        return err;
    return OpenResourceFork(FSSpecPath(*spec), permission, refNum);
}

OSErr FSOpenFork(const FSRef* ref, UniCharCount forkNameLength, const UniChar* forkName, SInt8 permissions,
                 FSIORefNum* forkRefNum)
{
    if (!ValidRef(ref))
        return errFSBadFSRef;
    if (forkNameLength == 0)
        return OpenDataFork(ref->path, permissions, forkRefNum);
    if (IsResourceForkName(forkNameLength, forkName))
        return OpenResourceFork(ref->path, permissions, forkRefNum);
    return errFSBadForkName;
}

OSErr FSGetResourceForkName(HFSUniStr255* forkName)
{
    if (!forkName)
        return paramErr;
    QStringToHFSUniStr255(QLatin1String(kResourceForkName), forkName);
    return noErr;
}

OSErr FSGetDataForkName(HFSUniStr255* forkName)
{
    if (!forkName)
        return paramErr;
    forkName->length = 0;
    return noErr;
}

OSErr FSCreateResourceFork(const FSRef* ref, UniCharCount forkNameLength, const UniChar* forkName, UInt32)
{
    if (!ValidRef(ref))
        return errFSBadFSRef;
    struct stat st;
    if (PathMemo::Stat(ref->path, &st, true) != 0)
        return MacErrorFromLastErrno();
    if (forkNameLength == 0)
        return noErr;  // every file has its data fork
    if (!IsResourceForkName(forkNameLength, forkName))
        return errFSBadForkName;
    AppleDoubleFile sidecar(ref->path);
    if (const OSErr err = sidecar.Read())
        return err;
    if (sidecar.hasResourceFork())
        return errFSForkExists;
    sidecar.setResourceFork(QByteArray());
    return sidecar.Write();
}

OSErr FSClose(SInt16 refNum)
{
    const std::shared_ptr<OpenFork> fork = ForkTable::Instance().Remove(refNum);
    if (!fork)
        return rfNumErr;
    std::lock_guard<std::mutex> lock(fork->mutex);
    if (fork->closed)
        return rfNumErr;
    fork->closed = true;
    if (fork->kind == OpenFork::Kind::Data) {
        const int fd = fork->fd;
        fork->fd = -1;
        // A file only read is kept open for its next opening while a
        // PathMemo lives on this thread.
        struct stat st {};
        st.st_dev = dev_t(fork->device);
        st.st_ino = ino_t(fork->inode);
        if (!fork->writable && PathMemo::Park(fork->path, fd, st, false, fork->length, fork->lengthGeneration))
            return noErr;
        // A file written is closed all the same (a late write error shows
        // here), but a copy of its descriptor, with its lock, is kept for
        // reading it back.
        const int kept = fork->writable && PathMemo::Current() ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
        if (::close(fd) != 0) {
            const OSErr err = MacErrorFromLastErrno();
            if (kept >= 0)
                ::close(kept);
            return err;
        }
        // What the writer of a file it made knows of it answers the reads
        // that follow (the type detection of the closed file).
        if (fork->image && fork->image->valid() &&
            fork->imageGeneration == WriteGeneration(*fork).load(std::memory_order_acquire))
            PathMemo::KeepImage(fork->path, st.st_dev, st.st_ino, std::move(fork->image));
        if (kept >= 0 && !PathMemo::Park(fork->path, kept, st, true, fork->length, fork->lengthGeneration))
            ::close(kept);
        return noErr;
    }
    if (!fork->dirty)
        return noErr;
    AppleDoubleFile sidecar(fork->path);
    if (const OSErr err = sidecar.Read())
        return err;
    sidecar.setResourceFork(fork->resourceFork);
    return sidecar.Write();
}

OSErr FSCloseFork(FSIORefNum forkRefNum)
{
    return FSClose(forkRefNum);
}

OSErr FSRead(SInt16 refNum, long* count, void* buffPtr)
{
    if (!count)
        return paramErr;
    return WithFork(refNum, [&](OpenFork& fork) {
        SInt64 actual = 0;
        const OSErr err = ReadAtMark(fork, buffPtr, *count, &actual);
        *count = long(actual);
        return err;
    });
}

OSErr FSRead(SInt16 refNum, SInt32* count, void* buffPtr)
{
    if (!count)
        return paramErr;
    long n = *count;
    const OSErr err = FSRead(refNum, &n, buffPtr);
    *count = SInt32(n);  // never more than asked, so it fits
    return err;
}

OSErr FSWrite(SInt16 refNum, long* count, const void* buffPtr)
{
    if (!count)
        return paramErr;
    return WithFork(refNum, [&](OpenFork& fork) {
        SInt64 actual = 0;
        const OSErr err = WriteAtMark(fork, buffPtr, *count, &actual);
        *count = long(actual);
        return err;
    });
}

OSErr FSWrite(SInt16 refNum, SInt32* count, const void* buffPtr)
{
    if (!count)
        return paramErr;
    long n = *count;
    const OSErr err = FSWrite(refNum, &n, buffPtr);
    *count = SInt32(n);
    return err;
}

namespace {

// The result of a 64-bit query handed to a 32-bit caller: `err` when it
// failed, fsDataTooBigErr when the value does not fit.
OSErr StoreAs32(OSErr err, SInt64 value, SInt32* out)
{
    if (err)
        return err;
    if (value > INT32_MAX)
        return fsDataTooBigErr;
    *out = SInt32(value);
    return noErr;
}

// What FSReadFork and FSWriteFork share: the fork positioned (unless the
// transfer is at the mark), then `transfer(fork, bytes, &actual)`.
template <typename Transfer>
OSErr TransferFork(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset, ByteCount requestCount,
                   ByteCount* actualCount, bool writing, Transfer&& transfer)
{
    if (actualCount)
        *actualCount = 0;
    if (requestCount > ByteCount(INT64_MAX))
        return paramErr;
    return WithFork(forkRefNum, [&](OpenFork& fork) {
        if (writing && !fork.writable)
            return wrPermErr;
        if ((positionMode & 0x03) != fsAtMark) {
            if (const OSErr err = PositionFork(fork, positionMode, positionOffset))
                return err;
        }
        SInt64 actual = 0;
        const OSErr err = transfer(fork, SInt64(requestCount), &actual);
        if (actualCount)
            *actualCount = ByteCount(actual);
        return err;
    });
}

} // namespace

OSErr SetFPos(SInt16 refNum, SInt16 posMode, SInt64 posOff)
{
    return WithFork(refNum, [&](OpenFork& fork) { return PositionFork(fork, UInt16(posMode), posOff); });
}

OSErr GetFPos(SInt16 refNum, SInt64* filePos)
{
    if (!filePos)
        return paramErr;
    return WithFork(refNum, [&](OpenFork& fork) {
        *filePos = fork.mark;
        return noErr;
    });
}

OSErr GetFPos(SInt16 refNum, SInt32* filePos)
{
    if (!filePos)
        return paramErr;
    SInt64 position = 0;
    const OSErr err = GetFPos(refNum, &position);
    return StoreAs32(err, position, filePos);
}

OSErr GetEOF(SInt16 refNum, SInt64* logEOF)
{
    if (!logEOF)
        return paramErr;
    return WithFork(refNum, [&](OpenFork& fork) { return ForkLength(fork, logEOF); });
}

OSErr GetEOF(SInt16 refNum, SInt32* logEOF)
{
    if (!logEOF)
        return paramErr;
    SInt64 length = 0;
    const OSErr err = GetEOF(refNum, &length);
    return StoreAs32(err, length, logEOF);
}

OSErr SetEOF(SInt16 refNum, SInt64 logEOF)
{
    return WithFork(refNum, [&](OpenFork& fork) { return SetLength(fork, logEOF); });
}

OSErr FSReadFork(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset, ByteCount requestCount,
                 void* buffer, ByteCount* actualCount)
{
    return TransferFork(forkRefNum, positionMode, positionOffset, requestCount, actualCount, false,
                        [&](OpenFork& fork, SInt64 bytes, SInt64* actual) {
                            return ReadAtMark(fork, buffer, bytes, actual);
                        });
}

OSErr FSWriteFork(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset, ByteCount requestCount,
                  const void* buffer, ByteCount* actualCount)
{
    return TransferFork(forkRefNum, positionMode, positionOffset, requestCount, actualCount, true,
                        [&](OpenFork& fork, SInt64 bytes, SInt64* actual) {
                            return WriteAtMark(fork, buffer, bytes, actual);
                        });
}

OSErr FSSetForkPosition(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset)
{
    return SetFPos(forkRefNum, SInt16(positionMode), positionOffset);
}

OSErr FSGetForkPosition(FSIORefNum forkRefNum, SInt64* position)
{
    return GetFPos(forkRefNum, position);
}

OSErr FSGetForkSize(FSIORefNum forkRefNum, SInt64* forkSize)
{
    return GetEOF(forkRefNum, forkSize);
}

OSErr FSSetForkSize(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset)
{
    return WithFork(forkRefNum, [&](OpenFork& fork) {
        SInt64 eof = 0;
        if (const OSErr err = ForkLength(fork, &eof))
            return err;
        if ((positionMode & 0x03) == fsAtMark)
            return SetLength(fork, fork.mark);
        const SInt64 base = PositionBase(positionMode, fork.mark, eof);
        SInt64 size = 0;
        if (__builtin_add_overflow(base, positionOffset, &size))
            return posErr;
        return SetLength(fork, size);
    });
}

OSErr GetFSSpecOfRefNum(SInt16 refNum, FSSpec* spec)
{
    if (!spec)
        return paramErr;
    return WithFork(refNum, [&](OpenFork& fork) {
        SplitAbsolute(fork.path, &spec->parent, &spec->name);
        return noErr;
    });
}

int OpenForkCount()
{
    return ForkTable::Instance().Count();
}

// =================================================================== folders

OSErr FSFindFolder(SInt16, OSType folderType, Boolean, FSRef* foundRef)
{
    if (!foundRef)
        return paramErr;
    if (folderType != kTemporaryFolderType)
        return fnfErr;
    return FSPathMakeRef(TemporaryFolderPath(), foundRef, nullptr);
}
