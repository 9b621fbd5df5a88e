#include "CQTCompressedMovieFile.h"
#include "MediaCodes.h"

#include "MovieExporter.h"

struct CQTCompressedMovieFile::Kind {
    Identity identity;
    OSType compression;
    SInt32 sampleFormat;
};

namespace {

constexpr CQTCompressedMovieFile::Kind kKinds[] = {
    {{FOUR_CHAR_CODE("QTAL"), "A-law QuickTime Movie", "encoding to A-law Movie"}, media_codes::kALaw, 32},
    {{FOUR_CHAR_CODE("QTUL"), "\xCE\xBC-law QuickTime Movie", "encoding to \xB5-law Movie"}, media_codes::kULaw, 4},
    {{FOUR_CHAR_CODE("QTIM"), "IMA 4:1 QuickTime Movie", "encoding to IMA 4:1 Movie"}, media_codes::kIMA4, 63},
};

const CQTCompressedMovieFile::Kind* KindFor(OSType type)
{
    for (const CQTCompressedMovieFile::Kind& kind : kKinds)
        if (kind.identity.fileType == type)
            return &kind;
    return &kKinds[0];
}

} // namespace

CQTCompressedMovieFile::CQTCompressedMovieFile(OSType type)
    : CQTMovieFile(KindFor(type)->identity), m_kind(KindFor(type))
{
}

OSErr CQTCompressedMovieFile::SetupForWriting(UInt16 channels, SInt16 wordLength, double sampleRate,
                                              const UInt8* fileTypeSpecifics)
{
    const OSErr err = CQTMovieFile::SetupForWriting(channels, wordLength, sampleRate, fileTypeSpecifics);
    m_sampleFormat = m_kind->sampleFormat;
    return err;
}

OSType CQTCompressedMovieFile::GetExportCompression() const
{
    return m_kind->compression;
}

OSErr CQTCompressedMovieFile::GetExportSettings(MovieExportSettings* settings)
{
    const OSErr err = LoadExportSettings(FOUR_CHAR_CODE("ULAT"), 0, settings);
    if (err != noErr)
        return err;
    settings->compression = GetExportCompression();
    settings->sampleSize = 16;
    return noErr;
}

namespace {

template <OSType Type>
CSoundFile* MakeExport()
{
    return new CQTCompressedMovieFile(Type);
}

} // namespace

std::vector<SoundFileTypeDescriptor> CQTCompressedMovieFile::Descriptors()
{
    // The exported outputs.  MACE, QDesign and PureVoice have no encoder
    // here: those types are not writable and have no class.
    return {{.type = FOUR_CHAR_CODE("QTAL"), .factory = &MakeExport<FOUR_CHAR_CODE("QTAL")>},
            {.type = FOUR_CHAR_CODE("QTUL"), .factory = &MakeExport<FOUR_CHAR_CODE("QTUL")>},
            {.type = FOUR_CHAR_CODE("QTIM"), .factory = &MakeExport<FOUR_CHAR_CODE("QTIM")>}};
}
