#include "id3_tags.h"

#include "CSoundFile.h"

#include <cstdlib>
#include <cstring>

namespace {

// The stream's length, or -1 when it cannot be had; the stream is left in a
// good state either way (the position is not kept).
std::int64_t StreamLength(std::istream& in)
{
    in.clear();
    in.seekg(0, std::ios::end);
    const std::streamoff end = in.fail() ? std::streamoff(-1) : std::streamoff(in.tellg());
    in.clear();
    return end < 0 ? -1 : std::int64_t(end);
}

bool Failing(const std::istream& in)
{
    return in.fail() || in.bad();
}

void WriteSynchsafe(UInt32 value, UInt8* out)
{
    out[0] = UInt8((value >> 21) & 0x7F);
    out[1] = UInt8((value >> 14) & 0x7F);
    out[2] = UInt8((value >> 7) & 0x7F);
    out[3] = UInt8(value & 0x7F);
}

QString FieldText(const UInt8* bytes, int length)
{
    int n = 0;
    while (n < length && bytes[n] != 0)
        ++n;
    while (n > 0 && (bytes[n - 1] == ' ' || bytes[n - 1] == '\t'))
        --n;
    return QString::fromLatin1(reinterpret_cast<const char*>(bytes), n);
}

constexpr UInt8 kFooterFlag = 0x10;

// Reads `size` bytes at `offset` from `whence` into `block`; true when all
// of them were read and they start with the three bytes of `mark`.
bool ReadMarkedBlock(std::istream& in, std::streamoff offset, std::ios::seekdir whence, UInt8* block,
                     std::size_t size, const char* mark)
{
    in.seekg(offset, whence);
    if (Failing(in))
        return false;
    in.read(reinterpret_cast<char*>(block), std::streamsize(size));
    if (Failing(in) || in.gcount() != std::streamsize(size))
        return false;
    return std::memcmp(block, mark, 3) == 0;
}

} // namespace

bool HasID3v2Header(std::istream& in, UInt8 header[kID3v2HeaderSize])
{
    in.clear();
    return ReadMarkedBlock(in, 0, std::ios::beg, header, kID3v2HeaderSize, "ID3");
}

bool HasID3v2Header(CSoundFile* file, UInt8 header[kID3v2HeaderSize])
{
    return file && HasID3v2Header(file->GetStream(), header);
}

void* ReadID3v2Tag(std::istream& in, UInt32* size)
{
    if (!size)
        return nullptr;
    UInt8 header[kID3v2HeaderSize];
    if (!HasID3v2Header(in, header))
        return nullptr;
    if ((header[6] | header[7] | header[8] | header[9]) & 0x80)
        return nullptr;  // not a synchsafe size: no valid tag
    UInt32 tagSize = ((UInt32(header[6]) * 128 + header[7]) * 128 + header[8]) * 128 + header[9];
    const bool footer = header[3] == 4 && (header[5] & kFooterFlag);
    UInt64 wanted = UInt64(tagSize) + (footer ? kID3v2HeaderSize : 0);

    // What the file holds after the header.
    const std::int64_t length = StreamLength(in);
    const UInt64 available = length > std::int64_t(kID3v2HeaderSize) ? UInt64(length) - kID3v2HeaderSize : 0;
    if (wanted > available) {
        // Cut at the end of the file; the header then describes the bytes
        // kept: a footer that is not there is dropped from it.
        UInt8* p = header;
        if (footer) {
            p[5] = UInt8(p[5] & ~kFooterFlag);
            wanted = tagSize;
        }
        if (wanted > available)
            wanted = available;
        tagSize = UInt32(wanted);
        WriteSynchsafe(tagSize, p + 6);
    }
    const UInt64 total = wanted + kID3v2HeaderSize;  // at most 2^28 + 20
    *size = UInt32(total);
    auto* block = static_cast<UInt8*>(std::malloc(std::size_t(total)));
    if (!block)
        return nullptr;
    std::memcpy(block, header, kID3v2HeaderSize);
    in.clear();
    in.seekg(std::streamoff(kID3v2HeaderSize), std::ios::beg);
    std::streamsize got = 0;
    if (!Failing(in)) {
        in.read(reinterpret_cast<char*>(block + kID3v2HeaderSize), std::streamsize(wanted));
        got = in.gcount();
    }
    if (UInt64(got) < wanted) {
        // The file shrank between the length check and the read: keep the
        // block defined.
        std::memset(block + kID3v2HeaderSize + got, 0, std::size_t(wanted - UInt64(got)));
    }
    return block;
}

void* ReadID3v2Tag(CSoundFile* file, UInt32* size)
{
    return file ? ReadID3v2Tag(file->GetStream(), size) : nullptr;
}

QByteArray ReadID3v2TagData(std::istream& in)
{
    UInt32 size = 0;
    void* block = ReadID3v2Tag(in, &size);
    if (!block)
        return QByteArray();
    QByteArray data(static_cast<const char*>(block), qsizetype(size));
    std::free(block);
    return data;
}

QByteArray ReadID3v2TagData(CSoundFile* file)
{
    return file ? ReadID3v2TagData(file->GetStream()) : QByteArray();
}

bool ReadID3v1Tag(std::istream& in, UInt8 record[kID3v1RecordSize])
{
    const std::int64_t length = StreamLength(in);
    if (length < std::int64_t(kID3v1RecordSize))
        return false;
    return ReadMarkedBlock(in, -std::streamoff(kID3v1RecordSize), std::ios::end, record, kID3v1RecordSize, "TAG");
}

bool ReadID3v1Tag(CSoundFile* file, UInt8 record[kID3v1RecordSize])
{
    return file && ReadID3v1Tag(file->GetStream(), record);
}

ID3v1Fields ParseID3v1Record(const UInt8 record[kID3v1RecordSize])
{
    ID3v1Fields fields;
    fields.title = FieldText(record + 3, 30);
    fields.performer = FieldText(record + 33, 30);
    fields.album = FieldText(record + 63, 30);
    fields.year = FieldText(record + 93, 4);
    fields.comment = FieldText(record + 97, 30);
    fields.genre = record[127] == 255 ? -1 : int(record[127]);
    return fields;
}

QVariantMap ID3v1TagDictionary(const UInt8 record[kID3v1RecordSize])
{
    const ID3v1Fields fields = ParseID3v1Record(record);
    QVariantMap tags;
    tags.insert(QStringLiteral("Title"), fields.title);
    tags.insert(QStringLiteral("performer"), fields.performer);
    tags.insert(QStringLiteral("Album"), fields.album);
    tags.insert(QStringLiteral("Recording time"), fields.year);
    tags.insert(QStringLiteral("Comment"), fields.comment);
    if (fields.genre >= 0)
        tags.insert(QStringLiteral("Content type"), fields.genre);
    return tags;
}
