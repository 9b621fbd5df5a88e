// CQTMovieFile ('MooV'): every input that only the movie layer reads (movies
// with a sound track, MP3, MPEG-4 audio, FLAC, Ogg, AIFF-C with other
// compressions, Core Audio files ...) as linear audio: samples of a linear
// track's own word length (8 to 32 bits; 64-bit floats as 32), 24 bits for
// every other coding, the channel configuration the file's channel layout
// gives (the channels are put into that configuration's order in memory;
// the file is never written), the frame count of a full decode, and the bit
// rate of the sound track's data.
//
// Reading runs block by block through the movie layer; a block that
// continues the previous one is decoded on, any other frame is reached by
// the layer's exact seek.  The batch never has to decode the file first
// (NeedsDecodingOnOpen is false).
//
// Writing is the exporting subclasses' (Exports() true): while a conversion
// writes, the blocks go to a linear intermediate (format_type_codes::kTemp,
// an AIFF file beside the output under a unique temporary name of the one
// shape, made exclusively; held locked to the export's end); Close exports it
// through the movie layer into the output (reserved exclusively at Create)
// with the subclass's settings, posting progress and stopping on a cancel,
// then deletes the intermediate.  While it is written, the output reads
// back through its intermediate (the fades and the peak scan read what was
// written).  A failed, cancelled or discarded export
// leaves neither output nor intermediate, and its code (never 0) is
// returned.  This class itself refuses to be written (Create: -22017).
#pragma once

#include "CIntermediateCodedFile.h"
#include "error_codes.h"
#include "FileOperations.h"
#include "SoundFileTypeDescriptor.h"

#include <memory>
#include <string>
#include <vector>

class MovieSource;
struct MovieExportSettings;

class CQTMovieFile : public CIntermediateCodedFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    // What a subclass is: its type code, its format name (UTF-8; null: the
    // name this class gives a file) and, for a class that exports, the
    // export's progress step (Latin-1; null: no export).
    struct Identity {
        OSType fileType;
        const char* formatName;
        const char* exportStep;
    };

    CQTMovieFile();
    explicit CQTMovieFile(const Identity& identity);
    ~CQTMovieFile() override;

    OSErr Open() override;
    OSErr Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                 ConstStr255Param nameExtension, float sampleRate) override;
    OSErr Close() override;
    OSErr ProbeHeader(SInt16* result) override;
    OSErr SetFilePos(UInt32 frame) override;
    OSErr SetBufferFrames(UInt32 frames) override;
    // The shape of `source`; the export reads `source`'s file itself, which
    // this object never deletes.
    OSErr CreateLike(const CSoundFile* source, UInt16 numChannels, SInt16 numBits, UInt32 reserved,
                     const UInt8* fileTypeSpecifics, ConstStr255Param nameExtension, double sampleRate) override;
    Boolean IsFrameInReadBuffer(UInt32 frame) const override;
    bool GetRawSampleLayout(RawSampleLayout* layout) const override;
    OSErr ReadRawFrames(UInt32 frame, UInt8* data, UInt32* filled) override;
    OSErr ReadRawFramesAs(const RawSampleLayout& layout, UInt32 frame, UInt32 frames, UInt8* data, UInt32* filled,
                          bool* made) override;
    OSType GetFileType() const override;
    // What this class reads for every type without a reader of its own
    // keeps the type that writes what it is: a Core Audio file, MPEG
    // Layer I or II audio, MPEG audio in a Broadcast Wave file, a movie of
    // A-law, mu-law, IMA 4:1 or linear sound.
    OSType GetKeptFileType() const override;
    // A sound track of linear floats (a float CAF kept as CAF stays float).
    bool HoldsFloatSamples() const override;
    // The media libraries decode: the window is theirs too.
    void SetClipCountWindow(UInt32 from, UInt32 to) override;
    QString GetFormatName() const override;
    std::string GetChannelName(UInt16 channel) const override;
    Boolean HasVideoTrack() const override;
    Boolean NeedsDecodingOnOpen() const override;
    // True for a sound track in a perceptual coding: its bit rate is shown,
    // not a word size.
    Boolean UseBitRate() const override;

    // Bytes of the sound track's data (of the whole file when the movie has
    // no sound track).
    virtual UInt64 GetDataSize() const;
    // Markers of the file (none here); an error code.
    virtual OSErr ReadMarkers();
    // The export component subtype of the class.
    virtual OSType GetMovieFileType() const;

    // ---- writing (the exporting subclasses)
    // True for a class that exports (its identity names an export step).
    virtual bool Exports() const;
    // Keeps the output's shape and format parameters; the word length of
    // the intermediate becomes the object's (16 unless a subclass says).
    virtual OSErr SetupForWriting(UInt16 channels, SInt16 wordLength, double sampleRate,
                                  const UInt8* fileTypeSpecifics);
    // The export's settings: stored ones patched with this output's shape.
    virtual OSErr GetExportSettings(MovieExportSettings* settings);
    // Exports the intermediate into the output; an error code.
    virtual OSErr ExportMovie();
    // The progress step posted before the export.
    virtual QString GetExportStepName() const;
    // The export's compression ('ima4' ...; 0: the class's own settings
    // say): an IMA 4:1 export takes at most two channels.
    virtual OSType GetExportCompression() const;
    // Called after a successful export (markers of AIFF-C); an error code.
    virtual OSErr FinishExport();
    // Stored export settings of `resourceType` and `resourceID` from the
    // application's resource "MovieExportSettings.plist": -43 without it,
    // -192 (resNotFound) without the entry.
    static OSErr LoadExportSettings(OSType resourceType, SInt16 resourceID, MovieExportSettings* settings);

    // The configuration a Core Audio layout tag gives, and the tag the
    // channels are put in for it (0: the file's order is kept).
    static SInt32 ConfigurationForLayoutTag(AudioChannelLayoutTag tag, AudioChannelLayoutTag* clientTag);

protected:
    // The movie layer's file, while open.
    MovieSource* Source() const { return m_source.get(); }
    Identity m_identity;
    OSType m_fileFormat = 0;   // Core Audio file-format code of the input
    OSType m_dataFormat = 0;   // data-format code of its sound track
    bool m_floatSamples = false;  // its sound track holds linear floats

    // Bits of the intermediate (set by SetupForWriting).
    SInt16 m_intermediateBits = 16;

    // The export on the encode-on-close rules: the output is reserved
    // (made empty, exclusively) and set up for writing; the intermediate
    // is a temporary AIFF file (format_type_codes::kTemp) beside the output
    // with the output's layout; a discarded output is removed.
    OSErr ReadCodedBlock(UInt32 frame) override;
    OSErr CheckShape(UInt16 channels, double sampleRate) const override;
    OSErr CreateDataFile(UInt16 channels, double sampleRate, const UInt8* specifics) override;
    InnerLinearFile::Kind Intermediate() const override;
    OSErr EncodeOutput() override;
    bool RemovesUnencodedOutput() const override;
    OSErr CloseDataFile() override;

private:
    OSErr FillBlock(UInt32 frame, UInt32 frames);
    OSErr DecodeFrames(UInt32 frame, UInt32 limit, const RawSampleLayout& shape, bool round, UInt8* data, UInt32* have,
                       bool* exact);
    RawSampleLayout HeldWords() const;
    void HoldForTest() const;
    // The name of a file whose extension gives none (`prefix`: its
    // configuration's).
    QString NameByContent(const QString& prefix) const;

    SInt16 m_requestedWordLength = 0;     // the word length Create was given

    std::shared_ptr<MovieSource> m_source;
    std::vector<SInt32> m_samples;        // the last frames decoded, per channel
    std::vector<SInt32*> m_channels;
    std::vector<SInt32*> m_readAt;        // where the next decoded frames go, per channel
    UInt64 m_samplesStart = 0;            // frame of m_samples' first frame
    UInt32 m_samplesCount = 0;
    bool m_hasVideo = false;
    UInt64 m_dataSize = 0;
    // Held from the output's reservation, and the intermediate's end, to
    // the export's end, as every file of ours is while it is written.
    FileLockHolder m_outputLock;
    FileLockHolder m_intermediateLock;
};
