#include "CNeXT_SUNFile.h"
#include "NeXTFileTypes.h"
#include "SoundFileFactories.h"
#include "format_helpers.h"
#include "ByteOrder.h"

#include "CreateSoundFile.h"
#include "FileManager.h"
#include "ZuFiles.h"
#include "error_code_exception.h"
#include "g711.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace {

constexpr UInt32 kMagic = 0x2E736E64;        // ".snd"
constexpr UInt32 kHeaderBytes = 28;          // what we write
constexpr UInt32 kMinHeaderBytes = 24;       // the six words every file has
constexpr UInt32 kMaxChannels = 1024;        // more is taken as a damaged header
constexpr UInt32 kUnknownSize = 0xFFFFFFFFu;

// What the coding of a class changes, indexed by CNeXT_SUNFile::Coding.
struct CodingTraits {
    OSErr badHeaderErr;  // a header that is not one of this class
    SInt16 sampleFormat;
    UInt32 encoding;  // G.711 only: linear encodings 2 to 5 are 8 to 32 bits
    UInt8 silence;  // a zero byte is a loud sample in G.711
};
constexpr CodingTraits kCodings[] = {
    {kNeXTBadHeaderErr, kSampleFormatBigEndian, 0, 0x00},
    {kNeXTALawBadHeaderErr, kSampleFormatALaw, 27, 0xD5},
    {kNeXTAuBadHeaderErr, kSampleFormatMuLaw, 1, 0xFF},
};

} // namespace

CNeXT_SUNFile::CNeXT_SUNFile() : CNeXT_SUNFile(Coding::Linear, FOUR_CHAR_CODE("NxTS"), "NeXT/Sun linear (.snd)") {}

CNeXT_SUNFile::CNeXT_SUNFile(Coding coding, OSType fileType, const char* formatName)
    : CLinearPCMFile(fileType, formatName, kHeaderBytes), m_coding(coding)
{
    // The base step's result is not examined (see Create).
    m_ignoresBaseCreateErr = true;
}

CNeXT_SUNFile::~CNeXT_SUNFile()
{
    if (m_isOpen)
        Close();
}

OSErr CNeXT_SUNFile::BadHeaderError() const
{
    return kCodings[int(m_coding)].badHeaderErr;
}

SInt64 CNeXT_SUNFile::FileBytesPerFrame() const
{
    const UInt32 bytes = m_coding == Coding::Linear ? UInt32(std::max<SInt16>(BitsToBytes(m_numBits), 1)) : 1u;
    return SInt64(std::max<UInt32>(m_numChannels, 1)) * bytes;
}

UInt32 CNeXT_SUNFile::EncodingForShape() const
{
    if (m_coding != Coding::Linear)
        return kCodings[int(m_coding)].encoding;
    const bool known = m_numBits == 8 || m_numBits == 16 || m_numBits == 24 || m_numBits == 32;
    return known ? UInt32(m_numBits / 8 + 1) : 0;
}

// ================================================================= header

OSErr CNeXT_SUNFile::ReadHeader()
{
    m_sampleFormat = kCodings[int(m_coding)].sampleFormat;
    UInt8 header[kMinHeaderBytes];
    OSErr err = ReadAt(0, header, sizeof header);
    if (err == eofErr)
        return BadHeaderError();
    if (err)
        return err;
    if (ReadBE32(header) != kMagic)
        return BadHeaderError();

    const UInt32 offset = ReadBE32(header + 4);
    const UInt32 size = ReadBE32(header + 8);
    const UInt32 encoding = ReadBE32(header + 12);
    const UInt32 rate = ReadBE32(header + 16);
    const UInt32 channels = ReadBE32(header + 20);

    SInt16 bits = 16;  // G.711 samples are 16-bit words in the block
    if (m_coding == Coding::Linear && encoding >= 2 && encoding <= 5)
        bits = SInt16((encoding - 1) * 8);
    else if (m_coding == Coding::Linear || encoding != kCodings[int(m_coding)].encoding)
        return kNeXTUnsupportedDataErr;
    if (channels == 0 || channels > kMaxChannels || offset < kMinHeaderBytes)
        return BadHeaderError();

    const SInt64 eof = FileLength();
    if (SInt64(offset) > eof)
        return BadHeaderError();

    m_numBits = bits;
    m_numChannels = channels;
    m_sampleRate = double(rate);
    m_dataOffset = offset;

    // The data runs to the end of the file unless the header names a size;
    // a size the file does not hold is cut to it (and the file is cut short).
    const UInt64 available = UInt64(eof - SInt64(offset));
    const bool sized = size != 0 && size != kUnknownSize;
    SettleFramesFromData(available, sized ? size : kDataToTheEnd, UInt64(FileBytesPerFrame()));
    // With no size named, the whole frames present are the data: bytes
    // short of a frame at the end do not make the file cut short.
    if (!sized)
        m_dataCutShort = false;

    return SetFPos(m_refNum, fsFromStart, offset);
}

// Create writes a provisional header, Close the real one.
OSErr CNeXT_SUNFile::WriteHeader()
{
    const UInt64 dataBytes = UInt64(m_numFrames) * UInt64(FileBytesPerFrame());
    UInt8 header[kHeaderBytes];
    WriteBE32(header, kMagic);
    WriteBE32(header + 4, kHeaderBytes);
    // A size the word cannot hold is left "unknown" (the writer refuses to
    // get there, see WriteBlock).
    WriteBE32(header + 8, dataBytes >= kUnknownSize ? kUnknownSize : UInt32(dataBytes));
    WriteBE32(header + 12, EncodingForShape());
    WriteBE32(header + 16, RateHeaderWord(m_sampleRate));
    WriteBE32(header + 20, m_numChannels);
    WriteBE32(header + 24, FOUR_CHAR_CODE("QUIL"));
    return WriteAt(0, header, sizeof header);
}

// =========================================================== open/create

OSErr CNeXT_SUNFile::AfterOpen()
{
    AddFileRegion();
    return noErr;
}

OSErr CNeXT_SUNFile::CheckCreateShape(CreateStep step, UInt16 numChannels, SInt16 numBits, float sampleRate) const
{
    if (step != CreateStep::BeforeBase)
        return noErr;
    // What the format cannot hold is refused for this file only.
    if (numChannels == 0 || numChannels > kMaxChannels)
        return kIncompatibleChannelsErr;
    if (m_coding == Coding::Linear && numBits != 8 && numBits != 16 && numBits != 24 && numBits != 32)
        return kIncompatibleWordSizeErr;
    if (!std::isfinite(sampleRate) || sampleRate <= 0.0f)
        return kIncompatibleSampleRateErr;
    return noErr;
}

OSErr CNeXT_SUNFile::SetUpNewFile(const UInt8*)
{
    if (m_coding != Coding::Linear)
        m_numBits = 16;
    m_sampleFormat = kCodings[int(m_coding)].sampleFormat;
    return noErr;
}

UInt8 CNeXT_SUNFile::FileSilenceByte() const
{
    return kCodings[int(m_coding)].silence;
}

OSErr CNeXT_SUNFile::CheckWriteExtent(UInt64 endFrame) const
{
    // The data-size word is 32 bits wide (0xFFFFFFFF means "unknown").
    return endFrame * UInt64(FileBytesPerFrame()) >= kUnknownSize ? fsDataTooBigErr : noErr;
}

// ============================================================== G.711

bool CNeXT_SUNFile::GetRawSampleLayout(RawSampleLayout* layout) const
{
    return m_coding == Coding::Linear && RawLayoutFromTransform(layout);
}

OSErr CNeXT_SUNFile::LoadFrames(UInt8* block, UInt32 frame, UInt32 frames, std::size_t* filled)
{
    if (m_coding == Coding::Linear)
        return CLinearPCMFile::LoadFrames(block, frame, frames, filled);
    m_scratch.resize(std::size_t(frames) * std::size_t(FileBytesPerFrame()));
    std::size_t n = 0;
    const OSErr err = ReadFileFrames(m_scratch.data(), frame, frames, &n);
    for (std::size_t i = 0; i < n; ++i) {
        const int v = m_coding == Coding::ALaw ? alaw2linear(m_scratch[i]) : ulaw2linear(m_scratch[i]);
        block[2 * i] = UInt8(UInt32(v) >> 8);
        block[2 * i + 1] = UInt8(v);
    }
    *filled = n * 2;
    return err;
}

OSErr CNeXT_SUNFile::StoreFrames(UInt32 frames, UInt32 frame)
{
    if (m_coding == Coding::Linear)
        return CLinearPCMFile::StoreFrames(frames, frame);
    m_scratch.resize(std::size_t(frames) * std::size_t(FileBytesPerFrame()));
    for (std::size_t i = 0; i < m_scratch.size(); ++i) {
        const int v = SInt16(UInt16((m_writeBuffer[2 * i] << 8) | m_writeBuffer[2 * i + 1]));
        m_scratch[i] = m_coding == Coding::ALaw ? LoadRawALawTable(v) : linear2ulaw(v);
    }
    return WriteFileFrames(m_scratch.data(), frames, frame);
}

SoundFileTypeDescriptor CNeXT_SUNFile::Descriptor()
{
    return {.type = FOUR_CHAR_CODE("NxTS"), .factory = &MakeSoundFile<CNeXT_SUNFile>, .sniffer = &SniffNeXT};
}
