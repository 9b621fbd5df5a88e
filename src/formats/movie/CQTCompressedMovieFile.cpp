#include "CQTCompressedMovieFile.h"

#include "MovieExporter.h"

struct CQTCompressedMovieFile::Kind {
    OSType type;
    const char* name;       // UTF-8
    OSType compression;
    SInt32 sampleFormat;
    const char* stepName;   // Latin-1 (the micro sign)
};

namespace {

constexpr CQTCompressedMovieFile::Kind kKinds[] = {
    {FOUR_CHAR_CODE("QTAL"), "A-law QuickTime Movie", FOUR_CHAR_CODE("alaw"), 32, "encoding to A-law Movie"},
    {FOUR_CHAR_CODE("QTUL"), "\xCE\xBC-law QuickTime Movie", FOUR_CHAR_CODE("ulaw"), 4, "encoding to \xB5-law Movie"},
    {FOUR_CHAR_CODE("QTIM"), "IMA 4:1 QuickTime Movie", FOUR_CHAR_CODE("ima4"), 63, "encoding to IMA 4:1 Movie"},
};

const CQTCompressedMovieFile::Kind* KindFor(OSType type)
{
    for (const CQTCompressedMovieFile::Kind& kind : kKinds)
        if (kind.type == type)
            return &kind;
    return &kKinds[0];
}

} // namespace

CQTCompressedMovieFile::CQTCompressedMovieFile(OSType type) : m_kind(KindFor(type)) {}

OSType CQTCompressedMovieFile::GetFileType() const
{
    return m_kind->type;
}

QString CQTCompressedMovieFile::GetFormatName() const
{
    return QString::fromUtf8(m_kind->name);
}

bool CQTCompressedMovieFile::Exports() const
{
    return true;
}

OSErr CQTCompressedMovieFile::SetupForWriting(UInt16 channels, SInt16 wordLength, double sampleRate,
                                              const UInt8* fileTypeSpecifics)
{
    const OSErr err = CQTMovieFile::SetupForWriting(channels, wordLength, sampleRate, fileTypeSpecifics);
    m_sampleFormat = m_kind->sampleFormat;
    return err;
}

OSErr CQTCompressedMovieFile::GetExportSettings(MovieExportSettings* settings)
{
    const OSErr err = LoadExportSettings(FOUR_CHAR_CODE("ULAT"), 0, settings);
    if (err != noErr)
        return err;
    settings->compression = m_kind->compression;
    settings->sampleSize = 16;
    return noErr;
}

QString CQTCompressedMovieFile::GetExportStepName() const
{
    return QString::fromLatin1(m_kind->stepName);
}
