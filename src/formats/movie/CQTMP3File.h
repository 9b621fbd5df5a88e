// CQTMP3File ('Mp3 '): MP3 input through the movie layer, named by its
// MPEG version and described by its channel mode (from the first MPEG
// audio frame header of the file).  It has no export.
#pragma once

#include "CQTMovieFile.h"
#include "SoundFileTypeDescriptor.h"

class CQTMP3File : public CQTMovieFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    CQTMP3File();
    OSErr Open() override;
    OSType GetMovieFileType() const override;
    Boolean UseBitRate() const override;
    QString GetFormatName() const override;
    QString GetChannelDescription() const override;

private:
    UInt32 m_frameHeader = 0;
};
