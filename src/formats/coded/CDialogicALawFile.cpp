#include "CDialogicALawFile.h"

#include "g711.h"
#include "telephony_names.h"

OSType CDialogicALawFile::GetFileType() const { return FOUR_CHAR_CODE("DALW"); }
QString CDialogicALawFile::GetFormatName() const { return QStringLiteral("Dialogic A-law (no header)"); }
UInt32 CDialogicALawFile::FileBytesPerSample() const { return 1; }
SInt16 CDialogicALawFile::FormatCode() const { return kSampleFormatALaw; }
int CDialogicALawFile::Expand(UInt8 byte) const { return alaw2linear(byte); }
UInt8 CDialogicALawFile::Compress(int sample) const { return LoadRawALawTable(sample); }

OSErr CDialogicALawFile::ReadShape()
{
    double rate = 0.0;
    if (const OSErr err = RateFromNameOrSettings(GetFileNameString(), false, &rate))
        return err;
    m_sampleRate = rate;
    SetShape(1, 16);
    return noErr;
}

OSErr CDialogicALawFile::CheckCreate(UInt16 channels, SInt16, ConstStr255Param*) const
{
    return channels != 1 ? kTelephonyChannelsErr : noErr;
}

// Mono 16-bit samples in memory, whatever was asked.
void CDialogicALawFile::SetShape(UInt16, SInt16)
{
    m_numChannels = 1;
    m_numBits = 16;
    m_sampleFormat = FormatCode();
}

void CDialogicALawFile::DecodeSamples(const UInt8* file, UInt8* block, std::size_t samples) const
{
    for (std::size_t i = 0; i < samples; ++i) {
        const int v = Expand(file[i]);
        block[2 * i] = UInt8(UInt32(v) >> 8);
        block[2 * i + 1] = UInt8(v);
    }
}

void CDialogicALawFile::EncodeSamples(const UInt8* block, UInt8* file, std::size_t samples) const
{
    for (std::size_t i = 0; i < samples; ++i)
        file[i] = Compress(SInt16(UInt16((block[2 * i] << 8) | block[2 * i + 1])));
}
