#include "CBWFLinearFile.h"
#include "ByteOrder.h"

#include "FileManager.h"
#include "MacRoman.h"
#include "SoundFileFactories.h"
#include "SoundFileSwitches.h"
#include "WAVEFileTypes.h"
#include "debug_trace.h"
#include "format_helpers.h"
#include "regn_chunk.h"
#include "error_code_exception.h"
#include "throw_helpers.h"

#include <QStringDecoder>

#include <algorithm>
#include <cstring>

namespace {

using wave_chunks::kBext;
constexpr FourCharCode kRegn = ChunkID("regn");

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
    wave_chunks::Bext bext;
    bext.description = m_annotation;
    bext.origin = m_origin;
    bext.timeReference = HasTimeStamp() ? GetTimeStamp64() : 0;
    // Linear samples of the file's rate and word length; the mode of one
    // or two channels (wider files have none).
    QByteArray fields = "W=" + QByteArray::number(m_fileSampleBytes * 8);
    if (m_numChannels <= 2)
        fields += m_numChannels == 1 ? ",M=mono" : ",M=stereo";
    bext.codingHistory = wave_chunks::CodingHistoryLine("PCM", RateHeaderWord(m_sampleRate), fields);
    ChunkBuilder chunk(ChunkByteOrder::LittleEndian);
    wave_chunks::PutBext(&chunk, bext);
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
    wave_chunks::Bext bext;
    const OSErr err = wave_chunks::ReadBext(m_chunks, &bext);
    if (err)
        return err;
    SetTimeStamp64(bext.timeReference);
    m_annotation = bext.description;

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

SoundFileTypeDescriptor CBWFLinearFile::Descriptor()
{
    return {.type = FOUR_CHAR_CODE("BWLN"),
            .factory = &MakeSoundFile<CBWFLinearFile>,
            .probe = &ProbeWAVEChannels,
            .setMember = true};
}
