#include "CBWFLinearFile.h"
#include "ByteOrder.h"

#include "FileManager.h"
#include "MacRoman.h"
#include "SoundFileSwitches.h"
#include "debug_trace.h"
#include "regn_chunk.h"
#include "error_code_exception.h"
#include "throw_helpers.h"

#include <QStringDecoder>

#include <algorithm>
#include <cstring>

namespace {

constexpr FourCharCode kBext = ChunkID("bext");
constexpr FourCharCode kRegn = ChunkID("regn");
constexpr std::size_t kBextDataSize = 858;

void PutText(ChunkBuilder& chunk, const QByteArray& text, std::size_t field)
{
    const std::size_t length = std::min(std::size_t(text.size()), field);
    chunk.put_bytes(text.constData(), length);
    chunk.put_zeros(field - length);
}

} // namespace

CBWFLinearFile::~CBWFLinearFile()
{
    if (IsOpen())
        CBWFLinearFile::Close();
}

OSType CBWFLinearFile::GetFileType() const { return FOUR_CHAR_CODE("BWLN"); }
QString CBWFLinearFile::GetFormatName() const { return QStringLiteral("Uncompressed Broadcast Wave"); }

// ============================================================ 'bext'
std::vector<UInt8> CBWFLinearFile::BuildBEXT() const
{
    ChunkBuilder chunk(ChunkByteOrder::LittleEndian);
    chunk.put_fourcc(kBext);
    chunk.put_u32le(UInt32(kBextDataSize));
    // Description: at most 255 bytes and a terminating zero.
    const std::size_t length = std::min<std::size_t>(std::size_t(m_annotation.size()), 255);
    chunk.put_bytes(m_annotation.constData(), length);
    chunk.put_zeros(256 - length);
    PutText(chunk, m_origin.originator, 32);
    PutText(chunk, m_origin.reference, 32);
    PutText(chunk, m_origin.date, 10);
    PutText(chunk, m_origin.time, 8);
    const UInt64 stamp = HasTimeStamp() ? GetTimeStamp64() : 0;
    chunk.put_u32le(UInt32(stamp & 0xFFFFFFFFu));
    chunk.put_u32le(UInt32(stamp >> 32));
    chunk.put_u16le(0);
    chunk.put_zeros(64);
    chunk.put_zeros(190);
    PutText(chunk, QByteArrayLiteral("CodingHistory"), 256);
    return chunk.bytes();
}

OSErr CBWFLinearFile::WriteBEXT()
{
    const std::vector<UInt8> bytes = BuildBEXT();
    return AppendBytes(bytes.data(), bytes.size());
}

OSErr CBWFLinearFile::ReadBEXT()
{
    if (!m_isOpen)
        return kFileNotOpenedErr;
    ChunkInfo info;
    OSErr err = FindChunk(kBext, &info);
    if (err)
        return err;
    ChunkView body;
    err = ReadChunkBody(info, &body, 602);
    if (err)
        return err;
    UInt8 fields[602] = {};
    if (!body.empty())
        std::memcpy(fields, body.data(), std::min<std::size_t>(body.size(), sizeof fields));

    SetTimeStamp64(ReadLE64(fields + 338));

    std::size_t length = 0;
    while (length < 256 && fields[length] != 0)
        ++length;
    m_annotation = QByteArray(reinterpret_cast<const char*>(fields), qsizetype(length));

    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(m_annotation);
    if (utf8.hasError()) {
        QM_TRACE("ReadBEXT", "bwf annotation could not be interpreted as utf8: " << m_annotation.toStdString());
        // Every byte has a Mac OS Roman character, so this one succeeds.
        text = MacRoman::toUnicode(m_annotation);
    }
    m_specifics.insert(QStringLiteral("bwfAnnotation"), text);
    return noErr;
}

// ============================================================ 'regn'
OSErr CBWFLinearFile::CountRegions(SInt16* count)
{
    if (count)
        *count = 0;
    if (!m_isOpen)
        return noErr;
    ChunkView body;
    bool found = false;
    const OSErr err = ReadOptionalChunk(kRegn, &body, &found, 4);
    if (err || !found)
        return err;
    if (body.size() < 4)
        return kCorruptChunkSizeErr;
    if (count)
        *count = SInt16(std::min<UInt32>(body.get_u32le(), 32767));
    return noErr;
}

OSErr CBWFLinearFile::CountRegionTexts(SInt16* count)
{
    return CountRegions(count);
}

OSErr CBWFLinearFile::ReadRegions()
{
    if (!m_regions.isEmpty())
        return noErr;
    if (!m_isOpen)
        return kFileNotOpenedErr;
    ChunkView body;
    bool found = false;
    const OSErr err = ReadOptionalChunk(kRegn, &body, &found);
    if (err || !found)
        return err;
    return ReadRegnBody(*this, body);
}

OSErr CBWFLinearFile::WriteRegions()
{
    ChunkBuilder chunk(ChunkByteOrder::LittleEndian);
    BuildRegnChunk(*this, &chunk);
    return AppendBytes(chunk.data(), chunk.size());
}

// ==================================================== writing hooks
OSErr CBWFLinearFile::WriteFmtChunk()
{
    OSErr err = CWAVEFile::WriteFmtChunk();
    return err ? err : WriteBEXT();
}

OSErr CBWFLinearFile::WriteExtensibleFmtChunk()
{
    OSErr err = CWAVEFile::WriteExtensibleFmtChunk();
    return err ? err : WriteBEXT();
}

OSErr CBWFLinearFile::WriteExtraChunks()
{
    ChunkInfo info;
    OSErr err = FindChunk(kBext, &info);
    if (err)
        return err;
    const std::vector<UInt8> bytes = BuildBEXT();
    err = WriteAt(info.headerPos, bytes.data(), bytes.size());
    if (err)
        return err;
    return WriteRegions();
}

// ====================================================== open, create
OSErr CBWFLinearFile::Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                             ConstStr255Param nameExtension, float sampleRate)
{
    if (fileTypeSpecifics) {
        // The specifics block is 256 bytes: the text ends at its end at the latest.
        const char* text = reinterpret_cast<const char*>(fileTypeSpecifics + 22);
        std::size_t length = 0;
        while (length < 256 - 22 && text[length] != 0)
            ++length;
        m_annotation = QByteArray(text, qsizetype(length));
    } else {
        m_annotation.clear();
    }
    m_origin = BextOrigin::Now();
    return CWAVEFile::Create(numChannels, numBits, reserved, fileTypeSpecifics, nameExtension, sampleRate);
}

void CBWFLinearFile::OpenChunks()
{
    THROW_IF_ERROR(ReadRegions(), "Open: regions");
    THROW_IF_ERROR(ReadBEXT(), "Open: bext");
    THROW_IF_ERROR(ReadChunks(), "Open: annotation chunks");
}

void CBWFLinearFile::ProbeExtraChunks()
{
    THROW_IF_ERROR(ReadRegions(), "ProbeHeader: regions");
    THROW_IF_ERROR(ReadBEXT(), "ProbeHeader: bext");
}
