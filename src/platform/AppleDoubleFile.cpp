#include "AppleDoubleFile.h"

#include "MadeFiles.h"
#include "PathMemo.h"

#include "ByteOrder.h"
#include "FileOperations.h"

#include "MacErrorMapping.h"
#include "TemporaryFiles.h"
#include "TemporaryLedger.h"

#include <QtEndian>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr UInt32 kAppleSingleMagic = 0x00051600;
constexpr int kHeaderSize = 26;      // magic, version, filler, entry count
constexpr int kDescriptorSize = 12;  // id, offset, length




// Splits "dir/name" into "dir/" (with its slash, or empty) and "name".
void SplitPath(const std::string& path, std::string* folderWithSlash, std::string* name)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        folderWithSlash->clear();
        *name = path;
    } else {
        *folderWithSlash = path.substr(0, slash + 1);
        *name = path.substr(slash + 1);
    }
}


} // namespace

AppleDoubleFile::AppleDoubleFile(std::string dataPath)
    : dataPath_(std::move(dataPath))
{
}

std::string AppleDoubleFile::SidecarPathFor(const std::string& dataPath)
{
    std::string folder, name;
    SplitPath(dataPath, &folder, &name);
    return folder + "._" + name;
}

bool AppleDoubleFile::IsSidecarName(const std::string& name)
{
    return name.size() > 2 && name[0] == '.' && name[1] == '_';
}

bool AppleDoubleFile::IsSidecarFileAt(int folderFd, const std::string& name)
{
    if (!IsSidecarName(name))
        return false;
    // Non-blocking: a FIFO is never waited for (and is no sidecar).
    const int fd = ::openat(folderFd, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    UInt8 header[16] = {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const ssize_t got = regular ? ::pread(fd, header, sizeof header, 0) : -1;
    ::close(fd);
    if (got < 0)
        return false;
    if (got >= 4 && (ReadBE32(header) == kMagic || ReadBE32(header) == kAppleSingleMagic))
        return true;
    // Beside the file it belongs to: an empty one (it carries nothing), or
    // a bare resource fork (its data and its map lie inside it).
    const UInt64 size = UInt64(st.st_size);
    const UInt64 dataOffset = ReadBE32(header), mapOffset = ReadBE32(header + 4);
    const UInt64 dataLength = ReadBE32(header + 8), mapLength = ReadBE32(header + 12);
    const bool fork = got == 16 && dataOffset >= 16 && mapOffset >= 16 && mapLength >= 28 &&
                      dataOffset + dataLength <= size && mapOffset + mapLength <= size;
    struct stat partner;
    return (size == 0 || fork) && ::fstatat(folderFd, name.c_str() + 2, &partner, 0) == 0;
}

bool AppleDoubleFile::IsSidecarFile(const std::string& path)
{
    std::string folder, name;
    SplitPath(path, &folder, &name);
    const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return false;
    const bool sidecar = IsSidecarFileAt(dir, name);
    ::close(dir);
    return sidecar;
}

void AppleDoubleFile::clear()
{
    exists_ = false;
    bareFork_ = false;
    hasFinderInfo_ = false;
    hasResourceFork_ = false;
    finderInfo_.clear();
    resourceFork_.clear();
    otherEntries_.clear();
}

OSErr AppleDoubleFile::Read()
{
    clear();
    const std::string path = sidecarPath();
    // The batch's listing of the folder may already say there is none.
    if (!PathMemo::SidecarMayExist(path))
        return noErr;
    // A sidecar this process made is read through its own descriptor.
    int fd = MadeFiles::Duplicate(path);
    if (fd < 0 && errno == ESTALE)
        return kFileReplacedErr;  // never what another program put there
    // A file this process made has no sidecar but one it made.
    if (fd < 0 && MadeFiles::Contains(dataPath_))
        return noErr;
    if (fd < 0)
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int e = errno;
        // No sidecar (or no folder for it) simply means no Finder info and no fork.
        if (e == ENOENT || e == ENOTDIR)
            return noErr;
        if (e == ENAMETOOLONG)  // a name too long to have a sidecar has none
            return noErr;
        return MacErrorFromErrno(e);
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        const int e = errno;
        ::close(fd);
        return MacErrorFromErrno(e);
    }
    if (!S_ISREG(st.st_mode) || st.st_size < 0 || st.st_size > kMaxSidecarSize) {
        ::close(fd);
        return kAppleDoubleMalformedErr;
    }
    QByteArray bytes;
    bytes.resize(qsizetype(st.st_size));
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + done, size_t(bytes.size() - done), off_t(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int e = errno;
            ::close(fd);
            return MacErrorFromErrno(e);
        }
        if (n == 0)
            break;  // shrank while reading: take what is there
        done += n;
    }
    ::close(fd);
    bytes.truncate(done);
    return Parse(bytes);
}

OSErr AppleDoubleFile::Parse(const QByteArray& bytes)
{
    clear();
    const qsizetype size = bytes.size();
    const char* p = bytes.constData();
    const bool appleDouble =
        size >= 4 && (ReadBE32(p) == kMagic || ReadBE32(p) == kAppleSingleMagic);
    if (!appleDouble) {
        // Some tools store the bare resource fork under the sidecar's name.
        exists_ = true;
        bareFork_ = true;
        if (size > 0) {
            hasResourceFork_ = true;
            resourceFork_ = bytes;
        }
        return noErr;
    }
    if (size < kHeaderSize)
        return kAppleDoubleMalformedErr;
    const UInt32 version = ReadBE32(p + 4);
    if (version != kVersion2 && version != 0x00010000)
        return kAppleDoubleMalformedErr;
    const UInt16 count = qFromBigEndian<UInt16>(p + 24);
    if (qsizetype(kHeaderSize) + qsizetype(count) * kDescriptorSize > size)
        return kAppleDoubleMalformedErr;

    AppleDoubleFile parsed(dataPath_);
    parsed.exists_ = true;
    for (int i = 0; i < count; ++i) {
        const char* d = p + kHeaderSize + i * kDescriptorSize;
        const UInt32 id = ReadBE32(d);
        const UInt64 offset = ReadBE32(d + 4);
        const UInt64 length = ReadBE32(d + 8);
        if (offset > UInt64(size) || length > UInt64(size) - offset)
            return kAppleDoubleMalformedErr;
        const QByteArray data = bytes.mid(qsizetype(offset), qsizetype(length));
        if (id == kFinderInfoID) {
            if (parsed.hasFinderInfo_)
                return kAppleDoubleMalformedErr;  // two Finder infos: which one?
            parsed.hasFinderInfo_ = true;
            parsed.finderInfo_ = data;
            if (parsed.finderInfo_.size() < kFinderInfoSize)
                parsed.finderInfo_.append(QByteArray(kFinderInfoSize - parsed.finderInfo_.size(), '\0'));
        } else if (id == kResourceForkID) {
            if (parsed.hasResourceFork_)
                return kAppleDoubleMalformedErr;
            parsed.hasResourceFork_ = true;
            parsed.resourceFork_ = data;
        } else if (id == 0) {
            return kAppleDoubleMalformedErr;  // id 0 is invalid
        } else {
            parsed.otherEntries_.push_back({id, data});
        }
    }
    *this = std::move(parsed);
    return noErr;
}

QByteArray AppleDoubleFile::Serialize() const
{
    std::vector<const Entry*> order;
    // With a fork, a Finder info entry (zeros when there is none) always
    // comes first: readers that expect the usual two-entry layout then find
    // the fork at offset 0x52.
    Entry finder{kFinderInfoID, hasFinderInfo_ ? finderInfo_ : QByteArray(kFinderInfoSize, '\0')};
    Entry fork{kResourceForkID, resourceFork_};
    if (hasFinderInfo_ || hasResourceFork_)
        order.push_back(&finder);
    for (const Entry& e : otherEntries_)
        order.push_back(&e);
    if (hasResourceFork_)
        order.push_back(&fork);  // last, so that it can grow in place

    QByteArray out;
    AppendBE32(out, kMagic);
    AppendBE32(out, kVersion2);
    out.append(QByteArray(16, '\0'));
    AppendBE16(out, UInt16(order.size()));
    UInt64 offset = UInt64(kHeaderSize) + UInt64(order.size()) * kDescriptorSize;
    for (const Entry* e : order) {
        AppendBE32(out, e->id);
        AppendBE32(out, UInt32(offset));
        AppendBE32(out, UInt32(e->data.size()));
        offset += UInt64(e->data.size());
    }
    for (const Entry* e : order)
        out.append(e->data);
    return out;
}

OSErr AppleDoubleFile::Write() const
{
    if (!hasFinderInfo_ && !hasResourceFork_ && otherEntries_.empty())
        return Remove();

    // Every offset and length of the format is 32-bit.
    UInt64 total = UInt64(kHeaderSize) + (otherEntries_.size() + 2) * kDescriptorSize;
    total += UInt64(finderInfo_.size()) + UInt64(resourceFork_.size());
    for (const Entry& e : otherEntries_)
        total += UInt64(e.data.size());
    if (total > UInt64(kMaxSidecarSize))
        return fsDataTooBigErr;

    const std::string target = sidecarPath();
    std::string folder, name;
    SplitPath(target, &folder, &name);
    if (name.size() > 255)
        return bdNamErr;
    // A file of that name that is no sidecar (a sound file named "._x") is
    // never replaced; beside a file of ours, it was put there by another
    // program.
    struct stat existing;
    if (::lstat(target.c_str(), &existing) == 0 && !IsSidecarFile(target))
        return MadeFiles::Contains(dataPath_) ? kFileReplacedErr : dupFNErr;

    // Written under a unique name in the same folder, then renamed over the
    // old sidecar: a reader never sees half a sidecar.  The work name is the
    // sidecar of a name of the batch's one temporary shape, so listings
    // never show it, and its run's ledger records it for the clean-up after
    // a kill.
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = folder + "._" + NewTemporaryItemName(".tmp");
        fd = MadeFiles::Create(temp, O_RDWR, 0600);
        if (fd < 0 && errno != EEXIST)
            return MacErrorFromLastErrno();
    }
    if (fd < 0)
        return dupFNErr;

    struct stat dataStat;
    const mode_t mode = ::stat(dataPath_.c_str(), &dataStat) == 0 ? (dataStat.st_mode & 0666) : 0644;
    ::fchmod(fd, mode);

    const QByteArray bytes = Serialize();
    OSErr err = noErr;
    if (!WriteAll(fd, bytes.constData(), size_t(bytes.size())))
        err = MacErrorFromLastErrno();
    if (::close(fd) != 0 && err == noErr)
        err = MacErrorFromLastErrno();
    // The work file takes the sidecar's name only while its own name still
    // holds it: what another program put there is left alone.
    if (err == noErr && MadeFiles::Check(temp) != MadeFiles::Name::Holds)
        err = kFileReplacedErr;
    if (err == noErr && ::rename(temp.c_str(), target.c_str()) != 0)
        err = MacErrorFromLastErrno();
    if (err != noErr) {
        if (err != kFileReplacedErr)
            ::unlink(temp.c_str());
        MadeFiles::Removed(temp);
        return err;
    }
    // The sidecar of a file of ours is held as its file is (published with
    // it); any other is let go.
    if (MadeFiles::Contains(dataPath_))
        MadeFiles::Moved(temp, target);
    else
        MadeFiles::Forget(temp);
    PathMemo::SidecarChanged(target, true);
    return err;
}

OSErr AppleDoubleFile::Remove() const
{
    const std::string path = sidecarPath();
    if (!PathMemo::SidecarMayExist(path))
        return noErr;
    // One of ours goes only while its name holds it.
    if (MadeFiles::Contains(path)) {
        const MadeFiles::Name name = MadeFiles::Check(path);
        MadeFiles::Removed(path);
        if (name != MadeFiles::Name::Holds)
            return noErr;
    }
    if (::unlink(path.c_str()) != 0) {
        const int e = errno;
        if (e == ENOENT || e == ENOTDIR || e == ENAMETOOLONG) {
            PathMemo::SidecarChanged(path, false);
            return noErr;
        }
        return MacErrorFromErrno(e);
    }
    PathMemo::SidecarChanged(path, false);
    return noErr;
}

OSType AppleDoubleFile::fileType() const
{
    return hasFinderInfo_ ? ReadBE32(finderInfo_.constData()) : 0;
}

OSType AppleDoubleFile::fileCreator() const
{
    return hasFinderInfo_ ? ReadBE32(finderInfo_.constData() + 4) : 0;
}

UInt16 AppleDoubleFile::finderFlags() const
{
    return hasFinderInfo_ ? qFromBigEndian<UInt16>(finderInfo_.constData() + 8) : 0;
}

QByteArray AppleDoubleFile::finderInfoBytes() const
{
    return hasFinderInfo_ ? finderInfo_.left(kFinderInfoSize) : QByteArray(kFinderInfoSize, '\0');
}

void AppleDoubleFile::setFinderInfo(OSType type, OSType creator, UInt16 flags)
{
    if (!hasFinderInfo_) {
        finderInfo_ = QByteArray(kFinderInfoSize, '\0');
        hasFinderInfo_ = true;
    }
    qToBigEndian<UInt32>(type, finderInfo_.data());
    qToBigEndian<UInt32>(creator, finderInfo_.data() + 4);
    qToBigEndian<UInt16>(flags, finderInfo_.data() + 8);
}

void AppleDoubleFile::setFinderInfoBytes(const QByteArray& bytes)
{
    QByteArray first = bytes.left(kFinderInfoSize);
    if (first.size() < kFinderInfoSize)
        first.append(QByteArray(kFinderInfoSize - first.size(), '\0'));
    if (hasFinderInfo_ && finderInfo_.size() > kFinderInfoSize)
        first.append(finderInfo_.mid(kFinderInfoSize));  // keep what follows the 32 bytes
    finderInfo_ = first;
    hasFinderInfo_ = true;
}

void AppleDoubleFile::removeFinderInfo()
{
    hasFinderInfo_ = false;
    finderInfo_.clear();
}

void AppleDoubleFile::setResourceFork(const QByteArray& fork)
{
    hasResourceFork_ = true;
    resourceFork_ = fork;
}

void AppleDoubleFile::removeResourceFork()
{
    hasResourceFork_ = false;
    resourceFork_.clear();
}

namespace {

// Reads the sidecar of `dataPath` and hands it to `use`; the read's error
// when it fails.
template <typename Use>
OSErr WithSidecar(const std::string& dataPath, Use&& use)
{
    AppleDoubleFile sidecar(dataPath);
    const OSErr err = sidecar.Read();
    if (err != noErr)
        return err;
    return use(sidecar);
}

} // namespace

OSErr AppleDoubleFile::ReadResourceFork(const std::string& dataPath, QByteArray* fork, bool* exists)
{
    return WithSidecar(dataPath, [&](AppleDoubleFile& sidecar) -> OSErr {
        if (fork)
            *fork = sidecar.resourceFork();
        if (exists)
            *exists = sidecar.hasResourceFork();
        return noErr;
    });
}

OSErr AppleDoubleFile::WriteResourceFork(const std::string& dataPath, const QByteArray& fork)
{
    return WithSidecar(dataPath, [&](AppleDoubleFile& sidecar) {
        sidecar.setResourceFork(fork);
        return sidecar.Write();
    });
}

OSErr AppleDoubleFile::ReadFinderInfo(const std::string& dataPath, OSType* type, OSType* creator, UInt16* flags)
{
    return WithSidecar(dataPath, [&](AppleDoubleFile& sidecar) -> OSErr {
        if (type)
            *type = sidecar.fileType();
        if (creator)
            *creator = sidecar.fileCreator();
        if (flags)
            *flags = sidecar.finderFlags();
        return noErr;
    });
}

OSErr AppleDoubleFile::WriteFinderInfo(const std::string& dataPath, OSType type, OSType creator, UInt16 flags)
{
    return WithSidecar(dataPath, [&](AppleDoubleFile& sidecar) {
        sidecar.setFinderInfo(type, creator, flags);
        return sidecar.Write();
    });
}
