#include "CQTMP3File.h"

#include "MovieFileTypes.h"
#include "MovieSource.h"
#include "SoundFileFactories.h"

CQTMP3File::CQTMP3File() : CQTMovieFile({FOUR_CHAR_CODE("Mp3 "), nullptr, nullptr}) {}

OSErr CQTMP3File::Open()
{
    const OSErr err = CQTMovieFile::Open();
    if (err == noErr && Source())
        m_frameHeader = Source()->FirstMPEGHeader();
    return err;
}

OSType CQTMP3File::GetMovieFileType() const
{
    return FOUR_CHAR_CODE("Mp3 ");
}

Boolean CQTMP3File::UseBitRate() const
{
    return true;
}

QString CQTMP3File::GetFormatName() const
{
    if (m_sampleRate < 16000)
        return QStringLiteral("MPEG-2.5 Layer III ('MP3')");
    if (m_sampleRate < 32000)
        return QStringLiteral("MPEG-2 Layer III ('MP3')");
    return QStringLiteral("MPEG-1 Layer III ('MP3')");
}

QString CQTMP3File::GetChannelDescription() const
{
    const UInt16 channels = GetNumChannels();
    if (channels == 1)
        return QStringLiteral("mono");
    if (channels == 2) {
        // An unknown header reads as stereo.
        switch ((m_frameHeader >> 6) & 3) {
        case 1: return QStringLiteral("joint stereo");
        case 2: return QStringLiteral("dual channel");
        default: return QStringLiteral("stereo");
        }
    }
    return QStringLiteral("multichannel");
}

SoundFileTypeDescriptor CQTMP3File::Descriptor()
{
    return {.type = FOUR_CHAR_CODE("Mp3 "), .factory = &MakeSoundFile<CQTMP3File>, .probe = &ProbeMP3};
}
