// CQTMovieFile ('MooV'): every input that only the movie layer reads (movies
// with a sound track, MP3, MPEG-4 audio, FLAC, Ogg, AIFF-C with other
// compressions, Core Audio files ...) as linear audio: 24-bit samples, the
// channel configuration the file's channel layout gives (the channels are
// put into that configuration's order in memory; the file is never
// written), the frame count of a full decode, and the bit rate of the
// sound track's data.
//
// Reading runs block by block through the movie layer; a block that
// continues the previous one is decoded on, any other frame is reached by
// the layer's exact seek.  The batch never has to decode the file first
// (NeedsDecodingOnOpen is false).  Writing and export belong to the
// exporting subclasses; this class refuses them (Create: -22017, the block
// writers: unimpErr).
#pragma once

#include "CCodedFile.h"

#include <memory>
#include <string>
#include <vector>

class MovieSource;

class CQTMovieFile : public CCodedFile {
public:
    CQTMovieFile();
    ~CQTMovieFile() override;

    OSErr Open() override;
    OSErr Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                 ConstStr255Param nameExtension, float sampleRate) override;
    OSErr Close() override;
    OSErr ProbeHeader(SInt16* result) override;
    OSErr SetFilePos(UInt32 frame) override;
    OSErr SetBufferFrames(UInt32 frames) override;
    OSErr ReadBlock(UInt32 frame) override;
    OSErr PrepareWriteBlock(UInt32 frame) override;
    OSErr WriteBlock(UInt32 frames, UInt32 frame) override;
    Boolean IsFrameInReadBuffer(UInt32 frame) const override;
    OSType GetFileType() const override;
    QString GetFormatName() const override;
    std::string GetChannelName(UInt16 channel) const override;
    Boolean HasVideoTrack() const override;
    Boolean NeedsDecodingOnOpen() const override;
    Boolean PlaysUsingQT() const override;

    // Bytes of the sound track's data (of the whole file when the movie has
    // no sound track).
    virtual UInt64 GetDataSize() const;
    // Markers of the file (none here); an error code.
    virtual OSErr ReadMarkers();
    // The export component subtype of the class.
    virtual OSType GetMovieFileType() const;

    // The configuration a Core Audio layout tag gives, and the tag the
    // channels are put in for it (0: the file's order is kept).
    static SInt32 ConfigurationForLayoutTag(AudioChannelLayoutTag tag, AudioChannelLayoutTag* clientTag);

protected:
    // The movie layer's file, while open.
    MovieSource* Source() const { return m_source.get(); }
    OSType m_fileFormat = 0;   // Core Audio file-format code of the input
    OSType m_dataFormat = 0;   // data-format code of its sound track

private:
    OSErr FillBlock(UInt32 frame, UInt32 frames);

    std::unique_ptr<MovieSource> m_source;
    std::vector<SInt32> m_samples;        // the last frames decoded, per channel
    std::vector<SInt32*> m_channels;
    UInt64 m_samplesStart = 0;            // frame of m_samples' first frame
    UInt32 m_samplesCount = 0;
    bool m_hasVideo = false;
    UInt64 m_dataSize = 0;
};
