#include "CDialogicADPCMFile.h"

#include "FileManager.h"
#include "SoundFileFactories.h"
#include "ZuFiles.h"
#include "telephony_names.h"
#include "DialogicADPCMEncoder.h"
#include "DialogicArithmeticProbe.h"

#include <algorithm>

namespace {

constexpr UInt32 kDecodeChunkCodes = 65536;

// Code k of the data (counted from its first code), which `byte` holds.
int CodeOf(UInt8 byte, UInt64 k, bool firstInLowNibble)
{
    return ((k & 1) == 0) == firstInLowNibble ? (byte & 15) : (byte >> 4);
}

} // namespace

CDialogicADPCMFile::CDialogicADPCMFile()
    : CDialogicADPCMFile({FOUR_CHAR_CODE("DADP"), "Dialogic ADPCM (no header)", false, false, "dialogic",
                          "encoding to Dialogic ADPCM file"})
{
}

CDialogicADPCMFile::CDialogicADPCMFile(const Framing& framing) : CDescribedFile(framing.tempTag), m_framing(framing)
{
}

CDialogicADPCMFile::~CDialogicADPCMFile()
{
    if (m_isOpen)
        Close();
}

OSType CDialogicADPCMFile::GetFileType() const { return m_framing.type; }
QString CDialogicADPCMFile::GetFormatName() const { return QString::fromUtf8(m_framing.formatName); }

ConstStr255Param CDialogicADPCMFile::NameExtensionFor(ConstStr255Param given, double rate, Str255 chosen) const
{
    return m_framing.hasHeader ? given : NameExtensionForRate(m_framing.type, rate, true, given, chosen);
}

OSErr CDialogicADPCMFile::ReadHeader()
{
    m_dataOffset = 0;
    double rate = 0.0;
    if (const OSErr err = RateFromNameOrSettings(GetFileNameString(), true, &rate, &m_rateFromRawSettings))
        return err;
    m_sampleRate = rate;
    return noErr;
}

OSErr CDialogicADPCMFile::WriteHeader()
{
    m_dataOffset = 0;
    return noErr;
}

// ================================================================ reading

OSErr CDialogicADPCMFile::OpenAndDescribe()
{
    OSErr err = OpenToRead(nullptr);
    if (err)
        return err;
    m_numChannels = 1;
    m_numBits = 16;
    m_sampleFormat = kSampleFormatADPCM;
    if ((err = ReadHeader()))
        return err;
    SInt64 eof = 0;
    if ((err = GetEOF(m_refNum, &eof)))
        return err;
    if (SInt64(m_dataOffset) > eof)
        return kUnknownFileFormatErr;
    const UInt64 codes = UInt64(eof - SInt64(m_dataOffset)) * 2;
    m_numFrames = UInt32(std::min<UInt64>(codes, 0xFFFFFFFEu));
    m_sequence.Restart();
    m_arithmeticChosen = false;
    return noErr;
}

OSErr CDialogicADPCMFile::Open()
{
    m_inner.Release();
    return CDescribedFile::Open();
}

OSErr CDialogicADPCMFile::SetFilePos(UInt32 frame)
{
    return SetFPos(m_refNum, fsFromStart, SInt64(m_dataOffset) + frame / 2);
}

OSErr CDialogicADPCMFile::DecodeCodes(UInt32 first, UInt32 codes, int16_t* out)
{
    const bool lowFirst = m_framing.firstCodeInLowNibble;
    const UInt32 last = first + codes;
    const UInt32 firstByte = first / 2;
    m_bytes.resize(std::size_t((last + 1) / 2 - firstByte));
    if (const OSErr err = ReadAt(SInt64(m_dataOffset) + firstByte, m_bytes.data(), m_bytes.size()))
        return err;
    for (UInt32 k = first; k < last; ++k)
        out[k - first] = m_decoder.Decode(CodeOf(m_bytes[k / 2 - firstByte], k, lowFirst));
    return noErr;
}

OSErr CDialogicADPCMFile::ChooseArithmetic()
{
    const UInt32 codes = UInt32(std::min<std::size_t>(m_numFrames, DialogicArithmeticProbe::kProbeCodes));
    m_bytes.resize(std::size_t((codes + 1) / 2));
    if (codes > 0) {
        if (const OSErr err = ReadAt(SInt64(m_dataOffset), m_bytes.data(), m_bytes.size()))
            return err;
    }
    const bool lowFirst = m_framing.firstCodeInLowNibble;
    const auto arithmetic = DialogicArithmeticProbe::ArithmeticOf(
        codes, [&](std::size_t k) { return CodeOf(m_bytes[k / 2], k, lowFirst); });
    m_decoder = DialogicADPCMCodec(arithmetic);
    m_arithmeticChosen = true;
    return noErr;
}

OSErr CDialogicADPCMFile::ReadCodedBlock(UInt32 frame)
{
    if (!m_arithmeticChosen) {
        if (const OSErr err = ChooseArithmetic())
            return err;
    }
    return DecodeMonoBlock(frame, kCouldNotCreatePointerErr, [this](UInt32 first, UInt32 frames, int16_t* samples) {
        return m_sequence.Read(first, frames, samples, kDecodeChunkCodes, [this] { m_decoder.Reset(); },
                               [this](UInt32 code, UInt32 codes, int16_t* out) { return DecodeCodes(code, codes, out); });
    });
}

// ================================================================ writing

OSErr CDialogicADPCMFile::CheckShape(UInt16 channels, double) const
{
    return channels == 1 ? noErr : kTelephonyChannelsErr;
}

OSErr CDialogicADPCMFile::CreateDataFile(UInt16 numChannels, double rate, const UInt8*)
{
    if (const OSErr err = CreateToWrite(m_framing.hasHeader, numChannels, rate, kSampleFormatADPCM))
        return err;
    m_dataOffset = 0;
    return noErr;
}

OSErr CDialogicADPCMFile::EncodeCodes()
{
    DialogicADPCMEncoder encoder;
    const bool lowFirst = m_framing.firstCodeInLowNibble;
    int pending = -1;
    SInt64 position = m_dataOffset;
    UInt64 written = 0;
    std::vector<UInt8> bytes;
    OSErr err = m_inner.Encode(m_framing.encodeStep, m_bufferFrames, [&](const int16_t* samples, UInt32 frames, UInt32) {
        bytes.clear();
        for (UInt32 i = 0; i < frames; ++i) {
            const int code = encoder.Encode(samples[i]);
            if (pending < 0) {
                pending = code;
            } else {
                bytes.push_back(UInt8(lowFirst ? (pending | (code << 4)) : ((pending << 4) | code)));
                pending = -1;
            }
        }
        const OSErr e = WriteAt(position, bytes.data(), bytes.size());
        position += SInt64(bytes.size());
        written += bytes.size();
        return e;
    });
    m_numFrames = UInt32(std::min<UInt64>(written * 2, 0xFFFFFFFEu));
    return err;
}

OSErr CDialogicADPCMFile::EncodeOutput()
{
    m_codesToWrite = m_inner.NumFrames();
    const OSErr err = WriteHeader();
    return err ? err : EncodeCodes();
}

SoundFileTypeDescriptor CDialogicADPCMFile::Descriptor()
{
    return {.type = FOUR_CHAR_CODE("DADP"), .factory = &MakeSoundFileNoThrow<CDialogicADPCMFile>};
}
