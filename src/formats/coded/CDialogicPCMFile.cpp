#include "CDialogicPCMFile.h"

#include "RawFileSettings.h"
#include "SoundFileFactories.h"
#include "telephony_names.h"

CDialogicPCMFile::CDialogicPCMFile() : CHeaderlessTelephonyFile(FOUR_CHAR_CODE("DPCM"), "Dialogic PCM (no header)") {}

// Little-endian words are reversed; 8-bit samples are unsigned in the
// file, signed in memory.
void CDialogicPCMFile::SetTransform()
{
    m_transform = SampleTransform{};
    m_transform.reverseBytes = m_sampleFormat == kSampleFormatLittleEndian;
    m_transform.flipSign = m_numBits == 8;
}

OSErr CDialogicPCMFile::ReadShape()
{
    m_sampleFormat = kSampleFormatBigEndian;
    m_numChannels = 1;
    m_sampleRate = 8000.0;
    const std::string extension = NameExtension(GetFileNameString());
    if (extension == "p16" || extension == "pc8" || extension == "pcm" || extension == "PCM") {
        m_numBits = extension == "p16" ? 16 : 8;
        SetTransform();
        return noErr;
    }
    const RawFileSettings::Values raw = RawFileSettings::Instance();
    double rate = 0.0;
    const OSErr err = RawFileRate(&rate);
    if (err)
        return err;
    if (!RawFileSettings::WordSizeUsable(raw.wordSize))
        return kUnsupportedWordSizeErr;
    if (raw.numChannels == 0 || raw.numChannels > 1024)
        return paramErr;
    m_sampleRate = rate;
    m_numBits = SInt16(raw.wordSize);
    m_numChannels = raw.numChannels;
    m_sampleFormat = raw.bigEndian ? kSampleFormatBigEndian : kSampleFormatLittleEndian;
    SetTransform();
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
    SetTransform();
}

SoundFileTypeDescriptor CDialogicPCMFile::Descriptor()
{
    return {.type = FOUR_CHAR_CODE("DPCM"), .factory = &MakeSoundFileNoThrow<CDialogicPCMFile>};
}
