#include "MovieFileTypes.h"

#include "CQTAIFFImaFile.h"
#include "CQTCompressedMovieFile.h"
#include "CQTIntFloatFile.h"
#include "CQTMP3File.h"
#include "CQTMP4File.h"
#include "CQTMetaData.h"
#include "CQTMovieFile.h"
#include "CafFile.h"
#include "ContainerTraits.h"
#include "CreateSoundFile.h"
#include "ExtraInfoRegistry.h"
#include "MovieSource.h"
#include "plain_flac_head.h"
#include "SoundFileRegistry.h"
#include "SoundFileTypeDescriptor.h"

#include <QDateTime>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// One look at a file serves the three probes that detection asks in turn.
struct ProbeResult {
    std::string path;
    qint64 size = -1;
    QDateTime modified;
    SInt32 channels = 0;
    ContainerKind container = ContainerKind::Other;
    OSType dataFormat = 0;
};

const ProbeResult& ProbeFile(const QString& path)
{
    thread_local ProbeResult last;
    const std::string p = path.toStdString();
    const QFileInfo info(path);
    if (last.path != p || p.empty() || last.size != info.size() || last.modified != info.lastModified()) {
        last = ProbeResult();
        last.path = p;
        last.size = info.size();
        last.modified = info.lastModified();
        last.channels = MovieSource::Probe(p, &last.container, &last.dataFormat);
        // A FLAC file cut inside its metadata is still FLAC (its opening
        // says it is cut); its STREAMINFO's channels when that is whole.
        unsigned stated = 0;
        if (last.channels <= 0 && movie_input::FlacMetadataCut(p, &stated)) {
            last.channels = SInt32(std::max(stated, 1u));
            last.container = ContainerKind::Flac;
        }
    }
    return last;
}

void AddMovieMetadata(const std::string& path, QVariantMap* info)
{
    CQTMetaData::AddToInfo(path, info);
}

} // namespace

SInt32 ProbeMP3(const QString& path)
{
    const ProbeResult& r = ProbeFile(path);
    return r.container == ContainerKind::MpegAudio && r.dataFormat == FOUR_CHAR_CODE(".mp3") ? r.channels : 0;
}

SInt32 ProbeMP4(const QString& path)
{
    const ProbeResult& r = ProbeFile(path);
    return r.container == ContainerKind::QuickTime && r.dataFormat == FOUR_CHAR_CODE("aac ") ? r.channels : 0;
}

SInt32 ProbeMovie(const QString& path)
{
    return ProbeFile(path).channels;
}

bool IsGameMusic(const QString& path)
{
    // Only a file typed by its content is asked (the probe detection ran
    // is then at hand): one whose extension names a type is read as that
    // type, and asking would load the libraries for a native FLAC file.
    if (!GetTypesForExtension(QFileInfo(path).suffix().toLower()).isEmpty())
        return false;
    return ContainerTraits::Of(ProbeFile(path).container).endless;
}

void RegisterMovieFileTypes()
{
    // MP3 and MPEG-4 audio are asked before any other movie.
    std::vector<SoundFileTypeDescriptor> types = {CQTMP3File::Descriptor(), CQTMP4File::Descriptor(),
                                                  CQTMovieFile::Descriptor(), CafFile::Descriptor()};
    const std::vector<SoundFileTypeDescriptor> exports = CQTCompressedMovieFile::Descriptors();
    types.insert(types.end(), exports.begin(), exports.end());
    types.insert(types.end(), {CQTIntFloatFile::Descriptor(), CQTAIFFImaFile::Descriptor()});
    for (const SoundFileTypeDescriptor& type : types)
        RegisterSoundFileType(type);
    SetPlatformReadableExtensions({"aac", "ac3", "adts", "amr", "caf", "m4a", "m4b", "m4r", "mka", "mkv", "mov",
                                   "mp1", "mp2", "mp3", "mp4", "mpa", "oga", "opus", "rf64", "w64", "webm", "wma",
                                   "wmv"});
    RegisterExtraInfoReader(&AddMovieMetadata);
}
