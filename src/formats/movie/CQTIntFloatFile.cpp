#include "CQTIntFloatFile.h"

#include "MovieExporter.h"
#include "SoundFileFactories.h"

#include <algorithm>

CQTIntFloatFile::CQTIntFloatFile()
    : CQTMovieFile({FOUR_CHAR_CODE("QTIF"), "Integer/Float QuickTime Movie", "encoding to QuickTime Movie"})
{
}

OSErr CQTIntFloatFile::SetupForWriting(UInt16 channels, SInt16 wordLength, double sampleRate,
                                       const UInt8* fileTypeSpecifics)
{
    if (fileTypeSpecifics) {
        m_variant[0] = fileTypeSpecifics[0];
        m_variant[1] = fileTypeSpecifics[1];
    }
    const bool big = m_variant[0] == 'B';
    switch (wordLength) {
    case 8:
    case 16:
        m_requestedBits = wordLength;
        m_sampleFormat = 0;
        break;
    case 24:
        m_requestedBits = 24;
        m_sampleFormat = big ? 0 : 1;
        break;
    case 32:
        m_requestedBits = 32;
        if (m_variant[1] == 'I' && (big || m_variant[0] == 'L'))
            m_sampleFormat = big ? 0 : 1;
        else if (m_variant[1] == 'F' && (big || m_variant[0] == 'L'))
            m_sampleFormat = big ? 128 : 129;
        break;
    case 64:
        m_requestedBits = 64;
        m_sampleFormat = big ? 144 : 145;
        break;
    default:
        break;
    }
    m_intermediateBits = SInt16(std::min<int>(m_requestedBits, 32));
    return CQTMovieFile::SetupForWriting(channels, wordLength, sampleRate, fileTypeSpecifics);
}

OSErr CQTIntFloatFile::GetExportSettings(MovieExportSettings* settings)
{
    const bool narrow = m_requestedBits == 8 || m_requestedBits == 16;
    const OSErr err = LoadExportSettings(FOUR_CHAR_CODE("INAT"), narrow ? 0 : 1, settings);
    if (err != noErr)
        return err;
    const bool little = m_variant[0] == 'L';
    const bool floating = m_variant[1] == 'F';
    settings->sampleSize = UInt16(m_requestedBits);
    settings->littleEndian = false;
    switch (m_requestedBits) {
    case 8:
    case 16:
        settings->compression = FOUR_CHAR_CODE("raw ");
        break;
    case 24:
        settings->compression = FOUR_CHAR_CODE("in24");
        settings->littleEndian = little;
        break;
    case 32:
        settings->compression = floating ? FOUR_CHAR_CODE("fl32") : FOUR_CHAR_CODE("in32");
        settings->littleEndian = little;
        break;
    case 64:
        settings->compression = FOUR_CHAR_CODE("fl64");
        settings->littleEndian = little;
        break;
    default:
        break;
    }
    return noErr;
}

SoundFileTypeDescriptor CQTIntFloatFile::Descriptor()
{
    return {.type = FOUR_CHAR_CODE("QTIF"), .factory = &MakeSoundFile<CQTIntFloatFile>};
}
