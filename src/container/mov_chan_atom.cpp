#include "mov_chan_atom.h"

#include "ByteOrder.h"

#include <fstream>

namespace {

struct Atom {
    UInt32 type = 0;
    SInt64 begin = 0;  // the atom's first byte
    SInt64 body = 0;   // its contents
    SInt64 end = 0;
};

class AtomReader {
public:
    explicit AtomReader(const std::string& path) : in_(path, std::ios::binary)
    {
        if (in_) {
            in_.seekg(0, std::ios::end);
            length_ = SInt64(in_.tellg());
        }
    }
    SInt64 Length() const { return length_; }

    bool Read(SInt64 position, UInt8* bytes, std::size_t count)
    {
        in_.clear();
        in_.seekg(position);
        return bool(in_.read(reinterpret_cast<char*>(bytes), std::streamsize(count)));
    }

    // The atom at `position` within [.., end): false at the end or for a
    // size that does not fit.
    bool AtomAt(SInt64 position, SInt64 end, Atom* atom)
    {
        UInt8 header[16];
        if (position + 8 > end || !Read(position, header, 8))
            return false;
        UInt64 size = ReadBE32(header);
        SInt64 headerSize = 8;
        if (size == 1) {
            if (position + 16 > end || !Read(position + 8, header + 8, 8))
                return false;
            size = ReadBE64(header + 8);
            headerSize = 16;
        } else if (size == 0) {
            size = UInt64(end - position);  // to the end of its parent
        }
        if (size < UInt64(headerSize) || size > UInt64(end - position))
            return false;
        *atom = {ReadBE32(header + 4), position, position + headerSize, position + SInt64(size)};
        return true;
    }

    // The `nth` child of type `type` of the atoms in [begin, end).
    bool Child(SInt64 begin, SInt64 end, UInt32 type, Atom* found, unsigned nth = 0)
    {
        Atom atom;
        for (int atoms = 0; atoms < 100000 && AtomAt(begin, end, &atom); ++atoms, begin = atom.end)
            if (atom.type == type && nth-- == 0) {
                *found = atom;
                return true;
            }
        return false;
    }

private:
    std::ifstream in_;
    SInt64 length_ = 0;
};

} // namespace

std::vector<UInt8> MovieTrackChannelLayout(const std::string& path, unsigned track)
{
    AtomReader reader(path);
    Atom moov, trak, atom;
    if (!reader.Child(0, reader.Length(), FOUR_CHAR_CODE("moov"), &moov) ||
        !reader.Child(moov.body, moov.end, FOUR_CHAR_CODE("trak"), &trak, track))
        return {};
    atom = trak;
    for (const UInt32 type :
         {FOUR_CHAR_CODE("mdia"), FOUR_CHAR_CODE("minf"), FOUR_CHAR_CODE("stbl"), FOUR_CHAR_CODE("stsd")})
        if (!reader.Child(atom.body, atom.end, type, &atom))
            return {};
    // The sample description table: version and flags, a count, then the
    // descriptions; a sound description's own fields take 36 bytes from
    // its start in version 0, 16 more in version 1, 36 more in version 2.
    Atom entry;
    UInt8 version[2];
    if (!reader.AtomAt(atom.body + 8, atom.end, &entry) || !reader.Read(entry.begin + 16, version, 2))
        return {};
    const UInt16 soundVersion = ReadBE16(version);
    const SInt64 extensions = entry.begin + 36 + (soundVersion == 1 ? 16 : soundVersion == 2 ? 36 : 0);
    Atom chan;
    if (extensions > entry.end)
        return {};
    if (!reader.Child(extensions, entry.end, FOUR_CHAR_CODE("chan"), &chan)) {
        Atom wave;
        if (!reader.Child(extensions, entry.end, FOUR_CHAR_CODE("wave"), &wave) ||
            !reader.Child(wave.body, wave.end, FOUR_CHAR_CODE("chan"), &chan))
            return {};
    }
    // Version and flags, then the layout as a CAF 'chan' body.
    const SInt64 size = chan.end - chan.body - 4;
    if (size < 12 || size > 12 + 20 * 1024)
        return {};
    std::vector<UInt8> body(std::size_t(size), 0);
    if (!reader.Read(chan.body + 4, body.data(), body.size()) || 12 + UInt64(ReadBE32(body.data() + 8)) * 20 > UInt64(size))
        return {};
    return body;
}
