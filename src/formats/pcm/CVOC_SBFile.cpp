#include "CVOC_SBFile.h"
#include "ByteOrder.h"
#include "SoundFileFactories.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr UInt16 kVOCSBVersion = 0x0114;
constexpr UInt8 kFormatBlock = 9;
constexpr UInt8 kExtendedBlock = 8;
constexpr UInt8 kSoundDataBlock = 1;
constexpr UInt16 kCodecUnsigned8 = 0;
constexpr UInt16 kCodecSigned16 = 4;

} // namespace

CVOC_SBFile::CVOC_SBFile() : CVOCFile(FOUR_CHAR_CODE("VOC2"), "Voc Pro") {}

CVOC_SBFile::~CVOC_SBFile()
{
    if (m_isOpen)
        Close();
}

OSErr CVOC_SBFile::ReadHeader()
{
    SInt64 body = 0;
    OSErr err = FirstBlock(&body);
    if (err)
        return kVOCSBNoFormatBlockErr;
    UInt8 type = 0;
    err = FindBlockFrom(body, kFormatBlock, kExtendedBlock, &type, &body);
    if (err)
        return kVOCSBNoFormatBlockErr;
    return type == kFormatBlock ? ReadBlock9(body) : ReadBlock8(body);
}

OSErr CVOC_SBFile::ReadBlock9(SInt64 body)
{
    UInt8 block[16];
    OSErr err = ReadAt(body - 4, block, 16);
    if (err)
        return err == eofErr ? kVOCSBNoDataBlockErr : err;
    const UInt32 length = BlockLength(block);
    if (length < 12)
        return kVOCSBNoDataBlockErr;
    const UInt32 rate = ReadLE32(block + 4);
    const UInt8 bits = block[8];
    const UInt8 channels = block[9];
    const UInt16 codec = UInt16(block[10] | (block[11] << 8));
    if (codec == kCodecSigned16 && bits == 16)
        m_sampleFormat = kSampleFormatLittleEndian;
    else if (codec == kCodecUnsigned8 && bits == 8)
        m_sampleFormat = kSampleFormatUnsigned8LE;
    else
        return kVOCSBNoLinearDataErr;
    if (channels == 0)
        return kVOCChannelsErr;
    if (rate == 0)
        return kVOCSampleRateErr;
    m_numBits = bits;
    m_numChannels = channels;
    m_sampleRate = double(rate);
    m_dataOffset = body + 12;
    return SettleSampleBytes(length - 12);
}

OSErr CVOC_SBFile::ReadBlock8(SInt64 body)
{
    UInt8 block[8];
    OSErr err = ReadAt(body - 4, block, 8);
    if (err)
        return kVOCSBNoFormatBlockErr;
    if (block[6] != 0)
        return kVOCSBNoLinearDataErr;
    const SInt32 timeConstant = SInt32(block[4]) | (SInt32(block[5]) << 8);
    const SInt32 channels = SInt32(block[7]) + 1;
    // The extended block's length is 4 by definition; the walk goes on after
    // the length the block declares.
    UInt8 type = 0;
    SInt64 dataBody = 0;
    err = FindBlockFrom(body + SInt64(BlockLength(block)), kSoundDataBlock, kSoundDataBlock, &type, &dataBody);
    if (err)
        return err == kChunkNotFoundErr ? kVOCSBNoDataBlockErr : err;
    UInt8 data[6];
    err = ReadAt(dataBody - 4, data, 6);
    if (err)
        return err == eofErr ? kVOCSBNoDataBlockErr : err;
    const UInt32 length = BlockLength(data);
    m_numBits = 8;
    m_numChannels = UInt32(channels);
    m_sampleFormat = kSampleFormatUnsigned8LE;
    m_sampleRate = double(256000000 / (65536 - timeConstant) / channels);
    m_dataOffset = dataBody + 2;
    return SettleSampleBytes(length >= 2 ? length - 2 : 0);
}

OSErr CVOC_SBFile::CheckCreateShape(CreateStep step, UInt16 numChannels, SInt16 numBits, float sampleRate) const
{
    if (step != CreateStep::AfterBase)
        return noErr;
    if (numChannels == 0 || numChannels > 255)
        return kVOCChannelsErr;
    if (!(sampleRate >= 1.0f && sampleRate < 4294967295.0f))
        return kVOCSampleRateErr;
    if (numBits != 16)
        return kVOCSBWordSizeErr;
    return noErr;
}

OSErr CVOC_SBFile::WriteHeader()
{
    OSErr err = WriteFileHeader(kVOCSBVersion);
    if (err)
        return err;
    m_dataOffset = 26 + 4 + 12;
    return UpdateBlockHeaders();
}

OSErr CVOC_SBFile::UpdateBlockHeaders()
{
    const UInt32 length = UInt32(UInt64(m_numFrames) * FrameBytes() + DataBlockOverhead());
    const UInt32 rate = UInt32(std::llround(m_sampleRate));
    const UInt8 block[16] = {kFormatBlock,     UInt8(length),        UInt8(length >> 8), UInt8(length >> 16),
                             UInt8(rate),      UInt8(rate >> 8),     UInt8(rate >> 16),  UInt8(rate >> 24),
                             UInt8(m_numBits), UInt8(m_numChannels), UInt8(kCodecSigned16), 0,
                             0,                0,                    0,                  0};
    return WriteAt(m_dataOffset - 16, block, 16);
}

SoundFileTypeDescriptor CVOC_SBFile::Descriptor()
{
    return {.type = FOUR_CHAR_CODE("VOC2"), .factory = &MakeSoundFile<CVOC_SBFile>};
}
