#include "ByteSwapper.h"

#include "FileManager.h"
#include "FileOperations.h"
#include "TemporaryFiles.h"
#include "debug_trace.h"

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

namespace {

constexpr long kBlockSize = 1 << 20;   // even, so pairs never straddle blocks

void swapPairs(unsigned char* bytes, long count)
{
    for (long i = 0; i + 1 < count; i += 2)
        std::swap(bytes[i], bytes[i + 1]);
}

// An open data fork, closed on scope exit unless closed explicitly.
class Fork {
public:
    ~Fork()
    {
        if (refNum_ != 0)
            FSClose(refNum_);
    }
    OSErr open(const std::string& path, SInt8 permission)
    {
        FSSpec spec;
        OSErr err = PathMakeFSSpec(path, &spec);
        if (err != noErr)
            return err;
        return FSpOpenDF(&spec, permission, &refNum_);
    }
    OSErr close()
    {
        const OSErr err = FSClose(refNum_);
        refNum_ = 0;
        return err;
    }
    SInt16 refNum() const { return refNum_; }

private:
    SInt16 refNum_ = 0;
};

// Reads `in` from its start and writes the swapped bytes to `out` from its
// start (the two may be the same fork).
bool swapFork(SInt16 in, SInt16 out)
{
    SInt64 size = 0;
    if (GetEOF(in, &size) != noErr)
        return false;
    std::vector<unsigned char> block(static_cast<size_t>(std::min<SInt64>(size, kBlockSize)));
    for (SInt64 pos = 0; pos < size;) {
        long count = static_cast<long>(std::min<SInt64>(size - pos, kBlockSize));
        if (SetFPos(in, fsFromStart, pos) != noErr || FSRead(in, &count, block.data()) != noErr)
            return false;
        swapPairs(block.data(), count);
        long written = count;
        if (SetFPos(out, fsFromStart, pos) != noErr || FSWrite(out, &written, block.data()) != noErr ||
            written != count)
            return false;
        pos += count;
    }
    return true;
}

} // namespace

ByteSwapper::ByteSwapper(const QString& inputPath, const QString& outputPath)
    : inPath_(inputPath), outPath_(outputPath)
{
}

bool ByteSwapper::swapBytes()
{
    const std::string in = AbsolutePath(inPath_.toStdString());
    const std::string out = AbsolutePath(outPath_.toStdString());

    PathStatus inStatus;
    if (inPath_.isEmpty() || StatPath(in, &inStatus) != 0 || !inStatus.isFile)
        return false;

    PathStatus outStatus;
    const int outState = outPath_.isEmpty() ? EINVAL : StatPath(out, &outStatus);

    if (outState == 0 && outStatus.device == inStatus.device && outStatus.inode == inStatus.inode) {
        // In place: every block goes back where it came from.
        Fork fork;
        if (fork.open(in, fsRdWrPerm) != noErr)
            return false;
        const bool ok = swapFork(fork.refNum(), fork.refNum());
        return fork.close() == noErr && ok;
    }

    Fork source;
    if (source.open(in, fsRdPerm) != noErr)
        return false;

    if (outState == 0) {
        // Only an empty file reserved by the caller is written into; any
        // other existing file is left alone.
        if (!outStatus.isFile || outStatus.size != 0)
            return false;
        Fork target;
        if (target.open(out, fsWrPerm) != noErr)
            return false;
        const bool ok = swapFork(source.refNum(), target.refNum());
        return target.close() == noErr && ok;
    }
    if (outState != ENOENT)
        return false;

    // A new file: written under a unique temporary name beside it (which a
    // run's record names before it is made), then renamed.
    FSSpec outSpec;
    if (PathMakeFSSpec(out, &outSpec) != fnfErr)
        return false;   // a bad name or a missing folder
    std::string temporary;
    if (CreateUniqueFile(outSpec.parent, std::string(kTemporaryNameWord) + "-", ".tmp", &temporary) != noErr)
        return false;
    bool ok = false;
    {
        Fork target;
        if (target.open(temporary, fsWrPerm) == noErr) {
            ok = swapFork(source.refNum(), target.refNum());
            ok = target.close() == noErr && ok;
        }
    }
    if (ok)
        ok = RenameNoReplace(temporary, out) == noErr;
    if (!ok) {
        DeletePath(temporary);
        QM_TRACE("swapBytes", "could not write " << out);
    }
    return ok;
}
