#include "CAIFCFile.h"
#include "format_type_codes.h"

#include "ByteOrder.h"
#include "FileManager.h"
#include "aiff_chunks.h"
#include "CreateSoundFile.h"
#include "SoundFileFactories.h"
#include "SoundFileRegistry.h"
#include "header_sniffing.h"
#include "error_code_exception.h"
#include "ieee_extended.h"
#include "pcm_bytes.h"
#include "progress_channel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

using namespace aiff_chunks;

namespace {

constexpr OSType kFVER = FOUR_CHAR_CODE("FVER");
constexpr OSType kNONE = FOUR_CHAR_CODE("NONE");
constexpr OSType kFL32 = FOUR_CHAR_CODE("fl32");
constexpr UInt32 kAIFCVersion1 = 0xA2805140;

// float -> 32-bit integer: the product rounded to single precision, then
// truncated toward zero, saturating; not-a-number gives the most negative value.
SInt32 FloatSampleToInt32(float value)
{
    const float product = float(double(value) * 2147483647.0);
    if (std::isnan(product)) {
        return SInt32(0x80000000u);
    }
    if (product >= 2147483647.0f) {
        return 0x7FFFFFFF;
    }
    if (product <= -2147483648.0f) {
        return SInt32(0x80000000u);
    }
    return SInt32(product);
}

} // namespace

CAIFCFile::CAIFCFile() : CAIFFFile(kAIFCFileType, "AIFC") {}

CAIFCFile::~CAIFCFile()
{
    if (m_isOpen) {
        CAIFFFile::Close();
    }
}

QString CAIFCFile::GetFormatName() const
{
    if (m_sampleFormat == kSampleFormatFloatBE) {
        return QStringLiteral("AIFC 32-bit float (big-endian)");
    }
    if (m_sampleFormat == kSampleFormatFloatLE) {
        return QStringLiteral("AIFC 32-bit float (little-endian)");
    }
    if (m_sampleFormat == kSampleFormatDoubleBE) {
        return QStringLiteral("AIFC 64-bit float (big-endian)");
    }
    return CAIFFFile::GetFormatName();
}

bool CAIFCFile::CompressionFormat(OSType compression, SInt16 commBits, SInt16* sampleFormat, SInt16* bits)
{
    struct Entry {
        OSType type;
        SInt16 format;
        SInt16 bits;  // 0: as in COMM
    };
    static const Entry kTable[] = {
        {FOUR_CHAR_CODE("NONE"), kSampleFormatBigEndian, 0},
        {FOUR_CHAR_CODE("twos"), kSampleFormatBigEndian, 16},
        {FOUR_CHAR_CODE("in24"), kSampleFormatBigEndian, 24},
        {FOUR_CHAR_CODE("in32"), kSampleFormatBigEndian, 32},
        {FOUR_CHAR_CODE("sowt"), kSampleFormatLittleEndian, 16},
        {FOUR_CHAR_CODE("42ni"), kSampleFormatLittleEndian, 24},
        {FOUR_CHAR_CODE("23ni"), kSampleFormatLittleEndian, 32},
        {FOUR_CHAR_CODE("fl32"), kSampleFormatFloatBE, 32},
        {FOUR_CHAR_CODE("23lf"), kSampleFormatFloatLE, 32},
        {FOUR_CHAR_CODE("FL32"), kSampleFormatFloatBE, 32},
        {FOUR_CHAR_CODE("FL64"), kSampleFormatDoubleBE, 32},
    };
    for (const Entry& entry : kTable) {
        if (entry.type == compression) {
            *sampleFormat = entry.format;
            *bits = entry.bits != 0 ? entry.bits : commBits;
            return true;
        }
    }
    return false;
}

OSErr CAIFCFile::ReadCOMM()
{
    // The compression type follows the common fields; one this form does
    // not read is reported once the rest of the chunk is taken.
    return ReadCOMMChunk(22, [this](ChunkView& body, COMMFields* comm, double*) -> OSErr {
        m_compression = body.get_fourcc();
        SInt16 format = m_sampleFormat;
        const bool known = CompressionFormat(m_compression, comm->bits, &format, &comm->bits);
        m_sampleFormat = format;
        return known ? noErr : kUnsupportedCompressionErr;
    });
}

OSErr CAIFCFile::BuildCOMM(ChunkBuilder* chunk, SInt64* position)
{
    // Both names take the 38 bytes the header keeps for the body (15 and
    // 14 characters, with the count byte and the pad).
    PutCOMMFields(chunk, 38);
    chunk->put_fourcc(m_compression == kFL32 ? kFL32 : kNONE);
    chunk->put_pstring(m_compression == kFL32 ? "32-bit floating" : "not compressed", true);
    ChunkInfo info;
    OSErr err = FindChunk(kCOMM, &info);
    if (err != noErr) {
        return err == kChunkNotFoundErr ? kAIFFNoCOMMErr : err;
    }
    *position = info.headerPos;
    return noErr;
}

OSErr CAIFCFile::ReadHeader()
{
    OSErr err = ReadFormAndCOMM();
    if (err != noErr) {
        return err;
    }
    SInt64 available = 0;
    err = ReadAnnotationsAndLocateData(&available);
    if (err != noErr) {
        return err;
    }
    return SettleSoundData(available);
}

OSErr CAIFCFile::AfterOpen()
{
    return AddFileRegion();
}

OSErr CAIFCFile::WriteHeader()
{
    // A float input kept as AIFF-C keeps its 32-bit floats.
    const bool floats = m_keepsFloatSamples && m_numBits == 32;
    m_compression = floats ? kFL32 : kNONE;
    if (floats) {
        m_sampleFormat = kSampleFormatFloatBE;
    }
    ChunkBuilder header;
    PutFORMHeader(&header, kAIFCFileType);
    header.put_fourcc(kFVER);
    header.put_u32(4);
    header.put_u32(kAIFCVersion1);
    PutEmptyChunk(&header, kCOMM, 38);  // the body is written at close
    if (GetNumChannels() > 2) {
        PutCHAN(&header);  // a surround layout, as AIFF writes it
    }
    PutEmptySSND(&header);
    const OSErr err = WriteAt(0, header.data(), header.size());
    if (err == noErr) {
        m_dataOffset = SInt64(header.size());
    }
    return err;
}

OSErr CAIFCFile::ReadBlock(UInt32 frame)
{
    OSErr err = CAIFFFile::ReadBlock(frame);
    if (!m_readBuffer) {
        return err;
    }
    const std::size_t bytes = std::size_t(std::max<SInt16>(BitsToBytes(m_numBits), 1));
    const std::size_t total = std::size_t(m_bufferFrames) * std::size_t(BlockBytesPerFrame());
    UInt8* data = m_readBuffer;
    switch (m_sampleFormat) {
    case kSampleFormatLittleEndian:
        if (bytes > 1) {
            for (std::size_t i = 0; i + bytes <= total; i += bytes) {
                std::reverse(data + i, data + i + bytes);
            }
        }
        break;
    case kSampleFormatFloatBE:
    case kSampleFormatFloatLE: {
        // The block's words end at full scale: the samples beyond it are
        // clipped, and counted for the file's warning (the frames of the
        // file, each once).
        const UInt32 valid = frame < GetNumFrames() ? std::min(m_bufferFrames, GetNumFrames() - frame) : 0;
        std::size_t countFrom = 0, countTo = 0;
        ClipCountSpan(frame, valid, &countFrom, &countTo);
        countTo = std::min(countTo, total / 4);
        if (countFrom < countTo)
            AddClippedSamples(pcm_bytes::CountFloatsBeyondFullScale(data, countFrom, countTo,
                                                                     m_sampleFormat == kSampleFormatFloatLE));
        for (std::size_t i = 0; i + 4 <= total; i += 4) {
            const UInt32 word = m_sampleFormat == kSampleFormatFloatBE ? ReadBE32(data + i) : ReadLE32(data + i);
            float value;
            std::memcpy(&value, &word, 4);
            const UInt32 sample = UInt32(FloatSampleToInt32(value));
            WriteBE32(data + i, sample);
        }
        break;
    }
    default:
        break;  // big-endian integers (8-bit ones signed) are the block's own form
    }
    return err;
}

bool CAIFCFile::GetRawSampleLayout(RawSampleLayout* layout) const
{
    if (m_sampleFormat == kSampleFormatFloatBE && m_numBits == 32 && !ReordersChannels() &&
        FileBytesPerFrame() == SInt64(GetNumChannels()) * 4) {
        layout->bytes = 4;
        layout->littleEndian = false;
        layout->offsetBinary = false;
        layout->ieeeFloat = true;
        return true;
    }
    return m_sampleFormat == kSampleFormatBigEndian && RawLayoutFromTransform(layout);
}

OSErr CAIFCFile::StoreFrames(UInt32 frames, UInt32 frame)
{
    if (m_sampleFormat != kSampleFormatFloatBE) {
        return CAIFFFile::StoreFrames(frames, frame);
    }
    // The block's 32-bit integers as floats (i x 2^-31 in single precision).
    const std::size_t samples = std::size_t(frames) * GetNumChannels();
    m_scratch.resize(samples * 4);
    for (std::size_t i = 0; i < samples; ++i) {
        const float value = float(double(float(SInt32(ReadBE32(m_writeBuffer + 4 * i)))) * 4.65661287308e-10);
        UInt32 word;
        std::memcpy(&word, &value, 4);
        WriteBE32(m_scratch.data() + 4 * i, word);
    }
    return WriteFileFrames(m_scratch.data(), frames, frame);
}

SInt64 CAIFCFile::FileBytesPerFrame() const
{
    if (m_sampleFormat == kSampleFormatDoubleBE) {
        return SInt64(GetNumChannels()) * 8;
    }
    return CAIFFFile::FileBytesPerFrame();
}

OSErr CAIFCFile::LoadFrames(UInt8* block, UInt32 frame, UInt32 frames, std::size_t* filled)
{
    if (m_sampleFormat != kSampleFormatDoubleBE) {
        return CAIFFFile::LoadFrames(block, frame, frames, filled);
    }
    m_scratch.resize(std::size_t(frames) * std::size_t(FileBytesPerFrame()));
    std::size_t bytes = 0;
    const OSErr err = ReadFileFrames(m_scratch.data(), frame, frames, &bytes);
    const std::size_t whole = bytes / 8;
    std::size_t countFrom = 0, countTo = 0;
    ClipCountSpan(frame, UInt32(whole / std::max<std::size_t>(GetNumChannels(), 1)), &countFrom, &countTo);
    UInt64 clipped = 0;
    for (std::size_t i = 0; i < whole; ++i) {
        const UInt8* p = m_scratch.data() + 8 * i;
        const UInt64 bits = (UInt64(ReadBE32(p)) << 32) | ReadBE32(p + 4);
        double value;
        std::memcpy(&value, &bits, 8);
        clipped += UInt64(i >= countFrom && i < countTo) & (UInt64(value > 1.0) | UInt64(value < -1.0));
        // Scaled as the 32-bit floats are, truncated toward zero and
        // saturated; a NaN is the most negative value.
        const double scaled = value * 2147483647.0;
        SInt32 sample;
        if (std::isnan(scaled) || scaled <= -2147483648.0) {
            sample = std::numeric_limits<SInt32>::min();
        } else if (scaled >= 2147483647.0) {
            sample = std::numeric_limits<SInt32>::max();
        } else {
            sample = SInt32(scaled);
        }
        WriteBE32(block + 4 * i, UInt32(sample));
    }
    AddClippedSamples(clipped);
    *filled = whole * 4;
    return err;
}

static SInt32 AIFCHeaderProbe(const QString& path)
{
    SInt16 bits = 0;
    OSType compression = 0;
    const SInt32 channels = ProbeFORMFile(path, kAIFCFileType, &bits, &compression);
    if (channels <= 0) {
        return channels;
    }
    SInt16 format = 0;
    return CAIFCFile::CompressionFormat(compression, bits, &format, &bits) ? channels : 0;
}

// AIFF-C by compression type (see ProbeAIFCType).
OSErr ProbeAIFCType(OSType* type, std::istream& in)
{
    OSErr err = FindAIFFChunk("COMM", in);
    if (err != noErr)
        return err;
    // Over the size, channel count, frame count, sample size and rate.
    UInt8 compression[4];
    if (!header_sniffing::SeekBy(in, 22) || !header_sniffing::ReadExactly(in, compression, 4))
        return kUnknownFileFormatErr;
    switch (ReadBE32(compression)) {
    case FOUR_CHAR_CODE("NONE"):
    case FOUR_CHAR_CODE("none"):
    case FOUR_CHAR_CODE("sowt"):
    case FOUR_CHAR_CODE("in24"):
    case FOUR_CHAR_CODE("in32"):
    case FOUR_CHAR_CODE("fl32"):
    case FOUR_CHAR_CODE("FL32"):
    case FOUR_CHAR_CODE("FL64"):
    case FOUR_CHAR_CODE("42ni"):
    case FOUR_CHAR_CODE("23ni"):
    case FOUR_CHAR_CODE("23lf"):
    case FOUR_CHAR_CODE("able"):
        *type = kAIFCFileType;
        break;
    case FOUR_CHAR_CODE("ima4"):
        *type = format_type_codes::kAIFCIma4;
        break;
    default:
        *type = format_type_codes::kMovie;
        break;
    }
    return noErr;
}

static OSErr SniffAIFC(const UInt8* header, std::istream& in, OSType, OSType* type)
{
    if (ReadBE32(header + 8) != aiff_chunks::kAIFC)
        return kUnknownFileFormatErr;
    return ProbeAIFCType(type, in);
}

void RegisterAIFCFileTypes()
{
    RegisterSoundFileFactory(kAIFCFileType, &MakeSoundFileNoThrow<CAIFCFile>);
    RegisterHeaderProbe(kAIFCFileType, &AIFCHeaderProbe);
    RegisterHeaderSniffer(kAIFCFileType, &SniffAIFC);
    RegisterSetMemberType(kAIFCFileType);
}
