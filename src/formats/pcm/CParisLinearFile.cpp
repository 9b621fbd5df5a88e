#include "CParisLinearFile.h"
#include "ByteOrder.h"
#include "error_codes.h"
#include "pcm_bytes.h"

#include "FileManager.h"
#include "ForkInputStream.h"
#include "ZuFiles.h"
#include "progress_channel.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <limits>
#include <new>

namespace {

constexpr UInt32 kParisHeaderBytes = 2048;
constexpr UInt32 kGroupFrames = 10;
constexpr UInt32 kGroupBlockBytes = 32;
constexpr UInt32 kMaxChannels = 1024;   // more is taken as a damaged header

UInt32 GetWord(const UInt8* p, bool little)
{
    return little ? ReadLE32(p) : ReadBE32(p);
}

void PutWord(UInt8* p, UInt32 v, bool little)
{
    if (little)
        WriteLE32(p, v);
    else
        WriteBE32(p, v);
}

void ReverseWords(UInt8* bytes, std::size_t size)
{
    for (std::size_t i = 0; i + 4 <= size; i += 4) {
        std::swap(bytes[i], bytes[i + 3]);
        std::swap(bytes[i + 1], bytes[i + 2]);
    }
}

} // namespace

CParisLinearFile::CParisLinearFile() : CLinearPCMFile(FOUR_CHAR_CODE(" paf"), "Paris linear", kParisHeaderBytes)
{
    m_splitSuffix = "(-L/-R)";
}

CParisLinearFile::~CParisLinearFile()
{
    if (m_isOpen)
        Close();
}

// ================================================================ shape

SInt64 CParisLinearFile::FramePosition(UInt32 frame) const
{
    const UInt64 channels = std::max<UInt32>(m_numChannels, 1);
    if (m_numBits == 24)
        return SInt64(m_dataOffset) + SInt64(UInt64(frame / kGroupFrames) * channels * kGroupBlockBytes);
    const UInt64 bytes = UInt64(std::max<SInt16>(BitsToBytes(m_numBits), 1));
    return SInt64(m_dataOffset) + SInt64(UInt64(frame) * channels * bytes);
}

UInt32 CParisLinearFile::FramesUpTo(SInt64 length) const
{
    if (length <= SInt64(m_dataOffset))
        return 0;
    const UInt64 data = UInt64(length - SInt64(m_dataOffset));
    const UInt64 channels = std::max<UInt32>(m_numChannels, 1);
    UInt64 frames;
    if (m_numBits == 24)
        frames = data / channels / kGroupBlockBytes * kGroupFrames;
    else
        frames = data / channels / UInt64(std::max<SInt16>(BitsToBytes(m_numBits), 1));
    return UInt32(std::min<UInt64>(frames, 0xFFFFFFFFu));
}

void CParisLinearFile::SetTransform()
{
    m_transform = SampleTransform{};
    m_transform.reverseBytes = m_numBits == 16 && m_byteOrder == 1;
}

// =============================================================== header

OSErr CParisLinearFile::ReadHeader()
{
    UInt8 header[28];
    OSErr err = ReadAt(0, header, sizeof header);
    if (err == eofErr)
        return kParisNoHeaderErr;
    if (err)
        return err;
    // A header that is not all there is no header.
    if (FileLength() < SInt64(kParisHeaderBytes))
        return kParisNoHeaderErr;
    bool little;
    if (std::memcmp(header, " paf", 4) == 0)
        little = false;
    else if (std::memcmp(header, "fap ", 4) == 0)
        little = true;
    else
        return kParisNoHeaderErr;

    const UInt32 order = GetWord(header + 8, little);
    const SInt32 rate = SInt32(GetWord(header + 12, little));
    const UInt32 format = GetWord(header + 16, little);
    const UInt32 channels = GetWord(header + 20, little);
    SInt16 bits;
    switch (format) {
    case 0: bits = 16; break;
    case 1: bits = 24; break;
    case 2: bits = 8; break;
    default: return kParisNoHeaderErr;
    }
    if (channels == 0 || channels > kMaxChannels)
        return kParisNoHeaderErr;

    m_numBits = bits;
    m_formatCode = format;
    m_sampleRate = rate > 0 ? double(rate) : 0.0;
    m_headerWord24 = GetWord(header + 24, little);
    m_byteOrder = order != 0 ? 1 : 0;
    m_numChannels = channels;
    SetTransform();

    err = SetFPos(m_refNum, fsFromStart, kParisHeaderBytes);
    if (err && err != eofErr)
        return err;
    m_dataOffset = kParisHeaderBytes;
    // The samples run to the end of the file: a file that ends inside a
    // frame or (24 bits) a group of frames was cut short.
    const SInt64 length = FileLength();
    const UInt64 present = UInt64(std::max<SInt64>(0, length - SInt64(kParisHeaderBytes)));
    if (m_numBits == 24)
        SettleFramesFromData(present, kDataToTheEnd, UInt64(channels) * kGroupBlockBytes, kGroupFrames);
    else
        SettleFramesFromData(present, kDataToTheEnd, UInt64(channels) * UInt64(BitsToBytes(m_numBits)));
    m_sampleFormat = kSampleFormatBigEndian;  // as the sample block holds them
    return noErr;
}

OSErr CParisLinearFile::WriteHeader()
{
    std::vector<UInt8> header(kParisHeaderBytes, 0);
    const bool little = m_byteOrder == 1;
    std::memcpy(header.data(), little ? "fap " : " paf", 4);
    SInt32 rate = 0;
    if (m_sampleRate >= 2147483647.0)
        rate = std::numeric_limits<SInt32>::max();
    else if (m_sampleRate > 0.0)
        rate = SInt32(m_sampleRate);
    PutWord(header.data() + 8, m_byteOrder, little);
    PutWord(header.data() + 12, UInt32(rate), little);
    PutWord(header.data() + 16, m_formatCode, little);
    PutWord(header.data() + 20, m_numChannels, little);
    PutWord(header.data() + 24, m_headerWord24, little);
    // The header gives no frame count: readers count whole groups, so a
    // last group begun is written whole, and the file's line says so.
    if (m_numBits == 24 && m_numFrames % kGroupFrames != 0)
        PostOutputWarning(kParisPaddedWarning,
                          QStringLiteral("%1 frames written as %2: a 24-bit Paris file holds whole groups of ten "
                                         "frames and no frame count")
                              .arg(m_numFrames)
                              .arg(UInt64(m_numFrames) + kGroupFrames - m_numFrames % kGroupFrames));
    return WriteAt(0, header.data(), header.size());
}

// ========================================================== open/create

OSErr CParisLinearFile::AfterOpen()
{
    AddFileRegion();
    return noErr;
}

OSErr CParisLinearFile::CheckCreateShape(CreateStep step, UInt16 numChannels, SInt16 numBits, float) const
{
    if (step != CreateStep::BeforeBase)
        return noErr;
    // What the format cannot hold is refused for this file only.
    if (numChannels == 0 || numChannels > kMaxChannels)
        return kIncompatibleChannelsErr;
    if (numBits != 8 && numBits != 16 && numBits != 24)
        return kUnsupportedWordSizeErr;
    return noErr;
}

OSErr CParisLinearFile::SetUpNewFile(const UInt8* fileTypeSpecifics)
{
    m_formatCode = m_numBits == 16 ? 0 : (m_numBits == 24 ? 1 : 2);
    m_headerWord24 = 5;
    if (fileTypeSpecifics && fileTypeSpecifics[0] == 'L') {
        m_byteOrder = 1;
        m_sampleFormat = kSampleFormatLittleEndian;
    } else {
        m_byteOrder = 0;
    }
    SetTransform();
    return noErr;
}

// ============================================================ block I/O

OSErr CParisLinearFile::ReadGroups(UInt64 first, UInt64 count, std::vector<UInt8>* groups)
{
    const std::size_t bytes = std::size_t(count * m_numChannels * kGroupBlockBytes);
    try {
        groups->assign(bytes, 0);
    } catch (const std::bad_alloc&) {
        return kCouldNotCreatePointerErr;
    }
    const SInt64 pos = SInt64(m_dataOffset) + SInt64(first * m_numChannels * kGroupBlockBytes);
    SInt64 length = 0;
    OSErr err = GetEOF(m_refNum, &length);
    if (err)
        return err;
    if (pos < length) {
        err = SetFPos(m_refNum, fsFromStart, pos);
        if (err)
            return err;
        long got = long(std::min<SInt64>(SInt64(bytes), length - pos));
        err = FSRead(m_refNum, &got, groups->data());
        if (err && err != eofErr)
            return err;
    }
    if (m_byteOrder == 0)
        ReverseWords(groups->data(), bytes);
    return noErr;
}

OSErr CParisLinearFile::ExchangeGroups(UInt32 frame, UInt32 frames, UInt8* block, bool toBlock)
{
    const UInt64 g0 = frame / kGroupFrames;
    const UInt64 g1 = (UInt64(frame) + frames - 1) / kGroupFrames;
    const OSErr err = ReadGroups(g0, g1 - g0 + 1, &m_scratch);
    if (err)
        return err;
    const std::size_t channels = m_numChannels;
    for (UInt32 i = 0; i < frames; ++i) {
        const UInt64 f = UInt64(frame) + i;
        const std::size_t g = std::size_t(f / kGroupFrames - g0);
        const std::size_t k = std::size_t(f % kGroupFrames);
        for (std::size_t c = 0; c < channels; ++c) {
            UInt8* packed = m_scratch.data() + (g * channels + c) * kGroupBlockBytes + 3 * k;
            UInt8* sample = block + (std::size_t(i) * channels + c) * 3;
            const UInt8* src = toBlock ? packed : sample;
            UInt8* dst = toBlock ? sample : packed;
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
        }
    }
    return noErr;
}

OSErr CParisLinearFile::LoadFrames(UInt8* block, UInt32 frame, UInt32 frames, std::size_t* filled)
{
    if (m_numBits != 24)
        return CLinearPCMFile::LoadFrames(block, frame, frames, filled);
    *filled = 0;
    const OSErr err = ExchangeGroups(frame, frames, block, true);
    if (err)
        return err;
    *filled = std::size_t(frames) * m_numChannels * 3;
    return noErr;
}

OSErr CParisLinearFile::StoreFrames(UInt32 frames, UInt32 frame)
{
    if (m_numBits != 24)
        return CLinearPCMFile::StoreFrames(frames, frame);
    // The groups the block touches are read, changed and written back whole,
    // so frames of a group written by an earlier block are kept.
    OSErr err = ExchangeGroups(frame, frames, m_writeBuffer, false);
    if (err)
        return err;
    for (std::size_t b = 0; b < m_scratch.size(); b += kGroupBlockBytes) {
        m_scratch[b + 30] = 0;
        m_scratch[b + 31] = 0;
    }
    if (m_byteOrder == 0)
        ReverseWords(m_scratch.data(), m_scratch.size());
    err = SetFilePos(frame / kGroupFrames * kGroupFrames);
    if (err)
        return err;
    long count = long(m_scratch.size());
    return FSWrite(m_refNum, &count, m_scratch.data());
}

// ================================================================= probe

UInt32 GetParisNumChannels(const std::string& path)
{
    ForkInputStream in(path);
    UInt8 header[28];
    if (!in || !in.read(reinterpret_cast<char*>(header), sizeof header))
        return 0;
    return GetWord(header + 20, std::memcmp(header, "fap ", 4) == 0);
}
