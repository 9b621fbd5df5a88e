#include "MovieEditLength.h"

#include "ByteFields.h"
#include "FileManager.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

struct Box {
    std::size_t at = 0;      // offset of the box's body in the buffer
    std::size_t size = 0;    // bytes of the body
};

// The child boxes of `parent` named `type`, within `bytes`.
std::vector<Box> Children(const std::vector<UInt8>& bytes, const Box& parent, const char* type)
{
    std::vector<Box> found;
    std::size_t at = parent.at;
    const std::size_t end = parent.at + parent.size;
    while (at + 8 <= end) {
        UInt64 size = ReadBE32(&bytes[at]);
        std::size_t header = 8;
        if (size == 1 && at + 16 <= end) {
            size = ReadBE64(&bytes[at + 8]);
            header = 16;
        } else if (size == 0) {
            size = end - at;
        }
        if (size < header || size > end - at)
            break;
        if (std::memcmp(&bytes[at + 4], type, 4) == 0)
            found.push_back({at + header, std::size_t(size) - header});
        at += std::size_t(size);
    }
    return found;
}

// Writes `value` as the 32 or 64-bit field (by the full box's version) at
// `offset32` or `offset64` of `box`'s body; false when it does not fit.
bool SetField(std::vector<UInt8>& bytes, const Box& box, std::size_t offset32, std::size_t offset64, UInt64 value)
{
    if (box.size < 1)
        return false;
    const bool wide = bytes[box.at] == 1;
    const std::size_t offset = wide ? offset64 : offset32;
    if (offset + (wide ? 8 : 4) > box.size || (!wide && value > 0xFFFFFFFFu))
        return false;
    if (wide)
        WriteBE64(&bytes[box.at + offset], value);
    else
        WriteBE32(&bytes[box.at + offset], UInt32(value));
    return true;
}

} // namespace

OSErr MovieEditLength::Set(SInt16 refNum, UInt64 frames, double sampleRate)
{
    if (!(sampleRate > 0))
        return paramErr;
    // `count` bytes at `at` of the file, whole.
    auto read = [refNum](UInt64 at, void* out, ByteCount count) {
        ByteCount got = 0;
        return FSReadFork(refNum, fsFromStart, SInt64(at), count, out, &got) == noErr && got == count;
    };
    // The movie box, among the file's top-level boxes.
    SInt64 eof = 0;
    if (GetEOF(refNum, &eof) != noErr)
        return ioErr;
    const UInt64 length = UInt64(eof);
    UInt64 at = 0;
    UInt64 moovAt = 0;
    UInt64 moovSize = 0;
    while (at + 8 <= length) {
        UInt8 head[16];
        if (!read(at, head, 8))
            return ioErr;
        UInt64 size = ReadBE32(head);
        if (size == 1) {
            if (!read(at + 8, head + 8, 8))
                return ioErr;
            size = ReadBE64(head + 8);
        } else if (size == 0) {
            size = length - at;
        }
        if (size < 8 || size > length - at)
            return paramErr;
        if (std::memcmp(head + 4, "moov", 4) == 0) {
            moovAt = at;
            moovSize = size;
            break;
        }
        at += size;
    }
    if (moovSize == 0 || moovSize > (UInt64(1) << 26))
        return paramErr;
    std::vector<UInt8> bytes(static_cast<std::size_t>(moovSize));
    if (!read(moovAt, bytes.data(), bytes.size()))
        return ioErr;
    const std::size_t moovHeader = ReadBE32(bytes.data()) == 1 ? 16 : 8;
    const Box movie{moovHeader, bytes.size() - moovHeader};
    const std::vector<Box> headers = Children(bytes, movie, "mvhd");
    const std::vector<Box> tracks = Children(bytes, movie, "trak");
    if (headers.size() != 1 || tracks.size() != 1)
        return paramErr;
    // The movie's time scale (after version, flags and the two dates).
    const Box& mvhd = headers[0];
    const bool wide = mvhd.size > 0 && bytes[mvhd.at] == 1;
    const std::size_t scaleAt = wide ? 20 : 12;
    if (mvhd.size < scaleAt + 4)
        return paramErr;
    const double scale = ReadBE32(&bytes[mvhd.at + scaleAt]);
    const UInt64 duration = UInt64(std::ceil(double(frames) * scale / sampleRate - 1e-9));
    const std::vector<Box> trackHeaders = Children(bytes, tracks[0], "tkhd");
    const std::vector<Box> edits = Children(bytes, tracks[0], "edts");
    const std::vector<Box> lists = edits.size() == 1 ? Children(bytes, edits[0], "elst") : std::vector<Box>();
    if (trackHeaders.size() != 1 || lists.size() != 1 || lists[0].size < 8)
        return paramErr;
    // The last edit's length: entries of 12 (or, version 1, 20) bytes after
    // the entry count.
    const Box& elst = lists[0];
    const UInt32 entries = ReadBE32(&bytes[elst.at + 4]);
    const std::size_t entryBytes = bytes[elst.at] == 1 ? 20 : 12;
    if (entries == 0 || 8 + std::size_t(entries) * entryBytes > elst.size)
        return paramErr;
    const std::size_t last = 8 + (std::size_t(entries) - 1) * entryBytes;
    if (!SetField(bytes, mvhd, 16, 24, duration) || !SetField(bytes, trackHeaders[0], 20, 28, duration) ||
        !SetField(bytes, elst, last, last, duration))
        return paramErr;
    ByteCount written = 0;
    const OSErr err = FSWriteFork(refNum, fsFromStart, SInt64(moovAt), bytes.size(), bytes.data(), &written);
    return err != noErr ? err : written == bytes.size() ? OSErr(noErr) : OSErr(ioErr);
}
