#include "CVOCFile.h"

#include "SoundFileFactories.h"
#include "VOCFileTypes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr SInt64 kHeaderSizePosition = 20;
constexpr UInt16 kVOCVersion = 0x010A;
constexpr UInt8 kSoundDataBlock = 1;
constexpr UInt8 kTerminator = 0;

void PutLength24(UInt8* p, UInt32 value)
{
    p[0] = UInt8(value);
    p[1] = UInt8(value >> 8);
    p[2] = UInt8(value >> 16);
}

bool StreamRead(std::istream& in, SInt64 position, UInt8* bytes, std::streamsize count)
{
    in.clear();
    in.seekg(std::streamoff(position), std::ios::beg);
    if (!in)
        return false;
    in.read(reinterpret_cast<char*>(bytes), count);
    return in.gcount() == count;
}

// The time-constant byte of a rate (8-bit files).
UInt8 TimeConstantOf(float rate)
{
    return UInt8(int(float(256.0f - 1000000.0f / rate) + 0.5f));
}

} // namespace

OSErr FindVOCBlock(UInt8 blockType, std::istream& stream)
{
    UInt8 sizeBytes[2];
    if (!StreamRead(stream, kHeaderSizePosition, sizeBytes, 2))
        return kChunkNotFoundErr;
    SInt64 position = SInt64(sizeBytes[0]) | (SInt64(sizeBytes[1]) << 8);
    for (;;) {
        UInt8 header[4];
        if (!StreamRead(stream, position, header, 4))
            return kChunkNotFoundErr;
        if (header[0] == blockType)
            return noErr;
        if (header[0] == kTerminator)
            return kChunkNotFoundErr;
        position += 4 + SInt64(CVOCFile::BlockLength(header));
    }
}

CVOCFile::CVOCFile() : CVOCFile(FOUR_CHAR_CODE("VOC "), "Voc") {}

CVOCFile::CVOCFile(OSType fileType, const char* formatName) : CLinearPCMFile(fileType, formatName)
{
    // A file we cannot read is not kept open behind the caller's back; the
    // base step of Create is not examined.
    m_closesRefusedFile = true;
    m_ignoresBaseCreateErr = true;
}

CVOCFile::~CVOCFile()
{
    if (m_isOpen)
        Close();
}

UInt32 CVOCFile::FrameBytes() const
{
    return std::max<UInt32>(1, m_numChannels * UInt32(std::max<SInt16>(BitsToBytes(m_numBits), 1)));
}

UInt32 CVOCFile::BlockLength(const UInt8* header)
{
    return UInt32(header[1]) | (UInt32(header[2]) << 8) | (UInt32(header[3]) << 16);
}

OSErr CVOCFile::FirstBlock(SInt64* position)
{
    UInt8 size[2] = {0, 0};
    const OSErr err = ReadAt(kHeaderSizePosition, size, 2);
    *position = SInt64(size[0]) | (SInt64(size[1]) << 8);
    return err;
}

OSErr CVOCFile::FindBlockFrom(SInt64 position, UInt8 a, UInt8 b, UInt8* type, SInt64* body)
{
    for (;;) {
        UInt8 header[4];
        const OSErr err = ReadAt(position, header, 4);
        if (err)
            return err == eofErr ? kChunkNotFoundErr : err;
        if (header[0] == a || header[0] == b) {
            *type = header[0];
            *body = position + 4;
            return noErr;
        }
        if (header[0] == kTerminator)
            return kChunkNotFoundErr;
        position += 4 + SInt64(BlockLength(header));
    }
}

bool CVOCFile::EndsCleanly(SInt64 position, SInt64 eof)
{
    // At most a few blocks are expected after the sound data.
    for (int blocks = 0; blocks < 1000; ++blocks) {
        if (position == eof)
            return true;
        UInt8 header[4] = {0, 0, 0, 0};
        const SInt32 want = SInt32(std::min<SInt64>(4, eof - position));
        if (want <= 0 || ReadAt(position, header, std::size_t(want)) != noErr)
            return false;
        if (header[0] == kTerminator)
            return position == eof - 1;
        if (header[0] > 9 || want < 4)
            return false;
        position += 4 + SInt64(BlockLength(header));
        if (position > eof)
            return false;
    }
    return false;
}

OSErr CVOCFile::SettleSampleBytes(UInt64 declared)
{
    SInt64 eof = 0;
    OSErr err = GetEOF(m_refNum, &eof);
    if (err)
        return err;
    const UInt64 available = UInt64(std::max<SInt64>(0, eof - m_dataOffset));
    UInt64 present = available;
    UInt64 promised = declared;
    if (declared < available && !EndsCleanly(m_dataOffset + SInt64(declared), eof)) {
        // Writers that stream the sound out leave a length that does not
        // match the data (a placeholder, the first piece's length); the
        // sound then runs to the end of the file, less a final terminator.
        UInt8 last = 0xFF;
        promised = kDataToTheEnd;
        if (ReadAt(eof - 1, &last, 1) == noErr && last == kTerminator)
            present -= 1;
    }
    m_declaredBytes = declared;
    // A length the file does not hold is cut to it (and the file is cut short).
    SettleFramesFromData(present, promised, FrameBytes());
    return noErr;
}


OSErr CVOCFile::ReadHeader()
{
    SInt64 mark = 0;
    UInt8 type = 0;
    OSErr err = FirstBlock(&mark);
    if (!err)
        err = FindBlockFrom(mark, kSoundDataBlock, kSoundDataBlock, &type, &mark);
    if (err == kChunkNotFoundErr || err == eofErr)
        return kVOCNoDataBlockErr;
    if (err)
        return err;
    UInt8 block[6];
    err = ReadAt(mark - 4, block, 6);
    if (err)
        return err == eofErr ? kVOCNoDataBlockErr : err;
    if (block[5] != 0)
        return kVOCNoLinearDataErr;
    const UInt32 length = BlockLength(block);
    m_numBits = 8;
    m_numChannels = 1;
    m_sampleRate = 1000000.0 / (256 - int(block[4]));
    m_sampleFormat = kSampleFormatUnsigned8LE;
    m_dataOffset = mark + 2;
    return SettleSampleBytes(length >= 2 ? length - 2 : 0);
}

void CVOCFile::SetTransform()
{
    // Unsigned bytes, little-endian 16-bit words.
    m_transform = SampleTransform{};
    m_transform.flipSign = m_numBits == 8;
    m_transform.reverseBytes = m_numBits == 16;
}

OSErr CVOCFile::AfterOpen()
{
    SetTransform();
    return AddFileRegion();
}

OSErr CVOCFile::CheckCreateShape(CreateStep step, UInt16 numChannels, SInt16 numBits, float sampleRate) const
{
    if (step != CreateStep::AfterBase)
        return noErr;
    if (numChannels > 1)
        return kVOCChannelsErr;
    if (!(sampleRate >= 3609.0f && sampleRate <= 20000.0f))
        return kVOCSampleRateErr;
    const SInt16 t = SInt16(int(float(256.0f - 1000000.0f / sampleRate) + 0.5f));
    const float achieved = float(1000000.0 / (256 - int(t)));
    if (!(std::fabs(achieved - sampleRate) < 1.0f))
        return kVOCSampleRateErr;
    if (numBits != 8)
        return kVOCWordSizeErr;
    if (numChannels == 0)
        return kVOCChannelsErr;
    return noErr;
}

OSErr CVOCFile::SetUpNewFile(const UInt8*)
{
    m_sampleFormat = m_numBits == 8 ? kSampleFormatUnsigned8LE : kSampleFormatLittleEndian;
    SetTransform();
    return noErr;
}

OSErr CVOCFile::WriteFileHeader(UInt16 version)
{
    UInt8 header[26];
    std::memcpy(header, "Creative Voice File\x1A", 20);
    const UInt16 check = UInt16(0x1234 + UInt16(~version));
    const UInt8 tail[6] = {26, 0, UInt8(version), UInt8(version >> 8), UInt8(check), UInt8(check >> 8)};
    std::memcpy(header + 20, tail, 6);
    return WriteAt(0, header, 26);
}

OSErr CVOCFile::WriteHeader()
{
    OSErr err = WriteFileHeader(kVOCVersion);
    if (err)
        return err;
    m_dataOffset = 32;
    return UpdateBlockHeaders();
}

OSErr CVOCFile::UpdateBlockHeaders()
{
    UInt8 block[6] = {kSoundDataBlock, 0, 0, 0, TimeConstantOf(float(m_sampleRate)), 0};
    PutLength24(block + 1, UInt32(UInt64(m_numFrames) * FrameBytes() + DataBlockOverhead()));
    return WriteAt(m_dataOffset - 6, block, 6);
}

OSErr CVOCFile::UpdateHeader()
{
    if (UInt64(m_numFrames) * FrameBytes() + DataBlockOverhead() > kVOCMaxBlockLength)
        return kFragmentedVOCOutputErr;
    return UpdateBlockHeaders();
}

OSErr CVOCFile::RewriteHeader()
{
    OSErr err = UpdateHeader();
    if (!err)
        err = SetFPos(m_refNum, fsFromLEOF, 0);
    if (!err) {
        const UInt8 terminator = kTerminator;
        SInt32 n = 1;
        err = FSWrite(m_refNum, &n, &terminator);
    }
    return err;
}

OSErr CVOCFile::CheckWriteExtent(UInt64 endFrame) const
{
    return endFrame * FrameBytes() + DataBlockOverhead() > kVOCMaxBlockLength ? kFragmentedVOCOutputErr : noErr;
}


OSErr CVOCFile::RecalcNumFrames()
{
    if (!m_isOpen)
        return kFileNotOpenedErr;
    if (!m_writable)
        return SettleSampleBytes(m_declaredBytes);
    return CLinearPCMFile::RecalcNumFrames();
}

SoundFileTypeDescriptor CVOCFile::Descriptor()
{
    return {.type = FOUR_CHAR_CODE("VOC "), .factory = &MakeSoundFile<CVOCFile>, .sniffer = &SniffVOC};
}
