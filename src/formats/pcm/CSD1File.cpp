#include "CSD1File.h"
#include "ByteOrder.h"

#include "FileManager.h"
#include "ForkInputStream.h"
#include "SoundFileFactories.h"
#include "SoundFileRegistry.h"
#include "SoundFileSwitches.h"
#include "debug_trace.h"
#include "error_code_exception.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <new>
#include <vector>

namespace {

constexpr std::size_t kOffDataSize = 188;
constexpr std::size_t kOffRate = 1030;
constexpr std::size_t kOffPeriod = 1034;
constexpr std::size_t kOffBits = 1038;

void PutPString(UInt8* p, const char* text)
{
    const std::size_t n = std::strlen(text);
    p[0] = UInt8(n);
    std::memcpy(p + 1, text, n);
}

// Rate as the header's 32-bit integer (truncated, saturated).
UInt32 RateField(double rate)
{
    if (!(rate > 0.0)) {
        return 0;
    }
    return UInt32(std::min(rate, 4294967295.0));
}

} // namespace

CSD1File::CSD1File() : CLinearPCMFile(kSD1FileType, "SoundDesigner I", kSD1HeaderSize) {}

CSD1File::~CSD1File()
{
    if (m_isOpen) {
        Close();
    }
}

void CSD1File::InitHeader(UInt8* h)
{
    WriteBE16(h + 0, UInt16(kSD1HeaderSize));
    WriteBE16(h + 2, 32);
    WriteBE16(h + 56, 0xFF00);
    WriteBE32(h + 58, 1);
    WriteBE32(h + 62, 327);
    WriteBE32(h + 66, 4);
    PutPString(h + 70, "%scale");
    WriteBE32(h + 104, 1);
    WriteBE32(h + 108, 0);
    PutPString(h + 112, "sec");
    for (int k = 0; k < 10; ++k) {
        h[358 + 40 * k] = 1;
    }
    WriteBE32(h + 762, 0xFFFFFFFF);
    WriteBE32(h + 766, 0xFFFFFFFF);
    PutPString(h + 773, "Corvane");
    PutPString(h + 1040, "Linear");
    WriteBE32(h + 1330, 0);
    WriteBE16(h + 1334, 0xFFFF);
}

void CSD1File::PutShape(UInt8* h) const
{
    const UInt64 bytes = UInt64(m_numFrames) * UInt64(std::max<SInt16>(BitsToBytes(m_numBits), 1));
    WriteBE32(h + kOffDataSize, UInt32(std::min<UInt64>(bytes, 0xFFFFFFFFu)));
    WriteBE32(h + kOffRate, RateField(m_sampleRate));
    WriteBE32(h + kOffPeriod, m_sampleRate > 0.0 ? UInt32(std::min(1000000.0 / m_sampleRate, 4294967295.0)) : 0);
    WriteBE16(h + kOffBits, UInt16(m_numBits));
}

OSErr CSD1File::ReadHeader()
{
    QM_TRACE("CSD1File::ReadHeader", "sizeof(Header):" << long(kSD1HeaderSize));
    std::vector<UInt8> header(kSD1HeaderSize, 0);
    OSErr err = ReadAt(0, header.data(), header.size());
    if (err != noErr) {
        return err;
    }
    const UInt16 bits = ReadBE16(&header[kOffBits]);
    if (bits != 8 && bits != 16) {
        return kSD1BadWordSizeErr;
    }
    m_numBits = SInt16(bits);
    m_sampleRate = double(float(ReadBE32(&header[kOffRate])));
    m_numChannels = 1;
    m_sampleFormat = kSampleFormatBigEndian;
    m_dataOffset = kSD1HeaderSize;
    // A data size the file does not hold is cut to it (and the file is cut short).
    const SInt64 held = std::max<SInt64>(0, FileLength() - kSD1HeaderSize);
    SettleFramesFromData(UInt64(held), ReadBE32(&header[kOffDataSize]), UInt64(BitsToBytes(m_numBits)));
    ResetSamplerInfo();
    return noErr;
}

OSErr CSD1File::CheckCreateShape(CreateStep step, UInt16 numChannels, SInt16 numBits, float sampleRate) const
{
    if (step == CreateStep::First) {
        if (numChannels > 1) {
            return kIncompatibleChannelsErr;
        }
        if (numBits != 8 && numBits != 16) {
            return kSD1BadWordSizeErr;
        }
    }
    if (step == CreateStep::BeforeBase && (numChannels == 0 || !(sampleRate > 0.0f) || std::isinf(sampleRate))) {
        return paramErr;
    }
    return noErr;
}

OSErr CSD1File::WriteHeader()
{
    std::vector<UInt8> header(kSD1HeaderSize, 0);
    InitHeader(header.data());
    PutShape(header.data());
    return WriteAt(0, header.data(), header.size());
}

OSErr CSD1File::RewriteHeader()
{
    std::vector<UInt8> header(kSD1HeaderSize, 0);
    OSErr err = ReadAt(0, header.data(), header.size());
    if (err == noErr) {
        PutShape(header.data());
        err = WriteAt(0, header.data(), header.size());
    }
    return err;
}

OSErr CSD1File::CheckWriteExtent(UInt64 endFrame) const
{
    // The data size field would wrap.
    return endFrame * UInt64(BitsToBytes(m_numBits)) > 0xFFFFFFFFu ? fsDataTooBigErr : noErr;
}

// ======================================================== registration

namespace {

// Channel count 1 for a file whose first word is the header size and whose
// word length is 8 or 16; 0 otherwise.
SInt32 SD1HeaderProbe(const QString& path)
{
    ForkInputStream in(path.toStdString());
    if (in.openError() != noErr) {
        return in.openError();
    }
    UInt8 header[kSD1HeaderSize];
    in.read(reinterpret_cast<char*>(header), sizeof header);
    if (in.gcount() != std::streamsize(sizeof header)) {
        return 0;
    }
    const UInt16 bits = ReadBE16(header + kOffBits);
    return ReadBE16(header) == kSD1HeaderSize && (bits == 8 || bits == 16) ? 1 : 0;
}

} // namespace

void RegisterSD1FileTypes()
{
    RegisterSoundFileFactory(kSD1FileType, &MakeSoundFile<CSD1File>);
    RegisterHeaderProbe(kSD1FileType, &SD1HeaderProbe);
}
