#include "CIFF8SVXFile.h"

#include "FileManager.h"
#include "IFF8SVXAVRCDFileTypes.h"
#include "SoundFileFactories.h"
#include "aiff_chunks.h"
#include "error_code_exception.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

namespace {

constexpr OSType kVHDR = FOUR_CHAR_CODE("VHDR");
constexpr OSType kBODY = FOUR_CHAR_CODE("BODY");
constexpr OSType kCHAN = FOUR_CHAR_CODE("CHAN");
constexpr UInt32 kSizePlaceholder = FOUR_CHAR_CODE("size");
constexpr SInt64 kHeaderBytes = 48;
constexpr SInt64 kMaxFormSize = 0x7FFFFFFF;

ChunkWalkOptions WalkOptions()
{
    ChunkWalkOptions options;
    options.order = ChunkByteOrder::BigEndian;
    // Every chunk takes at least 8 bytes, so the walk is bounded by the file.
    options.maxChunks = std::numeric_limits<int>::max() - 1;
    return options;
}

void PutVoiceHeader(ChunkBuilder* chunk, UInt32 frames, double rate)
{
    chunk->put_fourcc(kVHDR);
    chunk->put_u32(20);
    chunk->put_u32(frames);
    chunk->put_u32(0);
    chunk->put_u32(0);
    chunk->put_u16(UInt16(std::clamp(rate, 0.0, 65535.0)));
    chunk->put_u8(0);
    chunk->put_u8(0);
    chunk->put_u32(0x00010000);
}

} // namespace

CIFF8SVXFile::CIFF8SVXFile() : CLinearPCMFile(kIFF8SVXFileType, "Amiga/IFF 8SVX", kHeaderBytes)
{
    m_notOpenErr = fnOpnErr;
}

CIFF8SVXFile::~CIFF8SVXFile()
{
    if (m_isOpen) {
        Close();
    }
}

OSErr CIFF8SVXFile::FindChunk(OSType id, ChunkInfo* info)
{
    const OSErr err = FindFormChunk(id, WalkOptions(), info);
    return err == eofErr ? kChunkNotFoundErr : err;
}

OSErr CIFF8SVXFile::ReadChunkBody(OSType id, ChunkView* body, SInt64 maxBytes)
{
    ChunkInfo info;
    const OSErr err = FindChunk(id, &info);
    if (err != noErr) {
        return err;
    }
    RefNumChunkSource source(m_refNum);
    return ChunkReader(source, WalkOptions()).ReadBody(info, body, maxBytes);
}

OSErr CIFF8SVXFile::ReadVoiceHeader()
{
    return Guarded([&]() -> OSErr {
        ChunkView body;
        const OSErr err = ReadChunkBody(kVHDR, &body, 20);
        if (err != noErr) {
            return err;
        }
        if (!body.has(20)) {
            return kIFF8SVXNoVHDRErr;
        }
        const UInt32 oneShot = body.get_u32be();
        const UInt32 repeat = body.get_u32be();
        m_voiceFrames = UInt64(oneShot) + repeat;
        body.seek(12);
        const UInt16 rate = body.get_u16be();
        body.skip(1);
        const UInt8 compression = body.get_u8();
        if (compression != 0) {
            return kUnsupportedCompressionErr;
        }
        m_numChannels = 1;
        m_numBits = SInt16(8 * BytesPerSample());
        m_sampleRate = double(rate);
        return noErr;
    });
}

UInt32 CIFF8SVXFile::BytesPerSample()
{
    RefNumChunkSource source(m_refNum);
    ChunkReader reader(source, WalkOptions());
    return reader.ReadHeader() == noErr && reader.FormType() == kIFF16SVFormType ? 2 : 1;
}

OSErr CIFF8SVXFile::CheckMono()
{
    ChunkView body;
    const OSErr err = ReadChunkBody(kCHAN, &body, 4);
    if (err != noErr) {
        return err == kChunkNotFoundErr ? noErr : err;
    }
    // 2 left, 4 right, 6 both (the channels one after the other).
    return body.has(4) && body.get_u32be() == 6 ? kIFF8SVXChannelsErr : noErr;
}

OSErr CIFF8SVXFile::ReadHeader()
{
    OSErr err = ReadVoiceHeader();
    if (err == kChunkNotFoundErr) {
        return kIFF8SVXNoVHDRErr;
    }
    if (err != noErr) {
        return err;
    }
    m_sampleFormat = kSampleFormatBigEndian;
    err = CheckMono();
    if (err != noErr) {
        return err;
    }
    ChunkInfo body;
    err = FindChunk(kBODY, &body);
    if (err != noErr) {
        return err;
    }
    m_dataOffset = body.bodyPos;
    // The body as the file holds it (oversized fields are cut to the end of
    // the file by the walk); a size it does not hold cuts the file short.
    // Behind the placeholders of an unfinished file ("size", 0xFFFFFFFF)
    // the body runs to the end of the file, and is as long as the voice
    // header counts when it counts any.
    const UInt64 sampleBytes = UInt64(m_numBits / 8);
    const bool sized = body.sizeField != kSizePlaceholder && body.sizeField != 0xFFFFFFFFu;
    const UInt64 promised = sized ? body.sizeField : m_voiceFrames > 0 ? m_voiceFrames * sampleBytes : kDataToTheEnd;
    SettleFramesFromData(UInt64(std::max<SInt64>(body.bodySize, 0)), promised, sampleBytes);
    return noErr;
}

OSErr CIFF8SVXFile::ProbeHeader(SInt16* result)
{
    const OSErr err = ProbeWith(result, [this] { return ReadVoiceHeader(); });
    return err == kChunkNotFoundErr ? kIFF8SVXNoVHDRErr : err;
}

OSErr CIFF8SVXFile::CheckCreateShape(CreateStep step, UInt16 numChannels, SInt16 numBits, float sampleRate) const
{
    if (step != CreateStep::AfterBase) {
        return noErr;
    }
    if (numChannels > 1) {
        return kIFF8SVXChannelsErr;
    }
    if (numBits != 8) {
        return kIFF8SVXWordSizeErr;
    }
    // The rate field has 16 bits: a rate it cannot hold is refused
    // rather than written wrapped.
    if (numChannels == 0) {
        return kIFF8SVXChannelsErr;
    }
    if (!(sampleRate >= 0.0f) || sampleRate >= 65536.0f) {
        return kIncompatibleSampleRateErr;  // this file only
    }
    return noErr;
}

OSErr CIFF8SVXFile::WriteHeader()
{
    ChunkBuilder header;
    header.put_fourcc(aiff_chunks::kFORM);
    header.put_u32(kSizePlaceholder);
    header.put_fourcc(kIFF8SVXFileType);
    PutVoiceHeader(&header, m_numFrames, m_sampleRate);
    header.put_fourcc(kBODY);
    header.put_u32(kSizePlaceholder);
    return WriteAt(0, header.data(), header.size());
}

OSErr CIFF8SVXFile::RewriteHeader()
{
    const SInt64 dataEnd = m_dataOffset + SInt64(m_numFrames);
    const SInt64 padded = dataEnd + (m_numFrames & 1);
    if (padded - 8 > kMaxFormSize) {
        return fsDataTooBigErr;
    }
    // The file ends with the samples and, after an odd count, the
    // pad byte that IFF chunks take (not counted in the BODY size).
    OSErr err = SetEOF(m_refNum, dataEnd);
    if (err == noErr && (m_numFrames & 1) != 0) {
        const UInt8 zero = 0;
        err = WriteAt(dataEnd, &zero, 1);
    }
    if (err != noErr) {
        return err;
    }
    ChunkBuilder voice;
    PutVoiceHeader(&voice, m_numFrames, m_sampleRate);
    err = OverwriteChunk(kVHDR, true, voice);
    if (err != noErr) {
        return err;
    }
    ChunkBuilder size;
    size.put_u32(m_numFrames);
    err = OverwriteChunk(kBODY, false, size);
    if (err != noErr) {
        return err;
    }
    const SInt64 eof = FileLength();
    err = FindChunk(aiff_chunks::kFORM);
    if (err != noErr) {
        return err == kChunkNotFoundErr ? kIFF8SVXNoFORMErr : err;
    }
    ChunkBuilder form;
    form.put_u32(UInt32(eof - 8));
    err = WriteAt(4, form.data(), form.size());
    return err;
}

OSErr CIFF8SVXFile::OverwriteChunk(OSType id, bool fromHeader, const ChunkBuilder& bytes)
{
    ChunkInfo info;
    const OSErr err = FindChunk(id, &info);
    if (err != noErr) {
        return err;
    }
    return WriteAt(fromHeader ? info.headerPos : info.SizePos(), bytes.data(), bytes.size());
}

OSErr CIFF8SVXFile::CheckWriteExtent(UInt64 endFrame) const
{
    // The FORM size field counts the samples and a pad byte after an odd count.
    return m_dataOffset + SInt64(endFrame) + 1 - 8 > kMaxFormSize ? fsDataTooBigErr : noErr;
}

SoundFileTypeDescriptor CIFF8SVXFile::Descriptor()
{
    return {.type = kIFF8SVXFileType,
            .factory = &MakeSoundFileNoThrow<CIFF8SVXFile>,
            .sniffer = &Sniff8SVX,
            .probe = &ProbeIFF8SVXChannels};
}
