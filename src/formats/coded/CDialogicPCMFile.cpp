#include "CDialogicPCMFile.h"

#include "RawFileSettings.h"
#include "telephony_names.h"

#include <algorithm>
#include <cstring>

CDialogicPCMFile::CDialogicPCMFile() : CHeaderlessTelephonyFile(FOUR_CHAR_CODE("DPCM"), "Dialogic PCM (no header)") {}

UInt32 CDialogicPCMFile::FileBytesPerSample() const
{
    return UInt32(std::max<SInt16>(BitsToBytes(m_numBits), 1));
}

OSErr CDialogicPCMFile::ReadShape()
{
    m_sampleFormat = kSampleFormatBigEndian;
    m_numChannels = 1;
    m_sampleRate = 8000.0;
    const std::string extension = NameExtension(GetFileNameString());
    if (extension == "p16") {
        m_numBits = 16;
        return noErr;
    }
    if (extension == "pc8" || extension == "pcm" || extension == "PCM") {
        m_numBits = 8;
        return noErr;
    }
    const RawFileSettings::Values raw = RawFileSettings::Instance();
    double rate = 0.0;
    const OSErr err = RawFileRate(&rate);
    if (err)
        return err;
    if (raw.wordSize != 8 && raw.wordSize != 16 && raw.wordSize != 24 && raw.wordSize != 32)
        return paramErr;
    if (raw.numChannels == 0 || raw.numChannels > 1024)
        return paramErr;
    m_sampleRate = rate;
    m_numBits = SInt16(raw.wordSize);
    m_numChannels = raw.numChannels;
    m_sampleFormat = raw.bigEndian ? kSampleFormatBigEndian : kSampleFormatLittleEndian;
    return noErr;
}

OSErr CDialogicPCMFile::CheckCreate(UInt16 channels, SInt16 bits, double, ConstStr255Param* nameExtension,
                                    Str255) const
{
    if (channels == 0 || (bits != 8 && bits != 16 && bits != 24 && bits != 32))
        return paramErr;
    static const UInt8 kPc8[] = {3, 'p', 'c', '8'};
    if (bits == 8 && (!*nameExtension || (*nameExtension)[0] == 0))
        *nameExtension = kPc8;
    return noErr;
}

void CDialogicPCMFile::SetShape(UInt16 channels, SInt16 bits)
{
    m_numChannels = channels;
    m_numBits = bits;
    m_sampleFormat = kSampleFormatBigEndian;
}

// The same byte moves both ways: little-endian words are reversed, and an
// 8-bit sample's top bit flips (unsigned in the file, signed in memory).
void CDialogicPCMFile::Transcode(const UInt8* in, UInt8* out, std::size_t samples) const
{
    const std::size_t width = FileBytesPerSample();
    const bool little = m_sampleFormat == kSampleFormatLittleEndian;
    for (std::size_t i = 0; i < samples; ++i, in += width, out += width) {
        if (width == 1) {
            out[0] = UInt8(in[0] ^ 0x80);
        } else {
            for (std::size_t b = 0; b < width; ++b)
                out[b] = little ? in[width - 1 - b] : in[b];
        }
    }
}

void CDialogicPCMFile::DecodeSamples(const UInt8* file, UInt8* block, std::size_t samples) const
{
    Transcode(file, block, samples);
}

void CDialogicPCMFile::EncodeSamples(const UInt8* block, UInt8* file, std::size_t samples) const
{
    Transcode(block, file, samples);
}
