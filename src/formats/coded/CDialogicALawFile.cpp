#include "CDialogicALawFile.h"

#include "ByteOrder.h"
#include "SoundFileFactories.h"
#include "ZuFiles.h"
#include "g711.h"
#include "telephony_names.h"

#include <new>

CDialogicALawFile::CDialogicALawFile()
    : CDialogicALawFile({FOUR_CHAR_CODE("DALW"), "Dialogic A-law (no header)", kSampleFormatALaw, &alaw2linear,
                         &LoadRawALawTable})
{
}

CDialogicALawFile::CDialogicALawFile(const Companding& companding)
    : CHeaderlessTelephonyFile(companding.fileType, companding.formatName), m_companding(companding)
{
}

SInt64 CDialogicALawFile::FileBytesPerFrame() const { return 1; }

OSErr CDialogicALawFile::ReadShape()
{
    double rate = 0.0;
    if (const OSErr err = RateFromNameOrSettings(GetFileNameString(), false, &rate, &m_rateFromRawSettings))
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

OSErr CDialogicALawFile::LoadFrames(UInt8* block, UInt32 frame, UInt32 frames, std::size_t* filled)
{
    *filled = 0;
    try {
        m_scratch.resize(frames);
    } catch (const std::bad_alloc&) {
        return kCouldNotCreatePointerErr;
    }
    std::size_t samples = 0;
    const OSErr err = ReadFileFrames(m_scratch.data(), frame, frames, &samples);
    for (std::size_t i = 0; i < samples; ++i)
        WriteBE16(block + 2 * i, UInt16(m_companding.expand(m_scratch[i])));
    *filled = 2 * samples;
    return err;
}

OSErr CDialogicALawFile::StoreFrames(UInt32 frames, UInt32 frame)
{
    try {
        m_scratch.resize(frames);
    } catch (const std::bad_alloc&) {
        return kCouldNotCreatePointerErr;
    }
    for (std::size_t i = 0; i < frames; ++i)
        m_scratch[i] = m_companding.compress(SInt16(ReadBE16(m_writeBuffer + 2 * i)));
    return WriteFileFrames(m_scratch.data(), frames, frame);
}

UInt8 CDialogicALawFile::FileSilenceByte() const
{
    return m_companding.compress(0);
}

std::vector<SoundFileTypeDescriptor> CDialogicALawFile::Descriptors()
{
    // Both codes name the one class.
    return {{.type = FOUR_CHAR_CODE("DALW"), .factory = &MakeSoundFileNoThrow<CDialogicALawFile>},
            {.type = FOUR_CHAR_CODE("711a"), .factory = &MakeSoundFileNoThrow<CDialogicALawFile>}};
}
