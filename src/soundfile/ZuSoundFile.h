// ZuSoundFile: one entry of the input list as the lists, the information
// view, the batch and playback see it: a sound file, a folder, or a split
// stereo / split multichannel set that type detection grouped under the
// path of one of its members.
//
// Making a model examines the path at once, on the calling thread: folder
// or file, type detection with set grouping, then one open of the file
// through the CSoundFile class of its type to copy the numbers the lists
// show (shape, length, regions, markers, loops, bit rate, time stamp,
// channel layout, specifics), and a close.  The model keeps that (closed)
// CSoundFile and hands out fresh, unopened ones for conversion or playback
// (createSoundFile).
//
// Threads.  A model is complete when its constructor returns: nothing
// examines it again, so a worker thread makes it and only then hands it to
// other threads (ZuSoundFileQueue does that hand-off).  Afterwards its
// examined fields are only read.  The few things computed on first use
// (the file-system attributes, the extra information) are locked, and
// infoAvailable is synchronised, so any thread may read a published model.
// The setters exist for unarchiving and for the thread that owns a model
// before it publishes it.
//
// What a model shows in the user's language (the texts "Folder" and the
// reasons a file cannot be read, its icon, dates and sizes) comes from the
// installed ZuSoundFileDisplay.
#pragma once

#include "CSoundFile.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class ZuSoundFile {
public:
    // initWithPath: examines `path` (UTF-8 text of a POSIX path).  Never
    // fails: a path that does not exist or cannot be read gives a model that
    // is not playable.
    explicit ZuSoundFile(const QString& path);
    ~ZuSoundFile();
    ZuSoundFile(const ZuSoundFile&) = delete;
    ZuSoundFile& operator=(const ZuSoundFile&) = delete;

    static std::shared_ptr<ZuSoundFile> soundFileWithPath(const QString& path);
    // Null when the reference no longer leads to a path.
    static std::shared_ptr<ZuSoundFile> soundFileWithFSRef(const FSRef& ref);
    // A new model of the same path; it examines the file again.
    std::shared_ptr<ZuSoundFile> copy() const;

    // Archiving: the fields "path", "info", "size", "icon", "descriptor",
    // "lengthStr", "deepCount", "isDirectory", "isPlayable", "hfsCreator",
    // "hfsFileType", "numChannels", "numRegions", "numBits", "sampleRate",
    // "numFrames" under their own names.  Unarchiving does not examine the
    // file.
    QVariantMap encode() const;
    static std::shared_ptr<ZuSoundFile> decode(const QVariantMap& archive);

    // A new, unopened CSoundFile of the input (its path, or the member list
    // for split and surround sets), owned by the caller; null for folders
    // and on failure, with the error in *error (0 when nothing could be
    // made without an error, as for folders).  `error` may be null.
    CSoundFile* createSoundFile(OSErr* error) const;

    // ------------------------------------------------------------ fields
    const QString& path() const { return m_path; }
    const QString& info() const { return m_info; }
    // Bytes on disk; none for folders and missing paths.
    std::optional<uint64_t> size() const { return m_size; }
    const QVariant& icon() const { return m_icon; }
    // The file-type column: the format name, "Folder", or why the file
    // cannot be read; null when there is nothing to show.
    const QString& descriptor() const { return m_descriptor; }
    const QString& lengthStr() const { return m_lengthStr; }
    const QString& timestamps() const { return m_timestamps; }
    // How its length and losses were judged (CSoundFile::VerdictLines).
    const std::vector<std::string>& verdictLines() const { return m_verdictLines; }
    int deepCount() const { return m_deepCount; }
    bool isDirectory() const { return m_isDirectory; }
    bool isPlayable() const { return m_isPlayable; }
    OSType hfsFileType() const { return m_hfsFileType; }
    OSType hfsCreator() const { return m_hfsCreator; }
    OSType hfsRealType() const { return m_hfsRealType; }
    UInt16 numChannels() const { return m_numChannels; }
    UInt32 numRegions() const { return m_numRegions; }
    UInt32 numMarkers() const { return m_numMarkers; }
    UInt32 numLoops() const { return m_numLoops; }
    UInt16 numBits() const { return m_numBits; }
    double sampleRate() const { return m_sampleRate; }
    // The rate is the raw-file settings' (CSoundFile::RateFromRawSettings).
    bool rateFromRawSettings() const { return m_rateFromRawSettings; }
    UInt32 numFrames() const { return m_numFrames; }
    UInt16 bitRate() const { return m_bitRate; }
    const QString& tempFilePath() const { return m_tempFilePath; }
    float varispeed() const { return m_varispeed; }
    bool needsDecodingOnOpen() const { return m_needsDecodingOnOpen; }
    bool needsEncodingOnClose() const { return m_needsEncodingOnClose; }
    const QVariantMap& specifics() const { return m_specifics; }
    bool useBitRate() const { return m_useBitRate; }
    bool isCBR() const { return m_isCBR; }
    const QString& channelDescription() const { return m_channelDescription; }
    // Member paths of a split or surround set (empty for single files).
    const std::vector<std::string>& surround_set() const { return m_surroundSet; }
    const QString& surroundSetName() const { return m_surroundSetName; }
    SInt16 dataType() const { return m_dataType; }
    bool hasVideoTrack() const { return m_hasVideoTrack; }
    SInt32 channelConfiguration() const { return m_channelConfiguration; }
    // The (closed) sound file the examination opened; null when none.
    CSoundFile* soundFile() const { return m_soundFile.get(); }

    // The error that made the file unreadable (detection or opening), 0
    // when there was none.  -23015 marks the right-hand member of a split
    // pair met on its own.
    OSErr errorCode() const { return m_errorCode; }
    bool isRightSideOfSplit() const;

    void setPath(const QString& path) { m_path = path; }
    void setInfo(const QString& info) { m_info = info; }
    void setSize(std::optional<uint64_t> size) { m_size = size; }
    void setIcon(const QVariant& icon) { m_icon = icon; }
    void setDescriptor(const QString& descriptor) { m_descriptor = descriptor; }
    void setLengthStr(const QString& text) { m_lengthStr = text; }
    void setTimestamps(const QString& text) { m_timestamps = text; }
    void setDeepCount(int count) { m_deepCount = count; }
    void setIsDirectory(bool flag) { m_isDirectory = flag; }
    void setIsPlayable(bool flag) { m_isPlayable = flag; }
    void setHfsFileType(OSType type) { m_hfsFileType = type; }
    void setHfsCreator(OSType creator) { m_hfsCreator = creator; }
    void setNumChannels(UInt16 channels) { m_numChannels = channels; }
    void setNumRegions(UInt32 regions) { m_numRegions = regions; }
    void setNumBits(UInt16 bits) { m_numBits = bits; }
    void setSampleRate(double rate) { m_sampleRate = rate; }
    void setNumFrames(UInt32 frames) { m_numFrames = frames; }
    void setBitRate(UInt16 rate) { m_bitRate = rate; }
    void setTempFilePath(const QString& path) { m_tempFilePath = path; }
    void setVarispeed(float speed) { m_varispeed = speed; }
    void setSpecifics(const QVariantMap& specifics) { m_specifics = specifics; }
    void setChannelDescription(const QString& text) { m_channelDescription = text; }
    void setSurroundSetName(const QString& name) { m_surroundSetName = name; }

    // ---------------------------------------------------------- computed
    // The sound file's own name when there is one, else the path's last
    // component.
    QString name() const;
    bool isSplit() const;
    QList<ZuRegion> regions() const;
    QList<ZuMarker> markers() const;
    QList<ZuLoop> loops() const;
    // False (and *asbd untouched) without a stored sound file.
    bool getAudioStreamBasicDescription(AudioStreamBasicDescription* asbd) const;
    // The sound file's metadata, fetched once; empty without a sound file.
    QVariantMap extraInfo() const;

    // The file system's attributes of the path (links followed), fetched
    // on first use: "creationDate", "modificationDate" (QDateTime),
    // "owner", "group" (account names), "posixPermissions" (the low twelve
    // mode bits), "size" (bytes), "hfsTypeCode" (the HFS type, 0 without).
    QVariantMap attributes() const;
    QDateTime creationDate() const;
    QDateTime modificationDate() const;
    QString owner() const;
    QString group() const;

    // True once the examination read the file successfully.
    bool infoAvailable() const;
    void setInfoAvailable(bool available);

    // Sets the descriptor to the format name of `file` (null: none).
    void infoStringForSoundFile(const CSoundFile* file);
    QString description() const;

    // ------------------------------------------------------ display texts
    QString displaySize() const;
    QString displaySampleRate() const;
    QString displayChannels() const;
    QString displayWordSize() const;
    QString displayBits() const;
    QString displayBitRate() const;
    QString displayRegions() const;
    QString displayMarkers() const;
    QString displayLoops() const;
    QString displayHFSType() const;
    QString displayHFSCreator() const;
    QString displayCreationDate() const;
    QString displayModificationDate() const;
    QString displayPermissions() const;
    // Any display reader (and the plain texts "path", "name", "descriptor",
    // "lengthStr", "timestamps") by its name, as the information view asks
    // for them; a null string for an unknown name.
    QString displayValueForKey(const QString& key) const;

    // "%02d:%02d:%06.3f" (hours, minutes, seconds) of `frames` at `rate`.
    static QString timeText(double frames, double rate);

    // ----------------------------------------------------------- sorting
    // -1, 0 or 1 by the class-wide sort key and direction ("filename",
    // "playable", "size", "fileType", "sampleRate", "channels", "bits",
    // "length", "regions", "timestamps"; any other key: 0, or -1 / 1 when
    // `other` / this is null).
    int compare(const ZuSoundFile* other) const;
    static QString sortKey();
    static void setSortKey(const QString& key);
    static bool ascendingSort();
    static void setAscendingSort(bool ascending);

private:
    struct Unexamined {};
    explicit ZuSoundFile(Unexamined);

    void setupWithPath(const QString& path);
    void getInfo();
    // The word size the lists show (4 for ADPCM, 8 for the 8-bit codecs).
    unsigned shownWordSize() const;
    void loadAttributes() const;

    struct SoundFileCloser {
        void operator()(CSoundFile* file) const;
    };

    std::unique_ptr<CSoundFile, SoundFileCloser> m_soundFile;
    QString m_path;
    QString m_info;
    std::optional<uint64_t> m_size;
    QVariant m_icon;
    QString m_descriptor;
    QString m_lengthStr;
    QString m_timestamps;
    std::vector<std::string> m_verdictLines;
    int m_deepCount = 0;
    bool m_isDirectory = false;
    bool m_isPlayable = false;
    OSType m_hfsFileType = 0;
    OSType m_hfsCreator = 0;
    OSType m_hfsRealType = 0;
    UInt16 m_numChannels = 0;
    UInt32 m_numRegions = 0;
    UInt32 m_numMarkers = 0;
    UInt32 m_numLoops = 0;
    UInt16 m_numBits = 0;
    double m_sampleRate = 0.0;
    bool m_rateFromRawSettings = false;
    UInt32 m_numFrames = 0;
    UInt16 m_bitRate = 0;
    QString m_tempFilePath;
    float m_varispeed = 1.0f;
    bool m_needsDecodingOnOpen = false;
    bool m_needsEncodingOnClose = false;
    QVariantMap m_specifics;
    bool m_useBitRate = false;
    bool m_isCBR = true;
    QString m_channelDescription;
    std::vector<std::string> m_surroundSet;
    QString m_surroundSetName;
    SInt16 m_dataType = 0;
    bool m_hasVideoTrack = false;
    SInt32 m_channelConfiguration = 0;
    OSErr m_errorCode = 0;

    // Computed on first use, under m_lazyMutex.
    mutable std::mutex m_lazyMutex;
    mutable bool m_attributesLoaded = false;
    mutable QVariantMap m_attributes;
    mutable bool m_extraInfoLoaded = false;
    mutable QVariantMap m_extraInfo;

    // infoAvailable: set last, with release order, so that a reader that
    // sees it also sees every field it covers.
    std::atomic<bool> m_infoAvailable{false};
};
