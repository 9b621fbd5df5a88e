#include "FilePublishing.h"

#include "AppleDoubleFile.h"
#include "FileOperations.h"
#include "MacErrorMapping.h"
#include "MadeFiles.h"
#include "PathMemo.h"
#include "ProvenItems.h"
#include "TemporaryFiles.h"
#include "TemporaryLedger.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <new>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The record's end of the one temporary shape.
constexpr char kRecordSuffix[] = ".publish";
constexpr char kMagic[] = "QMPUBLISH2";
// Attempts at a record that shows no change after its birth.
constexpr int kRecordAttempts = 100;
constexpr char kEnd[] = "END";

// The test hook, with its lock.
struct HookSlot {
    std::mutex mutex;
    PublishStepHook hook;
};

HookSlot& Slot()
{
    static HookSlot slot;
    return slot;
}

OSErr RunHook(int step, int steps)
{
    HookSlot& slot = Slot();
    std::lock_guard<std::mutex> lock(slot.mutex);
    return slot.hook ? slot.hook(step, steps) : OSErr(noErr);
}

struct Step {
    std::string from;
    std::string to;
    UInt64 device = 0;
    UInt64 inode = 0;
    bool sidecar = false;
    ItemProof proof;  // the file's: not a later one given its inode
    bool made = false;  // made by this process: published by its descriptor
};

bool Lstat(const std::string& path, struct stat* st)
{
    return ::lstat(path.c_str(), st) == 0;
}

// `path` relative to `folder` ("" when it is not inside it).
std::string Inside(const std::string& folder, const std::string& path)
{
    const std::string prefix = folder.back() == '/' ? folder : folder + "/";
    if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0)
        return std::string();
    const std::string rest = path.substr(prefix.size());
    return StaysInside(rest) ? rest : std::string();
}

// What is known of a step's names once it is done: its final name holds
// the file, its temporary name still does when the file was linked there.
void Forget(const Step& step, bool moved)
{
    PathMemo::Forget(step.from);
    PathMemo::Forget(step.to);
    if (step.sidecar) {
        if (moved)
            PathMemo::SidecarChanged(step.from, false);
        PathMemo::SidecarChanged(step.to, true);
    }
}

// A step's move back, for a publication that cannot finish.  A file of
// ours linked under its final name keeps its temporary one: the final name
// goes (while it still holds the file).
int MoveBack(const Step& step, bool moved)
{
    if (!moved) {
        PathMemo::Forget(step.to);
        if (!MadeFiles::RemoveName(step.to, dev_t(step.device), ino_t(step.inode)))
            return EEXIST;
        if (step.sidecar)
            PathMemo::SidecarChanged(step.to, false);
        return 0;
    }
    const int e = MovePathNoReplace(step.to, step.from);
    PathMemo::Forget(step.to);
    PathMemo::Forget(step.from);
    if (e == 0 && step.sidecar) {
        PathMemo::SidecarChanged(step.to, false);
        PathMemo::SidecarChanged(step.from, true);
    }
    return e;
}

void AppendField(std::string* record, const std::string& field)
{
    record->append(field);
    record->push_back('\0');
}

std::string RecordText(const std::string& folder, const std::vector<Step>& steps)
{
    std::string record;
    AppendField(&record, kMagic);
    for (const Step& step : steps) {
        AppendField(&record, Inside(folder, step.from));
        AppendField(&record, Inside(folder, step.to));
        AppendField(&record, std::to_string(step.device));
        AppendField(&record, std::to_string(step.inode));
        AppendField(&record, step.proof.text());
    }
    AppendField(&record, kEnd);
    return record;
}

bool IsSidecar(const std::string& name)
{
    return name.compare(0, 2, "._") == 0;
}

enum class Parsed { Whole, CutShort, Foreign };

// The steps of a whole record, their paths relative to the record's
// folder.  Foreign: not one of ours -- a step that does not move a
// temporary of the program's (or its sidecar) to a name in the same folder
// (a sidecar's to a sidecar's), or without the proof of the file moved.
Parsed ParseRecord(const std::string& text, std::vector<Step>* steps)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\0', start);
        if (end == std::string::npos)
            return Parsed::CutShort;
        fields.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (fields.empty() || fields.front() != kMagic)
        return fields.empty() ? Parsed::CutShort : Parsed::Foreign;
    if (fields.back() != kEnd)
        return Parsed::CutShort;
    if ((fields.size() - 2) % 5 != 0)
        return Parsed::Foreign;
    for (std::size_t i = 1; i + 5 < fields.size(); i += 5) {
        Step step;
        step.from = fields[i];
        step.to = fields[i + 1];
        if (!StaysInside(step.from) || !StaysInside(step.to))
            return Parsed::Foreign;
        const std::size_t fromSlash = step.from.rfind('/');
        const std::size_t toSlash = step.to.rfind('/');
        const std::string fromName = step.from.substr(fromSlash == std::string::npos ? 0 : fromSlash + 1);
        const std::string toName = step.to.substr(toSlash == std::string::npos ? 0 : toSlash + 1);
        const bool sidecar = IsSidecar(fromName);
        if (step.from.substr(0, fromSlash == std::string::npos ? 0 : fromSlash) !=
                step.to.substr(0, toSlash == std::string::npos ? 0 : toSlash) ||
            sidecar != IsSidecar(toName) || !IsTemporaryItemName(sidecar ? fromName.substr(2) : fromName))
            return Parsed::Foreign;
        char* end = nullptr;
        errno = 0;
        step.device = std::strtoull(fields[i + 2].c_str(), &end, 10);
        if (fields[i + 2].empty() || *end != '\0' || errno != 0)
            return Parsed::Foreign;
        step.inode = std::strtoull(fields[i + 3].c_str(), &end, 10);
        if (fields[i + 3].empty() || *end != '\0' || errno != 0 || !ItemProof::FromText(fields[i + 4], &step.proof))
            return Parsed::Foreign;
        steps->push_back(step);
    }
    return Parsed::Whole;
}

// Removes the record open as `fd` at `path` (only while the name holds it:
// what another program put there is left alone).
void RemoveRecord(const std::string& path, int fd)
{
    struct stat held;
    if (::fstat(fd, &held) == 0)
        MadeFiles::RemoveName(path, held.st_dev, held.st_ino);
    ::close(fd);
}

// Creates and locks a new record in `folder`, holding `text` from its
// birth, made anew until its status shows no change after its birth (the
// clock's tick passed while it was written, or someone asked its status
// meanwhile): the clean-up trusts no other (ProvenItems.h).  The
// descriptor, or -1 with errno set.
int CreateRecord(const std::string& folder, const std::string& text, std::string* path)
{
    for (int attempt = 0; attempt < kRecordAttempts; ++attempt) {
        *path = folder + "/" + NewTemporaryItemName(kRecordSuffix);
        const int fd = TemporaryLedger::CreateFile(*path, O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0600, nullptr, &text);
        if (fd < 0 && errno != EEXIST)
            return -1;
        if (fd < 0)
            continue;
        ::flock(fd, LOCK_EX);
        if (UnchangedSinceBirth(fd))
            return fd;
        RemoveRecord(*path, fd);
    }
    errno = EEXIST;
    return -1;
}

// The steps of `moves`: each file's sidecar first, then the files.
OSErr GatherSteps(const std::string& folder, const std::vector<PublishMove>& moves, std::vector<Step>* steps)
{
    std::vector<Step> files;
    for (const PublishMove& move : moves) {
        if (Inside(folder, move.from).empty() || Inside(folder, move.to).empty())
            return paramErr;
        PathMemo::Forget(move.from);
        PathMemo::Forget(move.to);
        // A file of ours is published only while its name holds it; nothing
        // published is a link, nor a file of another's.
        const bool made = MadeFiles::Contains(move.from);
        dev_t device = 0;
        ino_t inode = 0;
        if (made && !MadeFiles::Identity(move.from, &device, &inode))
            return kFileReplacedErr;
        struct stat st;
        if (!Lstat(move.from, &st))
            return made ? kFileReplacedErr : MacErrorFromLastErrno();
        if (!S_ISREG(st.st_mode) || (made && (st.st_dev != device || st.st_ino != inode)))
            return made ? kFileReplacedErr : notAFileErr;
        Step file{move.from, move.to, UInt64(st.st_dev), UInt64(st.st_ino), false, ItemProof(), made};
        if (!ProofOf(AT_FDCWD, move.from, &file.proof))
            return MacErrorFromLastErrno();
        if (Lstat(move.to, &st))
            return dupFNErr;
        // A sidecar whose file is missing says nothing of the new file.
        const std::string fromSide = AppleDoubleFile::SidecarPathFor(move.from);
        const std::string toSide = AppleDoubleFile::SidecarPathFor(move.to);
        if (PathMemo::SidecarMayExist(toSide) && Lstat(toSide, &st) && ::unlink(toSide.c_str()) != 0 &&
            errno != ENOENT)
            return MacErrorFromLastErrno();
        PathMemo::SidecarChanged(toSide, false);
        const bool madeSide = MadeFiles::Contains(fromSide);
        if (madeSide && MadeFiles::Check(fromSide) != MadeFiles::Name::Holds)
            return kFileReplacedErr;
        if (PathMemo::SidecarMayExist(fromSide) && Lstat(fromSide, &st)) {
            if (!S_ISREG(st.st_mode))
                return madeSide ? kFileReplacedErr : notAFileErr;
            Step side{fromSide, toSide, UInt64(st.st_dev), UInt64(st.st_ino), true, ItemProof(), madeSide};
            if (!ProofOf(AT_FDCWD, fromSide, &side.proof))
                return MacErrorFromLastErrno();
            steps->push_back(side);
        }
        files.push_back(file);
    }
    steps->insert(steps->end(), files.begin(), files.end());
    return noErr;
}

} // namespace

bool IsPublicationRecordName(const std::string& name)
{
    const std::size_t suffix = sizeof kRecordSuffix - 1;
    return name.size() == sizeof kTemporaryNameWord - 1 + 7 + suffix && IsTemporaryItemName(name) &&
           name.compare(name.size() - suffix, suffix, kRecordSuffix) == 0;
}

void SetPublishStepHook(PublishStepHook hook)
{
    HookSlot& slot = Slot();
    std::lock_guard<std::mutex> lock(slot.mutex);
    slot.hook = std::move(hook);
}

OSErr PublishFiles(const std::string& folder, const std::vector<PublishMove>& moves)
{
    if (folder.empty() || moves.empty())
        return moves.empty() ? OSErr(noErr) : OSErr(paramErr);
    std::vector<Step> steps;
    if (const OSErr err = GatherSteps(folder, moves, &steps))
        return err;

    // One file alone moves in one step: nothing to record.
    std::string recordPath;
    int record = -1;
    if (steps.size() > 1) {
        record = CreateRecord(folder, RecordText(folder, steps), &recordPath);
        if (record < 0)
            return MacErrorFromLastErrno();
    }

    // A file of ours is linked under its final name by its descriptor (so
    // that nothing put at its temporary name meanwhile is ever published),
    // its temporary name going once every file has its final one; any
    // other file is moved.
    const int count = int(steps.size());
    std::vector<bool> moved(steps.size(), true);
    for (int k = 0; k < count; ++k) {
        Step& step = steps[std::size_t(k)];
        OSErr err = RunHook(k, count);
        if (err == noErr && step.made) {
            bool byName = false;
            err = MadeFiles::Link(step.from, step.to, &byName);
            moved[std::size_t(k)] = byName;
        } else if (err == noErr) {
            const int e = MovePathNoReplace(step.from, step.to);
            err = e == 0 ? OSErr(noErr) : e == EEXIST ? OSErr(dupFNErr) : MacErrorFromErrno(e);
        }
        if (err == noErr) {
            Forget(step, moved[std::size_t(k)]);
            continue;
        }
        // Back to the temporary names; a record whose moves cannot all be
        // taken back stays, for the clean-up when its run's ledger closes.
        bool back = true;
        for (int j = k - 1; j >= 0; --j)
            back = MoveBack(steps[std::size_t(j)], moved[std::size_t(j)]) == 0 && back;
        if (record >= 0) {
            if (back)
                RemoveRecord(recordPath, record);
            else
                ::close(record);
        }
        return err;
    }
    if (record >= 0)
        RemoveRecord(recordPath, record);
    for (std::size_t k = 0; k < steps.size(); ++k) {
        if (!steps[k].made)
            continue;
        if (!moved[k])
            MadeFiles::RemoveName(steps[k].from, dev_t(steps[k].device), ino_t(steps[k].inode));
        MadeFiles::Removed(steps[k].from);
        PathMemo::Forget(steps[k].from);
        if (steps[k].sidecar)
            PathMemo::SidecarChanged(steps[k].from, false);
    }
    return noErr;
}

PublicationUndo UndoUnfinishedPublication(int folderFd, const std::string& folder, const std::string& name,
                                          UInt64 device, UInt64 inode, const ItemBirth& bound)
{
    const int fd = ::openat(folderFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return PublicationUndo::Busy;
    // Whose it is comes first: another user's record, or one others may
    // write, proves nothing, whoever holds its lock.  Locked: a running
    // publication's.  Then the name must still hold the record locked, and
    // that record the one proven.
    struct stat st, at;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || UInt64(st.st_dev) != device || UInt64(st.st_ino) != inode) {
        ::close(fd);
        return PublicationUndo::Busy;
    }
    if (!IsOwnRecordFile(st)) {
        ::close(fd);
        return PublicationUndo::Untrusted;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &st) != 0 ||
        ::fstatat(folderFd, name.c_str(), &at, AT_SYMLINK_NOFOLLOW) != 0 || at.st_dev != st.st_dev ||
        at.st_ino != st.st_ino) {
        ::close(fd);
        return PublicationUndo::Busy;
    }
    std::string text;
    std::vector<Step> steps;
    Parsed parsed = Parsed::CutShort;
    if (st.st_size > 0) {
        // Nobody else could write it since its birth.
        if (!IsOwnRecordFile(st) || !UnchangedSinceBirth(fd)) {
            ::close(fd);
            return PublicationUndo::Untrusted;
        }
        try {
            text.assign(std::size_t(st.st_size), '\0');
        } catch (const std::bad_alloc&) {
            ::close(fd);
            return PublicationUndo::Untrusted;
        }
        const ssize_t got = ::pread(fd, text.data(), text.size(), 0);
        if (got == ssize_t(text.size()))
            parsed = ParseRecord(text, &steps);
    }
    if (parsed == Parsed::Foreign) {
        ::close(fd);
        return PublicationUndo::Untrusted;
    }
    // A record cut short while it was written: no move had begun.
    if (parsed == Parsed::Whole) {
        // What had moved is taken out of its final name: the file at the
        // final name is the one recorded (not a later one on its inode).
        // Both names of a step are in one folder, reached without a link.
        for (const Step& step : steps) {
            const std::size_t slash = step.to.rfind('/');
            const std::size_t fromSlash = step.from.rfind('/');
            const std::string parent = slash == std::string::npos ? std::string() : step.to.substr(0, slash);
            const std::string toName = step.to.substr(slash + 1);
            const std::string fromName = step.from.substr(fromSlash + 1);
            const int parentFd = OpenFolderBelow(folderFd, parent);
            if (parentFd < 0)
                continue;
            ItemBirth born;
            ItemProof proof;
            // (A file of the run's own was linked under its final name: its
            // temporary name may be there still.)
            if (::fstatat(parentFd, toName.c_str(), &at, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(at.st_mode) &&
                UInt64(at.st_dev) == step.device && UInt64(at.st_ino) == step.inode && IsOwnItem(at) &&
                BirthOf(parentFd, toName, &born) && born.notBefore(bound) && ProofOf(parentFd, toName, &proof) &&
                proof.matches(step.proof)) {
                const std::string to = folder + "/" + step.to;
                PathMemo::Forget(to);
                if (::unlinkat(parentFd, toName.c_str(), 0) == 0 && AppleDoubleFile::IsSidecarName(toName))
                    PathMemo::SidecarChanged(to, false);
            }
            ::close(parentFd);
        }
    }
    if (::fstatat(folderFd, name.c_str(), &at, AT_SYMLINK_NOFOLLOW) == 0 && at.st_dev == st.st_dev &&
        at.st_ino == st.st_ino)
        ::unlinkat(folderFd, name.c_str(), 0);
    ::close(fd);
    return PublicationUndo::Done;
}
