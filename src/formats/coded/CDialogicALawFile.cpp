#include "CDialogicALawFile.h"

#include "g711.h"
#include "telephony_names.h"

CDialogicALawFile::CDialogicALawFile()
    : CDialogicALawFile({FOUR_CHAR_CODE("DALW"), "Dialogic A-law (no header)", kSampleFormatALaw, &alaw2linear,
                         &LoadRawALawTable})
{
}

CDialogicALawFile::CDialogicALawFile(const Companding& companding)
    : CHeaderlessTelephonyFile(companding.fileType, companding.formatName), m_companding(companding)
{
}

UInt32 CDialogicALawFile::FileBytesPerSample() const { return 1; }

OSErr CDialogicALawFile::ReadShape()
{
    double rate = 0.0;
    if (const OSErr err = RateFromNameOrSettings(GetFileNameString(), false, &rate))
        return err;
    m_sampleRate = rate;
    SetShape(1, 16);
    return noErr;
}

OSErr CDialogicALawFile::CheckCreate(UInt16 channels, SInt16, double rate, ConstStr255Param* nameExtension,
                                     Str255 chosen) const
{
    if (channels != 1)
        return kTelephonyChannelsErr;
    *nameExtension = NameExtensionForRate(m_companding.fileType, rate, false, *nameExtension, chosen);
    return noErr;
}

// Mono 16-bit samples in memory, whatever was asked.
void CDialogicALawFile::SetShape(UInt16, SInt16)
{
    m_numChannels = 1;
    m_numBits = 16;
    m_sampleFormat = m_companding.formatCode;
}

void CDialogicALawFile::DecodeSamples(const UInt8* file, UInt8* block, std::size_t samples) const
{
    for (std::size_t i = 0; i < samples; ++i) {
        const int v = m_companding.expand(file[i]);
        block[2 * i] = UInt8(UInt32(v) >> 8);
        block[2 * i + 1] = UInt8(v);
    }
}

void CDialogicALawFile::EncodeSamples(const UInt8* block, UInt8* file, std::size_t samples) const
{
    for (std::size_t i = 0; i < samples; ++i)
        file[i] = m_companding.compress(SInt16(UInt16((block[2 * i] << 8) | block[2 * i + 1])));
}
